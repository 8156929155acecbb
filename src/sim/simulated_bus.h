#pragma once
// A bus of simulated clock generators behind the HID seam. Every test of the tool and the demo
// reach a device only through this class, so it behaves like the hardware as far as the tool
// can see: status mirrors the commands received, input reports carry the lock state, and the
// PLL needs a moment to lock after a new frequency plan. It is deterministic: time comes from
// an injectable clock, and faults and unplugs happen exactly when a test asks for them.
//
// The device model (what a generator remembers and answers) is SimDevice; this class is its
// in-process transport: handles, injected faults, call counts and hooks.
// - A handle belongs to one plug-in of a device. After unplug() every call on it fails, also
//   after plug() again (the hardware re-enumerates; the tool must reopen). close() still
//   releases it. Reads work on handles of either open mode.
// - Each seam call on a device first counts itself, then runs the call hook, then consumes one
//   injected fault of its kind (if any), and only then looks at plug state and the rest.

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "device/hid_backend.h"
#include "sim/sim_device.h"

namespace quarvel {

// Index of a simulated device, in the order devices were added (0, 1, 2, ...).
using DeviceId = std::size_t;

// The seam calls that concern a device, for the call hook, call counts and fault injection.
enum class SimCall {
    Open,
    Close,  // never fails for a handle that exists; injected faults are ignored
    Attributes,
    ManufacturerString,
    ProductString,
    SerialNumberString,
    ReportLengths,
    GetFeature,
    SetFeature,
    ReadInput,
};
inline constexpr std::size_t kSimCallKinds = 10;

class SimulatedBus final : public HidBackend {
  public:
    using TimePoint = std::chrono::steady_clock::time_point;
    using Clock = std::function<TimePoint()>;
    using CallHook = std::function<void(SimCall call, DeviceId device)>;
    using FeatureReportObserver =
        std::function<void(const std::u16string& serialNumber, std::span<const std::uint8_t>)>;

    // Fault count that never runs out.
    static constexpr std::size_t kAlways = static_cast<std::size_t>(-1);
    static constexpr std::size_t kInputQueueLimit = quarvel::kInputQueueLimit;

    SimulatedBus();

    // --- The seam ---
    std::vector<HidInterface> enumerate() override;
    std::optional<HidHandleId> open(const std::string& path, OpenMode mode) override;
    bool close(HidHandleId handle) override;
    std::optional<HidAttributes> attributes(HidHandleId handle) override;
    std::optional<std::u16string> string(HidHandleId handle, HidString which,
                                         std::size_t maxUnits) override;
    std::optional<ReportLengths> reportLengths(HidHandleId handle) override;
    bool setFeature(HidHandleId handle, std::span<const std::uint8_t> frame) override;
    bool getFeature(HidHandleId handle, std::span<std::uint8_t> frame) override;
    bool readInput(HidHandleId handle, std::span<std::uint8_t> frame) override;
    std::string errorText() const override;
    std::string startFailure() const override { return startFailure_; }

    // --- Devices ---
    DeviceId addDevice(SimDeviceConfig config = {});
    std::size_t deviceCount() const { return devices_.size(); }
    std::string path(DeviceId device) const;  // "sim:<id>"; empty for an unknown id
    std::optional<DeviceId> deviceAt(std::string_view path) const;
    void unplug(DeviceId device);
    void plug(DeviceId device);
    bool isPlugged(DeviceId device) const;
    void setRefusesOpen(DeviceId device, bool refuses);
    // A HID layer that could not start (for this reason) and so lists nothing.
    void setStartFailure(std::string reason) { startFailure_ = std::move(reason); }

    // --- Time ---
    void setClock(Clock clock);  // an empty clock restores the real steady clock
    TimePoint now() const;

    // --- Test instruments ---
    void setCallHook(CallHook hook);  // not run for seam calls made from inside the hook
    void setFeatureReportObserver(FeatureReportObserver observer);
    void failNext(DeviceId device, SimCall call, std::size_t count = 1);
    std::size_t pendingFaults(DeviceId device, SimCall call) const;
    std::size_t callCount(DeviceId device, SimCall call) const;
    std::size_t enumerations() const { return enumerations_; }

