#pragma once
// One simulated clock generator: what the hardware remembers and answers, without any notion
// of how the tool reaches it. The simulated bus (the HID seam in-process) and the emulated
// hidraw node (the kernel's file interface) are two transports over this one model, so both
// behave alike.
//
// Device behaviour worth knowing when writing a test:
// - Feature reports are accepted when 1 <= length <= the feature length and byte 0 is report
//   ID 0. A command is applied only when the frame covers its payload (command 4 needs 21
//   bytes); shorter frames are recorded but change nothing. A status read copies at most
//   min(span, feature length) bytes and leaves the rest of the span as it was.
// - Input reports: byte 1 signal-loss count, byte 2 bit 0 no GPS, bit 1 PLL not locked. At
//   most min(span, input length) bytes are written; the rest of the span is left alone.
//   Queued reports are read first in either input mode; when none is queued, an
//   always-waiting device answers with its current state and a queued one fails the read.
//   The queue holds at most kInputQueueLimit reports and then drops the newest, like the
//   kernel's hidraw queue (one queue per device: the tool reads from one handle).
// - The PLL reports unlocked from a frequency plan until relockTime later, and after that
//   until GPS is present; losing GPS later does not unlock it by itself.
// - Replugging keeps the settings (the firmware keeps its memory) and empties the input queue.

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/plan_table.h"
#include "device/device_text.h"

namespace quarvel {

enum class InputMode {
    AlwaysWaiting,  // every read finds a report with the current state
    Queued,         // a read finds only what was queued (on demand or by period)
};

constexpr std::uint32_t tableFallback(PlanField field) {
    return static_cast<std::uint32_t>(planRow(field).fallback);
}

// A frequency plan in plain numbers; the device stores it in the report encoding (dividers
// minus 1 or minus 4, three-byte little-endian fields), which the model reads on its own. It
// ships with the plan the fields fall back to.
struct SimPlan {
    std::uint32_t gps = tableFallback(PlanField::GPS);
    std::uint32_t n31 = tableFallback(PlanField::N31);
    std::uint32_t n2Hs = tableFallback(PlanField::N2_HS);
    std::uint32_t n2Ls = tableFallback(PlanField::N2_LS);
    std::uint32_t n1Hs = tableFallback(PlanField::N1_HS);
    std::uint32_t nc1Ls = tableFallback(PlanField::NC1_LS);
    std::uint32_t nc2Ls = tableFallback(PlanField::NC2_LS);
    std::uint8_t phaseStep = 0;
    std::uint8_t bandwidth = 6;

    bool operator==(const SimPlan&) const = default;
};

// Status report bytes 0..21 (byte 0 the report ID); what a status request returns at most,
// beyond which the device sends zeros.
inline constexpr std::size_t kStatusBytes = 22;
// Upload bytes 2..20 of command 4 = status bytes 3..21.
inline constexpr std::size_t kPlanBytes = 19;
// Input reports a device holds; when full it drops the newest, as the kernel does.
inline constexpr std::size_t kInputQueueLimit = 64;

std::array<std::uint8_t, kPlanBytes> encodePlan(const SimPlan& plan);
SimPlan decodePlan(std::span<const std::uint8_t, kPlanBytes> bytes);

// The bandwidth the device starts with: 6 when the serial's second character (low byte of the
// code unit, as the tool reads it) is '1', '3' or '5', otherwise 15.
std::uint8_t defaultBandwidth(std::u16string_view serialNumber);

// The running plan a device ships with, bandwidth chosen from the serial number.
SimPlan defaultPlan(std::u16string_view serialNumber);

// "<serial> <hex bytes separated by spaces>", upper-case hex, serial as UTF-8 (a lone
// surrogate becomes U+FFFD). Just the serial when there are no bytes.
std::string formatFeatureReportLine(std::u16string_view serialNumber,
                                    std::span<const std::uint8_t> bytes);
std::string toUtf8(std::u16string_view units);

struct SimDeviceConfig {
    std::u16string serialNumber = u"01234567";
    std::u16string manufacturer = u"Quarvel";
    std::u16string product = u"GPS Clock Generator";
    std::uint16_t releaseNumber = 0x0102;
    std::uint16_t vendorId = kVendorId;
    std::uint16_t productId = kProductId;
    // Report lengths, report ID byte included; negative values count as 0.
    int inputReportLength = 65;
    int outputReportLength = 0;
    int featureReportLength = 64;
    bool plugged = true;
    bool refusesOpen = false;       // open() fails with "Permission denied"
    std::optional<SimPlan> plan{};  // empty: defaultPlan(serialNumber)
    std::uint8_t outputEnable = 3;
    std::uint8_t driveStrength = 3;
    bool gpsSignal = true;
    bool pllLocked = true;
    std::uint8_t signalLossCount = 0;
    InputMode inputMode = InputMode::AlwaysWaiting;
    // In Queued mode, a report is queued every period of the sim's clock (0: only on demand).
    std::chrono::milliseconds inputPeriod{0};
    // How long the PLL reports unlocked after a frequency plan.
    std::chrono::milliseconds relockTime{1000};
};

class SimDevice {
  public:
    using TimePoint = std::chrono::steady_clock::time_point;

