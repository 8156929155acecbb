// The status feature report and the input report are whatever the device sends: any length,
// any content. The decoded values must stay within what the encoding can express, and the
// release text must read back as the release it came from.

#include <QLocale>
#include <QString>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <vector>

#include "common/number_text.h"
#include "device/device_text.h"
#include "device/probe_report.h"
#include "status/status_report.h"

namespace {

using namespace quarvel;

void require(bool ok, const char* what) {
    if (ok) return;
    std::fprintf(stderr, "status report: %s\n", what);
    std::abort();
}

bool within(double value, double low, double high) {
    return value >= low && value <= high;
}

constexpr double kThreeBytes = 16777215;  // largest three-byte field

bool sameStatus(const DeviceStatus& a, const DeviceStatus& b) {
    return a.output1 == b.output1 && a.output2 == b.output2 && a.driveStrength == b.driveStrength &&
           a.plan == b.plan;
}

void checkStatus(std::span<const std::uint8_t> frame) {
    const auto status = decodeStatusReport(frame);
    require(status.has_value() == (frame.size() >= kStatusReportBytes), "length rule");
    if (!status) return;
    require(status->output1 == ((frame[1] & 1) != 0) && status->output2 == ((frame[1] & 2) != 0),
            "enable bits");
    require(within(status->driveStrength, 0, 3), "drive strength");
    // Each field within what its bytes can carry, plus its bias.
    for (const PlanFieldRow& f : kPlanTable) {
        const double largest = f.width == 1 ? 255 : kThreeBytes;
        require(within(status->plan[f.field], f.bias, largest + f.bias), f.name.data());
    }
    // Bytes past the frame's 22 are ignored.
    require(sameStatus(*decodeStatusReport(frame.first(kStatusReportBytes)), *status),
            "trailing bytes");
}

void checkInput(std::span<const std::uint8_t> frame) {
    const LockState state = decodeInputReport(frame);
    require(within(state.signalLossCount, 0, 255), "signal-loss count");
    // A short report reads as if zero-padded.
    std::array<std::uint8_t, 3> padded{};
    for (std::size_t i = 0; i < padded.size() && i < frame.size(); ++i) padded[i] = frame[i];
    const LockState fromPadded = decodeInputReport(padded);
    require(state.signalLossCount == fromPadded.signalLossCount &&
                state.noGpsSignal == fromPadded.noGpsSignal &&
                state.pllNotLocked == fromPadded.pllNotLocked,
            "short input report");
}

void checkRelease(std::uint16_t release) {
    static const std::array<QLocale, 3> locales{QLocale::c(),
                                                QLocale(QLocale::English, QLocale::UnitedStates),
                                                QLocale(QLocale::German, QLocale::Germany)};
    const int value = static_cast<std::int16_t>(release);
    for (const QLocale& locale : locales) {
        const QString text = releaseText(release, locale);
        require(text.startsWith(QLatin1Char(' ')), "leading blank");
        const qsizetype dot = text.lastIndexOf(QLatin1Char('.'));
        require(dot > 1, "no dot");
        const auto major = parseNumber(text.mid(1, dot - 1), locale);
        const QString minorText = text.mid(dot + 1);
        bool ok = false;
        const int minor = minorText.toInt(&ok, 16);
        require(major.has_value() && ok && minorText == minorText.toUpper(), "unreadable");
        require(within(minor, 0, 255) && *major * 256 + minor == value, "wrong release");
    }
    // The probe tool shows the same text without the blank.
    require(releaseText(release, QLocale::c()).mid(1).toStdString() == formatRelease(release),
            "probe tool and window disagree");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> frame(data, size);
    checkStatus(frame);
    checkInput(frame);
    if (size >= 2) checkRelease(static_cast<std::uint16_t>(data[0] | data[1] << 8));
    return 0;
}
