#include "sim/simulated_bus.h"

#include <algorithm>
#include <iterator>
#include <utility>

#include "planning/derived_labels.h"

namespace quarvel {

namespace {

constexpr std::size_t index(SimCall call) {
    return static_cast<std::size_t>(call);
}

constexpr std::uint8_t kStatusReportId = 0;
constexpr std::size_t kEnableByte = 1;
constexpr std::size_t kDriveByte = 2;
constexpr std::size_t kPlanOffset = 3;  // status byte of plan byte 0 (upload byte 2)

constexpr std::uint8_t kNoGps = 0x01;
constexpr std::uint8_t kNoLock = 0x02;

// Smallest frame that carries each command's payload; shorter frames are ignored.
constexpr std::size_t kPayloadFrame[8] = {0, 3, 3, 3, 21, 4, 2, 2};

constexpr std::size_t lengthOf(int configured) {
    return configured > 0 ? static_cast<std::size_t>(configured) : 0;
}

void put24(std::uint8_t* out, std::uint32_t value) {
    out[0] = static_cast<std::uint8_t>(value & 0xFF);
    out[1] = static_cast<std::uint8_t>((value >> 8) & 0xFF);
    out[2] = static_cast<std::uint8_t>((value >> 16) & 0xFF);
}

std::uint32_t get24(const std::uint8_t* in) {
    return static_cast<std::uint32_t>(in[0]) | (static_cast<std::uint32_t>(in[1]) << 8) |
           (static_cast<std::uint32_t>(in[2]) << 16);
}

void appendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (c >> 6)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (c >> 12)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (c >> 18)));
        out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

std::string toUtf8(std::u16string_view units) {
    std::string out;
    for (std::size_t i = 0; i < units.size(); ++i) {
        const char16_t u = units[i];
        const bool high = u >= 0xD800 && u <= 0xDBFF;
        const bool low = u >= 0xDC00 && u <= 0xDFFF;
        if (high && i + 1 < units.size() && units[i + 1] >= 0xDC00 && units[i + 1] <= 0xDFFF) {
            const auto c =
                static_cast<char32_t>(0x10000 + ((u - 0xD800) << 10) + (units[i + 1] - 0xDC00));
            appendUtf8(out, c);
            ++i;
        } else if (high || low) {
            appendUtf8(out, 0xFFFD);
        } else {
            appendUtf8(out, u);
        }
    }
    return out;
}

}  // namespace

std::array<std::uint8_t, kPlanBytes> encodePlan(const SimPlan& plan) {
    // Dividers travel with an offset; unsigned wrap keeps out-of-range test values defined.
    std::array<std::uint8_t, kPlanBytes> out{};
    put24(&out[0], plan.gps);
    put24(&out[3], plan.n31 - 1);
    out[6] = static_cast<std::uint8_t>((plan.n2Hs - 4) & 0xFF);
    put24(&out[7], plan.n2Ls - 1);
    out[10] = static_cast<std::uint8_t>((plan.n1Hs - 4) & 0xFF);
    put24(&out[11], plan.nc1Ls - 1);
    put24(&out[14], plan.nc2Ls - 1);
    out[17] = plan.phaseStep;
    out[18] = plan.bandwidth;
    return out;
}

SimPlan decodePlan(std::span<const std::uint8_t, kPlanBytes> bytes) {
    SimPlan plan;
    plan.gps = get24(&bytes[0]);
    plan.n31 = get24(&bytes[3]) + 1;
    plan.n2Hs = bytes[6] + 4u;
    plan.n2Ls = get24(&bytes[7]) + 1;
    plan.n1Hs = bytes[10] + 4u;
    plan.nc1Ls = get24(&bytes[11]) + 1;
    plan.nc2Ls = get24(&bytes[14]) + 1;
    plan.phaseStep = bytes[17];
    plan.bandwidth = bytes[18];
    return plan;
}

std::uint8_t defaultBandwidth(std::u16string_view serialNumber) {
    return static_cast<std::uint8_t>(bandwidthForSerial(deviceText(serialNumber)));
}

SimPlan defaultPlan(std::u16string_view serialNumber) {
    SimPlan plan;
    plan.bandwidth = defaultBandwidth(serialNumber);
    return plan;
}

std::string formatFeatureReportLine(std::u16string_view serialNumber,
                                    std::span<const std::uint8_t> bytes) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string line = toUtf8(serialNumber);
    line.reserve(line.size() + 3 * bytes.size());
    for (const std::uint8_t b : bytes) {
        line.push_back(' ');
        line.push_back(kHex[b >> 4]);
        line.push_back(kHex[b & 0x0F]);
    }
    return line;
}

SimulatedBus::SimulatedBus() = default;

