#include "sim/simulated_bus.h"

#include <algorithm>
#include <utility>

namespace quarvel {

namespace {

constexpr std::size_t index(SimCall call) {
    return static_cast<std::size_t>(call);
}

}  // namespace

SimulatedBus::SimulatedBus() = default;

// --- The seam ---

std::vector<HidInterface> SimulatedBus::enumerate() {
    ++enumerations_;
    std::vector<HidInterface> list;
    if (!startFailure_.empty()) return list;
    for (const Device& d : devices_) {
        const auto& c = d.model.config();
        if (d.model.plugged()) {
            list.push_back({d.path, c.vendorId, c.productId, c.serialNumber, c.releaseNumber});
        }
    }
    return list;
}

std::optional<HidHandleId> SimulatedBus::open(const std::string& path, OpenMode mode) {
    const auto id = deviceAt(path);
    if (!id) {
        errorText_ = "No such file or directory";
        return std::nullopt;
    }
    ++devices_[*id].calls[index(SimCall::Open)];
    runHook(SimCall::Open, *id);
    Device& d = devices_[*id];
    if (consumeFault(d, SimCall::Open)) {
        errorText_ = "Input/output error";
        return std::nullopt;
    }
    if (!d.model.plugged()) {
        errorText_ = "No such file or directory";
        return std::nullopt;
    }
    if (d.model.config().refusesOpen) {
        errorText_ = "Permission denied";
        return std::nullopt;
    }
    const HidHandleId handle = nextHandle_++;
    handles_.emplace(handle, Handle{*id, mode, d.model.generation()});
    ++d.openHandles;
    ++totalOpened_;
    return handle;
}

bool SimulatedBus::close(HidHandleId handle) {
    auto it = handles_.find(handle);
    if (it == handles_.end()) {
        ++badCloses_;
        return false;
    }
    const DeviceId id = it->second.device;
    ++devices_[id].calls[index(SimCall::Close)];
    runHook(SimCall::Close, id);
    // The hook may have closed this very handle; then this close is the second one.
    it = handles_.find(handle);
    if (it == handles_.end()) {
        ++badCloses_;
        return false;
    }
    handles_.erase(it);
    --devices_[id].openHandles;
    ++totalClosed_;
    return true;
}

std::optional<HidAttributes> SimulatedBus::attributes(HidHandleId handle) {
    const Device* d = beginHandleCall(handle, SimCall::Attributes);
    if (!d) return std::nullopt;
    const auto& c = d->model.config();
    return HidAttributes{c.vendorId, c.productId, c.releaseNumber};
}

std::optional<std::u16string> SimulatedBus::string(HidHandleId handle, HidString which,
                                                   std::size_t maxUnits) {
    SimCall call = SimCall::SerialNumberString;
    if (which == HidString::Manufacturer) call = SimCall::ManufacturerString;
    if (which == HidString::Product) call = SimCall::ProductString;
    const Device* d = beginHandleCall(handle, call);
    if (!d) return std::nullopt;
    const auto& c = d->model.config();
    const std::u16string& text = which == HidString::Manufacturer ? c.manufacturer
                                 : which == HidString::Product    ? c.product
                                                                  : c.serialNumber;
    return text.substr(0, std::min(maxUnits, text.size()));
}

std::optional<ReportLengths> SimulatedBus::reportLengths(HidHandleId handle) {
    const Device* d = beginHandleCall(handle, SimCall::ReportLengths);
    if (!d) return std::nullopt;
    return ReportLengths{static_cast<int>(d->model.inputLength()),
                         std::max(d->model.config().outputReportLength, 0),
                         static_cast<int>(d->model.featureLength())};
}

bool SimulatedBus::setFeature(HidHandleId handle, std::span<const std::uint8_t> frame) {
    Device* d = beginHandleCall(handle, SimCall::SetFeature);
    if (!d) return false;
    if (!d->model.receiveFeature(frame, now())) return false;
    if (observer_) {
        // Copies, so that an observer that changes the bus cannot pull the data from under us.
        const auto observer = observer_;
        const std::u16string serial = d->model.config().serialNumber;
        const std::vector<std::uint8_t> bytes(frame.begin(), frame.end());
        observer(serial, bytes);
    }
    return true;
}

bool SimulatedBus::getFeature(HidHandleId handle, std::span<std::uint8_t> frame) {
    Device* d = beginHandleCall(handle, SimCall::GetFeature);
    return d != nullptr && d->model.sendStatus(frame);
}

bool SimulatedBus::readInput(HidHandleId handle, std::span<std::uint8_t> frame) {
    Device* d = beginHandleCall(handle, SimCall::ReadInput);
    return d != nullptr && d->model.sendInput(frame, now());
}

std::string SimulatedBus::errorText() const {
    return errorText_;
}

// --- Devices ---

DeviceId SimulatedBus::addDevice(SimDeviceConfig config) {
    const DeviceId id = devices_.size();
    devices_.push_back({SimDevice(std::move(config), now()), "sim:" + std::to_string(id)});
    return id;
}

std::string SimulatedBus::path(DeviceId device) const {
    const Device* d = find(device);
    return d ? d->path : std::string();
}

std::optional<DeviceId> SimulatedBus::deviceAt(std::string_view path) const {
    for (DeviceId id = 0; id < devices_.size(); ++id) {
        if (devices_[id].path == path) return id;
    }
    return std::nullopt;
}

void SimulatedBus::unplug(DeviceId device) {
    if (Device* d = find(device)) d->model.unplug();
}

void SimulatedBus::plug(DeviceId device) {
    if (Device* d = find(device)) d->model.plug(now());
}

bool SimulatedBus::isPlugged(DeviceId device) const {
    const Device* d = find(device);
    return d && d->model.plugged();
}

void SimulatedBus::setRefusesOpen(DeviceId device, bool refuses) {
    if (Device* d = find(device)) d->model.config().refusesOpen = refuses;
}

// --- Time ---

void SimulatedBus::setClock(Clock clock) {
    clock_ = std::move(clock);
}

SimulatedBus::TimePoint SimulatedBus::now() const {
    return clock_ ? clock_() : std::chrono::steady_clock::now();
}

// --- Test instruments ---

void SimulatedBus::setCallHook(CallHook hook) {
    hook_ = std::move(hook);
}

void SimulatedBus::setFeatureReportObserver(FeatureReportObserver observer) {
    observer_ = std::move(observer);
}

void SimulatedBus::failNext(DeviceId device, SimCall call, std::size_t count) {
    if (Device* d = find(device)) d->faults[index(call)] = count;
}

std::size_t SimulatedBus::pendingFaults(DeviceId device, SimCall call) const {
    const Device* d = find(device);
    return d ? d->faults[index(call)] : 0;
}

std::size_t SimulatedBus::callCount(DeviceId device, SimCall call) const {
    const Device* d = find(device);
    return d ? d->calls[index(call)] : 0;
}

std::vector<std::vector<std::uint8_t>> SimulatedBus::featureReports(DeviceId device) const {
    const Device* d = find(device);
    return d ? d->model.received() : std::vector<std::vector<std::uint8_t>>{};
}

void SimulatedBus::clearFeatureReports(DeviceId device) {
    if (Device* d = find(device)) d->model.clearReceived();
}

std::size_t SimulatedBus::statusRequestsServed(DeviceId device) const {
    const Device* d = find(device);
    return d ? d->model.statusServed() : 0;
}

std::size_t SimulatedBus::commandCount(DeviceId device, std::uint8_t code) const {
    const Device* d = find(device);
    return d ? d->model.commandCount(code) : 0;
}

std::size_t SimulatedBus::openHandles(DeviceId device) const {
    const Device* d = find(device);
    return d ? d->openHandles : 0;
}

std::optional<DeviceId> SimulatedBus::deviceOf(HidHandleId handle) const {
    const auto it = handles_.find(handle);
    if (it == handles_.end()) return std::nullopt;
    return it->second.device;
}

bool SimulatedBus::reachesDevice(HidHandleId handle) const {
    const auto it = handles_.find(handle);
    if (it == handles_.end()) return false;
    const SimDevice& d = devices_[it->second.device].model;
    return d.plugged() && d.generation() == it->second.generation;
}

const SimDevice* SimulatedBus::device(DeviceId device) const {
    const Device* d = find(device);
    return d ? &d->model : nullptr;
}

// --- Device state ---

std::vector<std::uint8_t> SimulatedBus::statusBytes(DeviceId device) const {
    const Device* d = find(device);
    return d ? d->model.status() : std::vector<std::uint8_t>{};
}

void SimulatedBus::setStatusBytes(DeviceId device, std::span<const std::uint8_t> bytes) {
    if (Device* d = find(device)) d->model.setStatus(bytes);
}

std::optional<SimPlan> SimulatedBus::plan(DeviceId device) const {
    const Device* d = find(device);
    if (!d) return std::nullopt;
    return d->model.plan();
}

void SimulatedBus::setPlan(DeviceId device, const SimPlan& plan) {
    if (Device* d = find(device)) d->model.setPlan(plan);
}

std::uint8_t SimulatedBus::outputEnable(DeviceId device) const {
    const Device* d = find(device);
    return d ? d->model.status()[1] : 0;
}

void SimulatedBus::setOutputEnable(DeviceId device, std::uint8_t bits) {
    if (Device* d = find(device)) d->model.outputEnable() = bits;
}

std::uint8_t SimulatedBus::driveStrength(DeviceId device) const {
    const Device* d = find(device);
    return d ? d->model.status()[2] : 0;
}

void SimulatedBus::setDriveStrength(DeviceId device, std::uint8_t index) {
    if (Device* d = find(device)) d->model.driveStrength() = index;
}

std::uint8_t SimulatedBus::identify(DeviceId device) const {
    const Device* d = find(device);
    return d ? d->model.identify() : 0;
}

std::optional<std::uint8_t> SimulatedBus::registerValue(DeviceId device,
                                                        std::uint8_t address) const {
    const Device* d = find(device);
    if (!d) return std::nullopt;
    return d->model.registerValue(address);
}

void SimulatedBus::setGpsSignal(DeviceId device, bool present) {
    if (Device* d = find(device)) d->model.setGpsSignal(present, now());
}

bool SimulatedBus::gpsSignal(DeviceId device) const {
    const Device* d = find(device);
    return d && d->model.gpsSignal();
}

void SimulatedBus::countSignalLoss(DeviceId device) {
    if (Device* d = find(device)) d->model.countSignalLoss();
}

std::uint8_t SimulatedBus::signalLossCount(DeviceId device) const {
    const Device* d = find(device);
    return d ? d->model.signalLossCount() : 0;
}

void SimulatedBus::setPllLocked(DeviceId device, bool locked) {
    if (Device* d = find(device)) d->model.setPllLocked(locked);
}

bool SimulatedBus::pllLocked(DeviceId device) const {
    const Device* d = find(device);
    return d && d->model.pllLockedAt(now());
}

// --- Input reports ---

void SimulatedBus::setInputMode(DeviceId device, InputMode mode) {
    if (Device* d = find(device)) d->model.setInputMode(mode);
}

void SimulatedBus::setInputPeriod(DeviceId device, std::chrono::milliseconds period) {
    if (Device* d = find(device)) d->model.setInputPeriod(period, now());
}

void SimulatedBus::queueInputReport(DeviceId device) {
    if (Device* d = find(device)) d->model.queueState(now());
}

void SimulatedBus::queueInputReport(DeviceId device, std::vector<std::uint8_t> bytes) {
    if (Device* d = find(device)) d->model.queueRaw(std::move(bytes));
}

std::size_t SimulatedBus::queuedInputReports(DeviceId device) {
    Device* d = find(device);
    return d ? d->model.queued(now()) : 0;
}

std::vector<std::uint8_t> SimulatedBus::currentInputReport(DeviceId device) const {
    const Device* d = find(device);
    return d ? d->model.currentInputReport(now()) : std::vector<std::uint8_t>{};
}

// --- Internals ---

SimulatedBus::Device* SimulatedBus::find(DeviceId device) {
    return device < devices_.size() ? &devices_[device] : nullptr;
}

const SimulatedBus::Device* SimulatedBus::find(DeviceId device) const {
    return device < devices_.size() ? &devices_[device] : nullptr;
}

SimulatedBus::Device* SimulatedBus::beginHandleCall(HidHandleId handle, SimCall call) {
    auto it = handles_.find(handle);
    if (it == handles_.end()) return nullptr;
    const DeviceId id = it->second.device;
    ++devices_[id].calls[index(call)];
    runHook(call, id);
    // The hook may have closed the handle or added devices (moving them in memory).
    it = handles_.find(handle);
    if (it == handles_.end()) return nullptr;
    Device& d = devices_[id];
    if (consumeFault(d, call)) return nullptr;
    if (!d.model.plugged() || d.model.generation() != it->second.generation) return nullptr;
    return &d;
}

void SimulatedBus::runHook(SimCall call, DeviceId device) {
    if (!hook_ || inHook_) return;
    struct Reentry {
        bool& flag;
        explicit Reentry(bool& f) : flag(f) { flag = true; }
        ~Reentry() { flag = false; }
        Reentry(const Reentry&) = delete;
        Reentry& operator=(const Reentry&) = delete;
    } guard(inHook_);
    // A copy, so that a hook that replaces itself does not destroy the running function.
    const auto hook = hook_;
    hook(call, device);
}

bool SimulatedBus::consumeFault(Device& device, SimCall call) {
    if (call == SimCall::Close) return false;
    std::size_t& pending = device.faults[index(call)];
    if (pending == 0) return false;
    if (pending != kAlways) --pending;
    return true;
}

}  // namespace quarvel
