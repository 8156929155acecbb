#include "status/status_readout.h"

#include <cmath>

#include "common/number_text.h"
#include "planning/derived_labels.h"
#include "planning/output2_list.h"

namespace quarvel {

ReadoutNumbers readoutNumbers(const DeviceStatus& s) {
    ReadoutNumbers numbers;
    numbers.out1Hz = outputFrequency(s.gps, s.n31, s.n2ls, s.n2hs, s.n1hs, s.nc1ls);
    numbers.f3Hz = f3Hertz(s.gps, s.n31);
    numbers.foscGHz = foscGigahertz(s.gps, s.n31, s.n2hs, s.n2ls);
    // The window lists output 2 from the output 1 text, so the list starts from that value.
    const double out1Shown =
        parseNumber(formatNumber(numbers.out1Hz, QLocale::c()), QLocale::c()).value_or(NAN);
    // The entry the readout selects: the last of its list, which ends at NC2_LS.
    if (const auto i = readoutOut2Count(s.nc2ls))
        numbers.out2Hz = out2Frequency(out1Shown, s.nc1ls, *i);
    return numbers;
}

}  // namespace quarvel