// --- The seam ---

std::vector<HidInterface> SimulatedBus::enumerate() {
    ++enumerations_;
    std::vector<HidInterface> list;
    for (const Device& d : devices_) {
        if (d.plugged) list.push_back({d.path, d.config.vendorId, d.config.productId});
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
    if (!d.plugged) {
        errorText_ = "No such file or directory";
        return std::nullopt;
    }
    if (d.config.refusesOpen) {
        errorText_ = "Permission denied";
        return std::nullopt;
    }
    const HidHandleId handle = nextHandle_++;
    handles_.emplace(handle, Handle{*id, mode, d.generation});
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
    return HidAttributes{d->config.vendorId, d->config.productId, d->config.releaseNumber};
}

std::optional<std::u16string> SimulatedBus::string(HidHandleId handle, HidString which,
                                                   std::size_t maxUnits) {
    SimCall call = SimCall::SerialNumberString;
    if (which == HidString::Manufacturer) call = SimCall::ManufacturerString;
    if (which == HidString::Product) call = SimCall::ProductString;
    const Device* d = beginHandleCall(handle, call);
    if (!d) return std::nullopt;
    const std::u16string& text = which == HidString::Manufacturer ? d->config.manufacturer
                                 : which == HidString::Product    ? d->config.product
                                                                  : d->config.serialNumber;
    return text.substr(0, std::min(maxUnits, text.size()));
}

std::optional<ReportLengths> SimulatedBus::reportLengths(HidHandleId handle) {
    const Device* d = beginHandleCall(handle, SimCall::ReportLengths);
    if (!d) return std::nullopt;
    return ReportLengths{static_cast<int>(lengthOf(d->config.inputReportLength)),
                         static_cast<int>(lengthOf(d->config.outputReportLength)),
                         static_cast<int>(lengthOf(d->config.featureReportLength))};
}

bool SimulatedBus::setFeature(HidHandleId handle, std::span<const std::uint8_t> frame) {
    Device* d = beginHandleCall(handle, SimCall::SetFeature);
    if (!d) return false;
    const std::size_t length = lengthOf(d->config.featureReportLength);
    // A longer transfer than the report, or another report ID, is refused by the device.
    if (frame.empty() || frame.size() > length || frame[0] != kStatusReportId) return false;
    d->received.emplace_back(frame.begin(), frame.end());
    apply(*d, frame);
    if (observer_) {
        // Copies, so that an observer that changes the bus cannot pull the data from under us.
        const auto observer = observer_;
        const std::u16string serial = d->config.serialNumber;
        const std::vector<std::uint8_t> bytes(frame.begin(), frame.end());
        observer(serial, bytes);
    }
    return true;
}

bool SimulatedBus::getFeature(HidHandleId handle, std::span<std::uint8_t> frame) {
    Device* d = beginHandleCall(handle, SimCall::GetFeature);
    if (!d) return false;
    const std::size_t length = lengthOf(d->config.featureReportLength);
    if (length == 0 || frame.empty() || frame[0] != kStatusReportId) return false;
    const std::size_t n = std::min(frame.size(), length);
    for (std::size_t i = 0; i < n; ++i) frame[i] = i < d->status.size() ? d->status[i] : 0;
    ++d->statusServed;
    return true;
}

bool SimulatedBus::readInput(HidHandleId handle, std::span<std::uint8_t> frame) {
    Device* d = beginHandleCall(handle, SimCall::ReadInput);
    if (!d) return false;
    const std::size_t length = lengthOf(d->config.inputReportLength);
    if (length == 0 || frame.empty()) return false;
    queueDueReports(*d);
    QueuedInput report;
    if (!d->inputQueue.empty()) {
        report = std::move(d->inputQueue.front());
        d->inputQueue.pop_front();
    } else if (d->inputMode == InputMode::AlwaysWaiting) {
        report.bytes = {0, d->lossCount, statusBits(*d, now())};
        report.padToLength = true;
    } else {
        return false;
    }
    const std::size_t sent = report.padToLength ? length : std::min(length, report.bytes.size());
    const std::size_t n = std::min(frame.size(), sent);
    for (std::size_t i = 0; i < n; ++i) frame[i] = i < report.bytes.size() ? report.bytes[i] : 0;
    return true;
}

std::string SimulatedBus::errorText() const {
    return errorText_;
}

// --- Devices ---

DeviceId SimulatedBus::addDevice(SimDeviceConfig config) {
    const DeviceId id = devices_.size();
    Device d;
    d.path = "sim:" + std::to_string(id);
    d.plugged = config.plugged;
    d.status.assign(kStatusBytes, 0);
    d.status[kEnableByte] = config.outputEnable;
    d.status[kDriveByte] = config.driveStrength;
    const auto plan = encodePlan(config.plan.value_or(defaultPlan(config.serialNumber)));
    std::copy(plan.begin(), plan.end(), d.status.begin() + kPlanOffset);
    d.gps = config.gpsSignal;
    d.pllLocked = config.pllLocked;
    d.lossCount = config.signalLossCount;
    d.inputMode = config.inputMode;
    d.inputPeriod = config.inputPeriod;
    d.lastEmission = now();
    d.config = std::move(config);
    devices_.push_back(std::move(d));
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
    Device* d = find(device);
    if (!d || !d->plugged) return;
    d->plugged = false;
    ++d->generation;
}

void SimulatedBus::plug(DeviceId device) {
    Device* d = find(device);
    if (!d || d->plugged) return;
    // Same hardware, same firmware memory: settings stay; reports in flight are gone.
    d->plugged = true;
    d->inputQueue.clear();
    d->lastEmission = now();
}

bool SimulatedBus::isPlugged(DeviceId device) const {
    const Device* d = find(device);
    return d && d->plugged;
}

void SimulatedBus::setRefusesOpen(DeviceId device, bool refuses) {
    if (Device* d = find(device)) d->config.refusesOpen = refuses;
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
    return d ? d->received : std::vector<std::vector<std::uint8_t>>{};
}

void SimulatedBus::clearFeatureReports(DeviceId device) {
    if (Device* d = find(device)) d->received.clear();
}

std::size_t SimulatedBus::statusRequestsServed(DeviceId device) const {
    const Device* d = find(device);
    return d ? d->statusServed : 0;
}

std::size_t SimulatedBus::commandCount(DeviceId device, std::uint8_t code) const {
    const Device* d = find(device);
    return d ? d->commands[code] : 0;
}

std::size_t SimulatedBus::openHandles(DeviceId device) const {
    const Device* d = find(device);
    return d ? d->openHandles : 0;
}

// --- Device state ---

std::vector<std::uint8_t> SimulatedBus::statusBytes(DeviceId device) const {
    const Device* d = find(device);
    return d ? d->status : std::vector<std::uint8_t>{};
}

void SimulatedBus::setStatusBytes(DeviceId device, std::span<const std::uint8_t> bytes) {
    Device* d = find(device);
    if (!d) return;
    d->status.assign(bytes.begin(), bytes.end());
    if (d->status.size() < kStatusBytes) d->status.resize(kStatusBytes, 0);
}

std::optional<SimPlan> SimulatedBus::plan(DeviceId device) const {
    const Device* d = find(device);
    if (!d) return std::nullopt;
    return decodePlan(
        std::span<const std::uint8_t, kPlanBytes>(d->status.data() + kPlanOffset, kPlanBytes));
}

void SimulatedBus::setPlan(DeviceId device, const SimPlan& plan) {
    Device* d = find(device);
    if (!d) return;
    const auto bytes = encodePlan(plan);
    std::copy(bytes.begin(), bytes.end(), d->status.begin() + kPlanOffset);
}

std::uint8_t SimulatedBus::outputEnable(DeviceId device) const {
    const Device* d = find(device);
    return d ? d->status[kEnableByte] : 0;
}

void SimulatedBus::setOutputEnable(DeviceId device, std::uint8_t bits) {
    if (Device* d = find(device)) d->status[kEnableByte] = bits;
}

std::uint8_t SimulatedBus::driveStrength(DeviceId device) const {
    const Device* d = find(device);
    return d ? d->status[kDriveByte] : 0;
}

void SimulatedBus::setDriveStrength(DeviceId device, std::uint8_t index) {
    if (Device* d = find(device)) d->status[kDriveByte] = index;
}

std::uint8_t SimulatedBus::identify(DeviceId device) const {
    const Device* d = find(device);
    return d ? d->identify : 0;
}

std::optional<std::uint8_t> SimulatedBus::registerValue(DeviceId device,
                                                        std::uint8_t address) const {
    const Device* d = find(device);
    if (!d) return std::nullopt;
    const auto it = d->registers.find(address);
    if (it == d->registers.end()) return std::nullopt;
    return it->second;
}

void SimulatedBus::setGpsSignal(DeviceId device, bool present) {
    Device* d = find(device);
    if (!d) return;
    const TimePoint t = now();
    settle(*d, t);
    if (d->gps && !present) ++d->lossCount;
    d->gps = present;
    settle(*d, t);
}

bool SimulatedBus::gpsSignal(DeviceId device) const {
    const Device* d = find(device);
    return d && d->gps;
}

void SimulatedBus::countSignalLoss(DeviceId device) {
    if (Device* d = find(device)) ++d->lossCount;
}

std::uint8_t SimulatedBus::signalLossCount(DeviceId device) const {
    const Device* d = find(device);
    return d ? d->lossCount : 0;
}

void SimulatedBus::setPllLocked(DeviceId device, bool locked) {
    Device* d = find(device);
    if (!d) return;
    d->pllLocked = locked;
    d->relockAt.reset();
}

bool SimulatedBus::pllLocked(DeviceId device) const {
    const Device* d = find(device);
    return d && pllLockedAt(*d, now());
}

// --- Input reports ---

void SimulatedBus::setInputMode(DeviceId device, InputMode mode) {
    if (Device* d = find(device)) d->inputMode = mode;
}

void SimulatedBus::setInputPeriod(DeviceId device, std::chrono::milliseconds period) {
    Device* d = find(device);
    if (!d) return;
    d->inputPeriod = period;
    d->lastEmission = now();
}

void SimulatedBus::queueInputReport(DeviceId device) {
    Device* d = find(device);
    if (!d) return;
    pushInput(*d, {{0, d->lossCount, statusBits(*d, now())}, true});
}

void SimulatedBus::queueInputReport(DeviceId device, std::vector<std::uint8_t> bytes) {
    if (Device* d = find(device)) pushInput(*d, {std::move(bytes), false});
}

std::size_t SimulatedBus::queuedInputReports(DeviceId device) {
    Device* d = find(device);
    if (!d) return 0;
    queueDueReports(*d);
    return d->inputQueue.size();
}

std::vector<std::uint8_t> SimulatedBus::currentInputReport(DeviceId device) const {
    const Device* d = find(device);
    if (!d) return {};
    std::vector<std::uint8_t> report(lengthOf(d->config.inputReportLength), 0);
    if (report.size() > 1) report[1] = d->lossCount;
    if (report.size() > 2) report[2] = statusBits(*d, now());
    return report;
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
    if (!d.plugged || d.generation != it->second.generation) return nullptr;
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

bool SimulatedBus::pllLockedAt(const Device& device, TimePoint time) {
    // A relock completes once its time has come while GPS is present.
    const bool relocking = device.relockAt && (time < *device.relockAt || !device.gps);
    return device.pllLocked && !relocking;
}

void SimulatedBus::settle(Device& device, TimePoint now) {
    if (device.relockAt && now >= *device.relockAt && device.gps) device.relockAt.reset();
}

std::uint8_t SimulatedBus::statusBits(const Device& device, TimePoint time) {
    std::uint8_t bits = 0;
    if (!device.gps) bits |= kNoGps;
    if (!pllLockedAt(device, time)) bits |= kNoLock;
    return bits;
}

void SimulatedBus::queueDueReports(Device& device) {
    if (device.inputMode != InputMode::Queued || device.inputPeriod.count() <= 0) return;
    const TimePoint t = now();
    if (t <= device.lastEmission) return;
    const std::int64_t due = (t - device.lastEmission) / device.inputPeriod;
    if (due <= 0) return;
    // A full queue drops what comes next, so only the first reports that fit are made.
    const auto room = static_cast<std::int64_t>(kInputQueueLimit - device.inputQueue.size());
    for (std::int64_t k = 1; k <= std::min(due, room); ++k) {
        const TimePoint at = device.lastEmission + k * device.inputPeriod;
        pushInput(device, {{0, device.lossCount, statusBits(device, at)}, true});
    }
    device.lastEmission += due * device.inputPeriod;
}

void SimulatedBus::pushInput(Device& device, QueuedInput input) {
    // Like the kernel's hidraw queue: when full, the newest report is the one lost.
    if (device.inputQueue.size() < kInputQueueLimit) device.inputQueue.push_back(std::move(input));
}

void SimulatedBus::apply(Device& device, std::span<const std::uint8_t> frame) {
    if (frame.size() < 2) return;
    const std::uint8_t code = frame[1];
    ++device.commands[code];
    if (code >= std::size(kPayloadFrame) || frame.size() < kPayloadFrame[code]) return;
    switch (code) {
        case 1:
            device.status[kEnableByte] = frame[2];
            break;
        case 2:
            device.identify = frame[2];
            break;
        case 3:
            device.status[kDriveByte] = frame[2];
            break;
        case 4: {
            std::copy_n(frame.begin() + 2, kPlanBytes, device.status.begin() + kPlanOffset);
            // A new plan makes the PLL lose lock until it has settled on it.
            device.pllLocked = true;
            device.relockAt = now() + device.config.relockTime;
            break;
        }
        case 5:
            device.registers[frame[2]] = frame[3];
            break;
        default:
            break;  // sleep and the beacon trigger change nothing the tool can see
    }
}

}  // namespace quarvel