    // Every feature report the device accepted, full frames in order.
    std::vector<std::vector<std::uint8_t>> featureReports(DeviceId device) const;
    void clearFeatureReports(DeviceId device);
    std::size_t statusRequestsServed(DeviceId device) const;
    // Accepted feature reports with this command code in byte 1.
    std::size_t commandCount(DeviceId device, std::uint8_t code) const;

    // Handle accounting over the whole bus.
    std::size_t openHandles() const { return handles_.size(); }
    std::size_t openHandles(DeviceId device) const;
    std::size_t totalOpened() const { return totalOpened_; }
    std::size_t totalClosed() const { return totalClosed_; }
    std::size_t badCloses() const { return badCloses_; }  // unknown or already closed handles
    // For another transport over the same devices: which device a handle is on, and whether
    // it still reaches it (not closed, not from before an unplug). Neither counts as a call.
    std::optional<DeviceId> deviceOf(HidHandleId handle) const;
    bool reachesDevice(HidHandleId handle) const;
    const SimDevice* device(DeviceId device) const;

    // --- Device state ---
    std::vector<std::uint8_t> statusBytes(DeviceId device) const;  // at least kStatusBytes
    // Raw status frame, byte 0 included; shorter than kStatusBytes is padded with zeros.
    // Later commands overwrite bytes 1..21 as usual.
    void setStatusBytes(DeviceId device, std::span<const std::uint8_t> bytes);
    std::optional<SimPlan> plan(DeviceId device) const;  // decoded from status bytes 3..21
    void setPlan(DeviceId device, const SimPlan& plan);  // as configured, no relock
    std::uint8_t outputEnable(DeviceId device) const;
    void setOutputEnable(DeviceId device, std::uint8_t bits);
    std::uint8_t driveStrength(DeviceId device) const;
    void setDriveStrength(DeviceId device, std::uint8_t index);
    std::uint8_t identify(DeviceId device) const;  // last identify payload: 0, 1 or 2
    std::optional<std::uint8_t> registerValue(DeviceId device, std::uint8_t address) const;

    void setGpsSignal(DeviceId device, bool present);  // a loss counts once
    bool gpsSignal(DeviceId device) const;
    void countSignalLoss(DeviceId device);  // wraps from 255 to 0
    std::uint8_t signalLossCount(DeviceId device) const;
    void setPllLocked(DeviceId device, bool locked);  // also ends a pending relock
    bool pllLocked(DeviceId device) const;            // as the device reports it now

    // --- Input reports ---
    void setInputMode(DeviceId device, InputMode mode);
    void setInputPeriod(DeviceId device, std::chrono::milliseconds period);
    void queueInputReport(DeviceId device);  // the current state, input length
    // Raw bytes, sent as they are (a report shorter than the input length stays short).
    void queueInputReport(DeviceId device, std::vector<std::uint8_t> bytes);
    std::size_t queuedInputReports(DeviceId device);  // also queues what the period has due
    // The report an always-waiting read would return now (input length bytes, at most 3
    // non-zero).
    std::vector<std::uint8_t> currentInputReport(DeviceId device) const;

  private:
    struct Device {
        SimDevice model;
        std::string path;
        std::array<std::size_t, kSimCallKinds> calls{};
        std::array<std::size_t, kSimCallKinds> faults{};
        std::size_t openHandles = 0;
    };

    struct Handle {
        DeviceId device = 0;
        OpenMode mode = OpenMode::Plain;
        std::uint64_t generation = 0;
    };

    Device* find(DeviceId device);
    const Device* find(DeviceId device) const;
    // Counts the call, runs the hook, consumes a fault; the device when the call may go on.
    Device* beginHandleCall(HidHandleId handle, SimCall call);
    void runHook(SimCall call, DeviceId device);
    static bool consumeFault(Device& device, SimCall call);

    std::vector<Device> devices_;
    std::map<HidHandleId, Handle> handles_;
    HidHandleId nextHandle_ = 1;
    std::size_t totalOpened_ = 0;
    std::size_t totalClosed_ = 0;
    std::size_t badCloses_ = 0;
    std::size_t enumerations_ = 0;
    std::string errorText_;
    std::string startFailure_;
    Clock clock_;
    CallHook hook_;
    bool inHook_ = false;
    FeatureReportObserver observer_;
};

}  // namespace quarvel