    SimDevice(SimDeviceConfig config, TimePoint now);

    const SimDeviceConfig& config() const { return config_; }
    SimDeviceConfig& config() { return config_; }
    std::size_t inputLength() const;
    std::size_t featureLength() const;

    // --- Reports, as the device answers them ---
    bool receiveFeature(std::span<const std::uint8_t> frame, TimePoint now);
    bool sendStatus(std::span<std::uint8_t> frame);
    bool sendInput(std::span<std::uint8_t> frame, TimePoint now);

    // --- Plugging ---
    bool plugged() const { return plugged_; }
    std::uint64_t generation() const { return generation_; }  // bumped by every unplug
    void unplug();
    void plug(TimePoint now);

    // --- What it received ---
    const std::vector<std::vector<std::uint8_t>>& received() const { return received_; }
    void clearReceived() { received_.clear(); }
    std::size_t statusServed() const { return statusServed_; }
    std::size_t commandCount(std::uint8_t code) const { return commands_[code]; }
    std::uint8_t identify() const { return identify_; }
    std::optional<std::uint8_t> registerValue(std::uint8_t address) const;

    // --- State ---
    const std::vector<std::uint8_t>& status() const { return status_; }
    void setStatus(std::span<const std::uint8_t> bytes);
    SimPlan plan() const;
    void setPlan(const SimPlan& plan);
    std::uint8_t& outputEnable() { return status_[1]; }
    std::uint8_t& driveStrength() { return status_[2]; }
    void setGpsSignal(bool present, TimePoint now);  // a loss counts once
    bool gpsSignal() const { return gps_; }
    void countSignalLoss() { ++lossCount_; }  // wraps from 255 to 0
    std::uint8_t signalLossCount() const { return lossCount_; }
    void setPllLocked(bool locked);  // also ends a pending relock
    bool pllLockedAt(TimePoint time) const;

    // --- Input reports ---
    InputMode inputMode() const { return inputMode_; }
    void setInputMode(InputMode mode) { inputMode_ = mode; }
    void setInputPeriod(std::chrono::milliseconds period, TimePoint now);
    void queueState(TimePoint now);
    void queueRaw(std::vector<std::uint8_t> bytes);  // sent as given, short stays short
    std::size_t queued(TimePoint now);               // also queues what the period has due
    std::vector<std::uint8_t> currentInputReport(TimePoint now) const;

  private:
    struct QueuedInput {
        std::vector<std::uint8_t> bytes;
        bool padToLength = false;  // a state report: zeros up to the input length
    };

    void settle(TimePoint now);
    std::uint8_t statusBits(TimePoint time) const;
    void queueDue(TimePoint now);
    void push(QueuedInput input);
    void apply(std::span<const std::uint8_t> frame, TimePoint now);

    SimDeviceConfig config_;
    bool plugged_ = true;
    std::uint64_t generation_ = 0;
    std::vector<std::uint8_t> status_;
    bool gps_ = true;
    bool pllLocked_ = true;
    std::optional<TimePoint> relockAt_;
    std::uint8_t lossCount_ = 0;
    InputMode inputMode_ = InputMode::AlwaysWaiting;
    std::chrono::nanoseconds inputPeriod_{0};
    TimePoint lastEmission_{};
    std::deque<QueuedInput> inputQueue_;
    std::vector<std::vector<std::uint8_t>> received_;
    std::size_t statusServed_ = 0;
    std::array<std::size_t, 256> commands_{};
    std::uint8_t identify_ = 0;
    std::map<std::uint8_t, std::uint8_t> registers_;
};

}  // namespace quarvel
