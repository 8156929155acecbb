#include "gadget.h"

#include <endian.h>
#include <fcntl.h>
#include <glob.h>
#include <linux/usb/ch9.h>
#include <linux/usb/functionfs.h>
#include <pthread.h>
#include <signal.h>
#include <sys/mount.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <optional>
#include <thread>

#include "device/report_descriptor.h"

namespace quarvel {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

constexpr const char* kConfigfs = "/sys/kernel/config/usb_gadget";
constexpr const char* kMounts = "/run/quarvel-gadget";
constexpr std::uint8_t kHidGetReport = 0x01;
constexpr std::uint8_t kHidSetIdle = 0x0A;
constexpr std::uint8_t kHidSetReport = 0x09;
constexpr std::uint8_t kReportDescriptorType = 0x22;
constexpr std::uint8_t kInputReport = 1;
constexpr std::uint8_t kFeatureReport = 3;

// Errors go to error_ as "what: why".
bool writeText(const fs::path& path, const std::string& text, std::string& error) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
    const bool ok = fd >= 0 && ::write(fd, text.data(), text.size()) >= 0;
    if (!ok && error.empty()) error = path.string() + " <- '" + text + "': " + std::strerror(errno);
    if (fd >= 0) ::close(fd);
    return ok;
}

std::string hex4(unsigned value) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%04x", value & 0xFFFFu);
    return text;
}

std::vector<std::string> globbed(const std::string& pattern) {
    glob_t found{};
    std::vector<std::string> paths;
    if (::glob(pattern.c_str(), 0, nullptr, &found) == 0) {
        paths.assign(found.gl_pathv, found.gl_pathv + found.gl_pathc);
    }
    ::globfree(&found);
    return paths;
}

void append16(std::vector<std::uint8_t>& out, unsigned value) {
    out.push_back(static_cast<std::uint8_t>(value & 0xFF));
    out.push_back(static_cast<std::uint8_t>(value >> 8));
}

void append32(std::vector<std::uint8_t>& out, std::uint32_t value) {
    append16(out, value & 0xFFFF);
    append16(out, value >> 16);
}

// Interface, HID and interrupt-IN endpoint descriptors, for full and high speed: a report
// every millisecond at either speed.
std::vector<std::uint8_t> functionDescriptors(std::size_t reportDescriptorLength) {
    std::vector<std::uint8_t> set;
    for (const std::uint8_t interval :
         {std::uint8_t{1}, std::uint8_t{4}}) {  // high speed counts 2^(n-1) microframes
        set.insert(set.end(), {9, USB_DT_INTERFACE, 0, 0, 1, USB_CLASS_HID, 0, 0, 0});
        set.insert(set.end(), {9, 0x21, 0x11, 0x01, 0, 1, kReportDescriptorType});
        append16(set, static_cast<unsigned>(reportDescriptorLength));
        set.insert(set.end(), {7, USB_DT_ENDPOINT, USB_DIR_IN | 1, USB_ENDPOINT_XFER_INT});
        append16(set, 64);
        set.push_back(interval);
    }
    std::vector<std::uint8_t> blob;
    append32(blob, FUNCTIONFS_DESCRIPTORS_MAGIC_V2);
    append32(blob, static_cast<std::uint32_t>(20 + set.size()));
    append32(blob, FUNCTIONFS_HAS_FS_DESC | FUNCTIONFS_HAS_HS_DESC);
    append32(blob, 3);
    append32(blob, 3);
    blob.insert(blob.end(), set.begin(), set.end());
    return blob;
}

std::vector<std::uint8_t> noStrings() {
    std::vector<std::uint8_t> blob;
    append32(blob, FUNCTIONFS_STRINGS_MAGIC);
    append32(blob, 16);
    append32(blob, 0);
    append32(blob, 0);
    return blob;
}

// Interrupts blocking endpoint I/O so that a serving thread can end.
void installWakeSignal() {
    static const bool done = [] {
        struct sigaction action {};
        action.sa_handler = [](int) {};
        ::sigaction(SIGUSR2, &action, nullptr);  // no SA_RESTART: the call returns EINTR
        return true;
    }();
    (void)done;
}

}  // namespace

std::string Gadget::unavailableReason() {
    if (::geteuid() != 0) return "needs root";
    if (!fs::is_directory(kConfigfs)) return "no configfs usb_gadget (libcomposite)";
    if (globbed("/sys/class/udc/*").empty()) return "no USB device controller (dummy_hcd)";
    return {};
}

struct Gadget::Function {
    Function(Gadget& g, DeviceId d) : owner(g), id(d) {}
    ~Function();

