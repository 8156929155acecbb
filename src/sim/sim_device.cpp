#include "sim/sim_device.h"

#include <algorithm>
#include <iterator>
#include <utility>

#include "planning/derived_labels.h"

namespace quarvel {

namespace {

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

}  // namespace

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

SimDevice::SimDevice(SimDeviceConfig config, TimePoint now)
    : config_(std::move(config)),
      plugged_(config_.plugged),
      status_(kStatusBytes, 0),
      gps_(config_.gpsSignal),
      pllLocked_(config_.pllLocked),
      lossCount_(config_.signalLossCount),
      inputMode_(config_.inputMode),
      inputPeriod_(config_.inputPeriod),
      lastEmission_(now) {
    status_[kEnableByte] = config_.outputEnable;
    status_[kDriveByte] = config_.driveStrength;
    setPlan(config_.plan.value_or(defaultPlan(config_.serialNumber)));
}

std::size_t SimDevice::inputLength() const {
    return lengthOf(config_.inputReportLength);
}

std::size_t SimDevice::featureLength() const {
    return lengthOf(config_.featureReportLength);
}

bool SimDevice::receiveFeature(std::span<const std::uint8_t> frame, TimePoint now) {
    // A longer transfer than the report, or another report ID, is refused by the device.
    if (frame.empty() || frame.size() > featureLength() || frame[0] != kStatusReportId) {
        return false;
    }
    received_.emplace_back(frame.begin(), frame.end());
    apply(frame, now);
    return true;
}

bool SimDevice::sendStatus(std::span<std::uint8_t> frame) {
    const std::size_t length = featureLength();
    if (length == 0 || frame.empty() || frame[0] != kStatusReportId) return false;
    const std::size_t n = std::min(frame.size(), length);
    for (std::size_t i = 0; i < n; ++i) frame[i] = i < status_.size() ? status_[i] : 0;
    ++statusServed_;
    return true;
}

bool SimDevice::sendInput(std::span<std::uint8_t> frame, TimePoint now) {
    const std::size_t length = inputLength();
    if (length == 0 || frame.empty()) return false;
    queueDue(now);
    QueuedInput report;
    if (!inputQueue_.empty()) {
        report = std::move(inputQueue_.front());
        inputQueue_.pop_front();
    } else if (inputMode_ == InputMode::AlwaysWaiting) {
        report.bytes = {0, lossCount_, statusBits(now)};
        report.padToLength = true;
    } else {
        return false;
    }
    const std::size_t sent = report.padToLength ? length : std::min(length, report.bytes.size());
    const std::size_t n = std::min(frame.size(), sent);
    for (std::size_t i = 0; i < n; ++i) frame[i] = i < report.bytes.size() ? report.bytes[i] : 0;
    return true;
}

void SimDevice::unplug() {
    if (!plugged_) return;
    plugged_ = false;
    ++generation_;
}

void SimDevice::plug(TimePoint now) {
    if (plugged_) return;
    // Same hardware, same firmware memory: settings stay; reports in flight are gone.
    plugged_ = true;
    inputQueue_.clear();
    lastEmission_ = now;
}

std::optional<std::uint8_t> SimDevice::registerValue(std::uint8_t address) const {
    const auto it = registers_.find(address);
    if (it == registers_.end()) return std::nullopt;
    return it->second;
}

void SimDevice::setStatus(std::span<const std::uint8_t> bytes) {
    status_.assign(bytes.begin(), bytes.end());
    if (status_.size() < kStatusBytes) status_.resize(kStatusBytes, 0);
}

SimPlan SimDevice::plan() const {
    return decodePlan(
        std::span<const std::uint8_t, kPlanBytes>(status_.data() + kPlanOffset, kPlanBytes));
}

void SimDevice::setPlan(const SimPlan& plan) {
    const auto bytes = encodePlan(plan);
    std::copy(bytes.begin(), bytes.end(), status_.begin() + kPlanOffset);
}

void SimDevice::setGpsSignal(bool present, TimePoint now) {
    settle(now);
    if (gps_ && !present) ++lossCount_;
    gps_ = present;
    settle(now);
}

void SimDevice::setPllLocked(bool locked) {
    pllLocked_ = locked;
    relockAt_.reset();
}

bool SimDevice::pllLockedAt(TimePoint time) const {
    // A relock completes once its time has come while GPS is present.
    const bool relocking = relockAt_ && (time < *relockAt_ || !gps_);
    return pllLocked_ && !relocking;
}

void SimDevice::setInputPeriod(std::chrono::milliseconds period, TimePoint now) {
    inputPeriod_ = period;
    lastEmission_ = now;
}

void SimDevice::queueState(TimePoint now) {
    push({{0, lossCount_, statusBits(now)}, true});
}

void SimDevice::queueRaw(std::vector<std::uint8_t> bytes) {
    push({std::move(bytes), false});
}

std::size_t SimDevice::queued(TimePoint now) {
    queueDue(now);
    return inputQueue_.size();
}

std::vector<std::uint8_t> SimDevice::currentInputReport(TimePoint now) const {
    std::vector<std::uint8_t> report(inputLength(), 0);
    if (report.size() > 1) report[1] = lossCount_;
    if (report.size() > 2) report[2] = statusBits(now);
    return report;
}

void SimDevice::settle(TimePoint now) {
    if (relockAt_ && now >= *relockAt_ && gps_) relockAt_.reset();
}

std::uint8_t SimDevice::statusBits(TimePoint time) const {
    std::uint8_t bits = 0;
    if (!gps_) bits |= kNoGps;
    if (!pllLockedAt(time)) bits |= kNoLock;
    return bits;
}

void SimDevice::queueDue(TimePoint now) {
    if (inputMode_ != InputMode::Queued || inputPeriod_.count() <= 0) return;
    if (now <= lastEmission_) return;
    const std::int64_t due = (now - lastEmission_) / inputPeriod_;
    if (due <= 0) return;
    // A full queue drops what comes next, so only the first reports that fit are made.
    const auto room = static_cast<std::int64_t>(kInputQueueLimit - inputQueue_.size());
    for (std::int64_t k = 1; k <= std::min(due, room); ++k) {
        push({{0, lossCount_, statusBits(lastEmission_ + k * inputPeriod_)}, true});
    }
    lastEmission_ += due * inputPeriod_;
}

void SimDevice::push(QueuedInput input) {
    // Like the kernel's hidraw queue: when full, the newest report is the one lost.
    if (inputQueue_.size() < kInputQueueLimit) inputQueue_.push_back(std::move(input));
}

void SimDevice::apply(std::span<const std::uint8_t> frame, TimePoint now) {
    if (frame.size() < 2) return;
    const std::uint8_t code = frame[1];
    ++commands_[code];
    if (code >= std::size(kPayloadFrame) || frame.size() < kPayloadFrame[code]) return;
    switch (code) {
        case 1:
            status_[kEnableByte] = frame[2];
            break;
        case 2:
            identify_ = frame[2];
            break;
        case 3:
            status_[kDriveByte] = frame[2];
            break;
        case 4:
            std::copy_n(frame.begin() + 2, kPlanBytes, status_.begin() + kPlanOffset);
            // A new plan makes the PLL lose lock until it has settled on it.
            pllLocked_ = true;
            relockAt_ = now + config_.relockTime;
            break;
        case 5:
            registers_[frame[2]] = frame[3];
            break;
        default:
            break;  // sleep and the beacon trigger change nothing the tool can see
    }
}

}  // namespace quarvel
