#include "status/status_readout.h"

#include <cmath>
#include <vector>

#include "common/number_text.h"
#include "planning/derived_labels.h"
#include "planning/output2_list.h"

namespace quarvel {

ReadoutNumbers readoutNumbers(const DeviceStatus& s) {
    ReadoutNumbers numbers;
    numbers.out1Hz = outputFrequency(s.gps, s.n31, s.n2ls, s.n2hs, s.n1hs, s.nc1ls);
    numbers.f3Hz = std::floor(s.gps / s.n31);
    numbers.foscGHz = foscGigahertz(s.gps, s.n31, s.n2hs, s.n2ls);
    // The window lists output 2 from the output 1 text, so the list starts from that value.
    const double out1Shown =
        parseNumber(formatNumber(numbers.out1Hz, QLocale::c()), QLocale::c()).value_or(NAN);
    const std::vector<double> entries = readoutOut2Frequencies(out1Shown, s.nc1ls, s.nc2ls);
    if (const auto selected = out2Selection(s.nc2ls, static_cast<int>(entries.size()))) {
        numbers.out2Hz = entries[static_cast<std::size_t>(*selected)];
    }
    return numbers;
}

}  // namespace quarvel