    bool create(const SimDeviceConfig& config, const std::vector<std::uint8_t>& descriptor);
    bool bind();
    void unbind();
    void serveControl();
    void serveInput();
    void setup(const usb_ctrlrequest& request);
    void reply(std::vector<std::uint8_t> bytes, std::size_t wLength) const;
    void stall(bool in) const;

    Gadget& owner;
    DeviceId id;
    std::string name;
    fs::path dir;  // in configfs
    fs::path mount;
    std::string udc;
    bool mounted = false;
    bool bound = false;
    bool reportIds = false;
    std::vector<std::uint8_t> reportDescriptor;
    std::optional<HidHandleId> handle;  // the function's own link to the model
    int ep0 = -1;
    int ep1 = -1;
    std::atomic<bool> stopping{false};
    std::atomic<bool> enabled{false};
    std::atomic<std::size_t> taken{0};
    std::atomic<bool> controlDone{false};
    std::atomic<bool> inputDone{false};
    std::thread control;
    std::thread input;
    std::string error;
};

bool Gadget::Function::create(const SimDeviceConfig& c, const std::vector<std::uint8_t>& desc) {
    static std::atomic<unsigned> made{0};
    name = "quarvel" + std::to_string(::getpid()) + "_" + std::to_string(made++);
    reportDescriptor = desc;
    const auto parsed = parseReportDescriptor(desc);
    reportIds = std::any_of(parsed.collections.begin(), parsed.collections.end(),
                            [](const CollectionReports& r) { return r.usesReportIds; });
    dir = fs::path(kConfigfs) / name;
    std::error_code ec;
    fs::create_directory(dir, ec);
    fs::create_directories(dir / "strings/0x409", ec);
    fs::create_directories(dir / "configs/c.1", ec);
    fs::create_directory(dir / "functions" / ("ffs." + name), ec);
    if (ec) error = "configfs: " + ec.message();
    // configfs takes only valid BCD for the release, as the USB standard has it.
    writeText(dir / "idVendor", hex4(c.vendorId), error);
    writeText(dir / "idProduct", hex4(c.productId), error);
    writeText(dir / "bcdDevice", hex4(c.releaseNumber), error);
    writeText(dir / "bcdUSB", "0x0200", error);
    writeText(dir / "strings/0x409/manufacturer", toUtf8(c.manufacturer), error);
    writeText(dir / "strings/0x409/product", toUtf8(c.product), error);
    writeText(dir / "strings/0x409/serialnumber", toUtf8(c.serialNumber), error);
    writeText(dir / "configs/c.1/MaxPower", "100", error);
    fs::create_directory_symlink(dir / "functions" / ("ffs." + name),
                                 dir / "configs/c.1" / ("ffs." + name), ec);
    mount = fs::path(kMounts) / name;
    fs::create_directories(mount, ec);
    if (!error.empty()) return false;
    mounted = ::mount(name.c_str(), mount.c_str(), "functionfs", 0, nullptr) == 0;
    if (!mounted) {
        error = "mount functionfs: " + std::string(std::strerror(errno));
        return false;
    }
    ep0 = ::open((mount / "ep0").c_str(), O_RDWR | O_CLOEXEC);
    const auto descriptors = functionDescriptors(desc.size());
    const auto strings = noStrings();
    if (ep0 < 0 || ::write(ep0, descriptors.data(), descriptors.size()) < 0 ||
        ::write(ep0, strings.data(), strings.size()) < 0) {
        error = "functionfs ep0: " + std::string(std::strerror(errno));
        return false;
    }
    ep1 = ::open((mount / "ep1").c_str(), O_RDWR | O_CLOEXEC);
    if (ep1 < 0) {
        error = "functionfs ep1: " + std::string(std::strerror(errno));
        return false;
    }
    installWakeSignal();
    control = std::thread([this] { serveControl(); });
    input = std::thread([this] { serveInput(); });
    return true;
}

// Takes the first free controller, or the one it had: a replug goes into the same port.
bool Gadget::Function::bind() {
    std::vector<std::string> candidates = {udc};
    if (udc.empty()) {
        candidates.clear();
        for (const auto& path : globbed("/sys/class/udc/*")) {
            candidates.push_back(fs::path(path).filename());
        }
    }
    for (const auto& candidate : candidates) {
        std::string ignored;
        if (writeText(dir / "UDC", candidate, ignored)) {
            udc = candidate;
            bound = true;
            return true;
        }
    }
    error = "no free USB device controller for " + name;
    return false;
}

void Gadget::Function::unbind() {
    if (!bound) return;
    std::string ignored;
    writeText(dir / "UDC", "\n", ignored);
    bound = false;
    enabled = false;
}

Gadget::Function::~Function() {
    unbind();
    stopping = true;
    // A thread blocked on an endpoint wakes on the signal, sees stopping and ends.
    for (std::thread* t : {&control, &input}) {
        if (!t->joinable()) continue;
        for (int i = 0; i < 1000; ++i) {
            ::pthread_kill(t->native_handle(), SIGUSR2);
            std::this_thread::sleep_for(1ms);
            if (t == &control ? controlDone.load() : inputDone.load()) break;
        }
        t->join();
    }
    for (const int fd : {ep1, ep0}) {
        if (fd >= 0) ::close(fd);
    }
    if (mounted) ::umount2(mount.c_str(), MNT_DETACH);
    std::error_code ec;
    fs::remove(mount, ec);
    fs::remove(dir / "configs/c.1" / ("ffs." + name), ec);
    for (const fs::path& sub :
         {dir / "configs/c.1", dir / "functions" / ("ffs." + name), dir / "strings/0x409", dir}) {
        ::rmdir(sub.c_str());
    }
}

void Gadget::Function::serveControl() {
    std::array<usb_functionfs_event, 4> events{};
    while (!stopping) {
        const ssize_t n = ::read(ep0, events.data(), sizeof events);
        if (n < 0) {
            if (errno != EINTR) std::this_thread::sleep_for(1ms);
            continue;
        }
        for (std::size_t i = 0; i < static_cast<std::size_t>(n) / sizeof events[0]; ++i) {
            switch (events[i].type) {
                case FUNCTIONFS_ENABLE:
                    enabled = true;
                    break;
                case FUNCTIONFS_DISABLE:
                case FUNCTIONFS_UNBIND:
                    enabled = false;
                    break;
                case FUNCTIONFS_SETUP:
                    setup(events[i].u.setup);
                    break;
                default:
                    break;
            }
        }
    }
    controlDone = true;
}

// As fast as the host polls: every report the model has, one per interval.
void Gadget::Function::serveInput() {
    while (!stopping) {
        std::vector<std::uint8_t> frame;
        if (enabled) {
            owner.locked([&](SimulatedBus& bus) {
                if (!handle || !bus.reachesDevice(*handle)) return;
                frame.assign(bus.device(id)->inputLength(), 0);
                if (!bus.readInput(*handle, frame)) frame.clear();
            });
        }
        // Without report IDs the wire carries the data alone.
        const std::size_t skip = reportIds ? 0 : 1;
        if (frame.size() <= skip) {
            std::this_thread::sleep_for(1ms);
            continue;
        }
        const ssize_t n = ::write(ep1, frame.data() + skip, frame.size() - skip);
        if (n > 0) {
            ++taken;
        } else if (errno != EINTR) {
            std::this_thread::sleep_for(1ms);  // disconnected or not yet configured
        }
    }
    inputDone = true;
}

void Gadget::Function::setup(const usb_ctrlrequest& request) {
    const bool in = (request.bRequestType & USB_DIR_IN) != 0;
    const bool classRequest = (request.bRequestType & USB_TYPE_MASK) == USB_TYPE_CLASS;
    const unsigned value = le16toh(request.wValue);
    const std::size_t length = le16toh(request.wLength);
    const auto reportType = static_cast<std::uint8_t>(value >> 8);
    const auto reportId = static_cast<std::uint8_t>(value & 0xFF);
    const std::size_t skip = reportIds ? 0 : 1;

    if (!classRequest && in && request.bRequest == USB_REQ_GET_DESCRIPTOR &&
        reportType == kReportDescriptorType) {
        return reply(reportDescriptor, length);
    }
    if (classRequest && !in && request.bRequest == kHidSetIdle) {
        (void)::read(ep0, nullptr, 0);  // the status stage
        return;
    }
    if (classRequest && in && request.bRequest == kHidGetReport) {
        std::vector<std::uint8_t> frame;
        owner.locked([&](SimulatedBus& bus) {
            const SimDevice& model = *bus.device(id);
            if (reportType == kInputReport) {
                frame = bus.currentInputReport(id);
            } else if (reportType == kFeatureReport && handle) {
                frame.assign(model.featureLength(), 0);
                frame[0] = reportId;
                if (!bus.getFeature(*handle, frame)) frame.clear();
            }
        });
        if (frame.size() <= skip) return stall(in);
        return reply({frame.begin() + static_cast<std::ptrdiff_t>(skip), frame.end()}, length);
    }
    if (classRequest && !in && request.bRequest == kHidSetReport && reportType == kFeatureReport) {
        // The host hears the transfer done once the data is read, maybe before the model has
        // it; holding the lock from before the read keeps anyone from looking in between.
        std::unique_lock guard(owner.mutex_);
        SimulatedBus& bus = owner.bus_;
        // A refusal must stall before the data stage: the model would refuse a frame when a
        // fault is pending (spent here) or the device is unplugged.
        if (!handle || !bus.reachesDevice(*handle) ||
            bus.pendingFaults(id, SimCall::SetFeature) > 0) {
            std::vector<std::uint8_t> probe(2, 0);
            if (handle) bus.setFeature(*handle, probe);
            guard.unlock();
            return stall(in);
        }
        std::vector<std::uint8_t> frame(length + skip, 0);
        frame[0] = reportId;
        const ssize_t n = ::read(ep0, frame.data() + skip, length);
        if (n < 0) return;
        frame.resize(static_cast<std::size_t>(n) + skip);
        bus.setFeature(*handle, frame);
        return;
    }
    stall(in);
}

void Gadget::Function::reply(std::vector<std::uint8_t> bytes, std::size_t wLength) const {
    bytes.resize(std::min(bytes.size(), wLength));
    (void)::write(ep0, bytes.data(), bytes.size());
}

// FunctionFS stalls a request when the data stage goes the wrong way.
void Gadget::Function::stall(bool in) const {
    std::uint8_t none = 0;
    if (in) {
        (void)::read(ep0, &none, 0);
    } else {
        (void)::write(ep0, &none, 0);
    }
}

Gadget::Gadget(SimulatedBus& bus, ReportDescriptors descriptors)
    : bus_(bus), descriptors_(withGeneratorDescriptors(bus, std::move(descriptors))) {
    error_ = unavailableReason();
    if (!error_.empty()) return;
    std::error_code ec;
    fs::create_directories(kMounts, ec);
    for (DeviceId id = 0; id < bus_.deviceCount(); ++id) {
        auto function = std::make_unique<Function>(*this, id);
        const bool made = function->create(bus_.device(id)->config(), descriptors_.at(id));
        functions_.push_back(std::move(function));
        if (!made) {
            error_ = functions_.back()->error;
            return;
        }
    }
    for (DeviceId id = 0; id < bus_.deviceCount(); ++id) {
        if (!bus_.isPlugged(id)) continue;
        locked(
            [&](SimulatedBus& b) { functions_[id]->handle = b.open(b.path(id), OpenMode::Plain); });
        if (!functions_[id]->bind()) {
            error_ = functions_[id]->error;
            return;
        }
        waitForNode(id, true);
    }
}

Gadget::~Gadget() {
    functions_.clear();
}

void Gadget::unplug(DeviceId device) {
    if (device >= functions_.size() || !error_.empty()) return;
    Function& f = *functions_[device];
    if (!f.bound) return;
    locked([&](SimulatedBus& bus) {
        bus.unplug(device);
        if (f.handle) bus.close(*f.handle);
        f.handle.reset();
    });
    f.unbind();
    waitForNode(device, false);
}

void Gadget::plug(DeviceId device) {
    if (device >= functions_.size() || !error_.empty()) return;
    Function& f = *functions_[device];
    if (f.bound) return;
    locked([&](SimulatedBus& bus) {
        bus.plug(device);
        f.handle = bus.open(bus.path(device), OpenMode::Plain);
    });
    if (f.bind()) waitForNode(device, true);
}

std::string Gadget::nodePath(DeviceId device) const {
    if (device >= functions_.size() || functions_[device]->udc.empty()) return {};
    // dummy_udc.N is wired to dummy_hcd.N; the gadget hangs on port 1 of its root hub.
    const std::string hcd = "dummy_hcd" + functions_[device]->udc.substr(9);
    const auto found =
        globbed("/sys/devices/platform/" + hcd + "/usb*/*-1/*-1:1.0/*/hidraw/hidraw*");
    if (found.empty()) return {};
    return "/dev/" + fs::path(found.front()).filename().string();
}

std::size_t Gadget::reportsTaken(DeviceId device) const {
    return device < functions_.size() ? functions_[device]->taken.load() : 0;
}

void Gadget::waitForNode(DeviceId device, bool present) {
    // Enumeration on an emulated CPU takes a while; a node that never comes is an error.
    for (int i = 0; i < 2000; ++i) {
        const std::string node = nodePath(device);
        if (!node.empty() == present && (!present || fs::exists(node))) break;
        std::this_thread::sleep_for(10ms);
    }
    // udev applies the rules (and removes the node) on its own time.
    runProgram({"udevadm", "settle", "--timeout=20"}, {"PATH=/usr/bin:/bin:/usr/sbin:/sbin"});
    // What udev's probing read does not count as the host's interest in the device.
    functions_[device]->taken = 0;
    if (present && nodePath(device).empty() && error_.empty()) {
        error_ = "no hidraw node for device " + std::to_string(device);
    }
}

ProgramRun Gadget::run(const std::vector<std::string>& argv, bool capture) {
    if (!error_.empty()) return {};
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) env.emplace_back(*e);
    std::vector<std::string> args;
    for (const auto& a : argv) args.push_back(reachable_(a));
    return runProgram(args, env, capture);
}

}  // namespace quarvel
