#include "emulation.h"

#include <fcntl.h>
#include <linux/hidraw.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "emulation_server.h"

namespace quarvel {

namespace fs = std::filesystem;

namespace {

constexpr unsigned kHidrawMajor = 240;
constexpr const char* kNodeDir = "/dev/.emulated-hidraw";

std::string hex4(unsigned value, bool upper = false) {
    std::array<char, 8> text{};
    std::snprintf(text.data(), text.size(), upper ? "%04X" : "%04x", value & 0xFFFFu);
    return text.data();
}

void writeFile(const fs::path& path, std::string_view content) {
    std::ofstream(path, std::ios::binary) << content;
}

void makeLink(const fs::path& target, const fs::path& at) {
    std::error_code ignored;
    fs::create_symlink(target, at, ignored);
}

// Where device N hangs in the USB tree, as a real hub port would put it.
fs::path usbDeviceDir(DeviceId device) {
    return "/sys/devices/pci0000:00/0000:00:14.0/usb1/1-" + std::to_string(device + 1);
}

std::string devnum(DeviceId device) {
    return std::to_string(kHidrawMajor) + ":" + std::to_string(device);
}

bool mountOk(const char* source, const char* target, const char* type, unsigned long flags,
             const char* options, std::string& error) {
    if (::mount(source, target, type, flags, options) == 0) return true;
    error = std::string("mount ") + target + ": " + std::strerror(errno);
    return false;
}

}  // namespace

bool hidrawIoctlsReachTheKernel() {
    const int fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (fd < 0) return true;
    int size = 0;
    // The kernel refuses it for a file that is no hidraw node (ENOTTY); qemu-user never asks it.
    const bool reached = ::ioctl(fd, HIDIOCGRDESCSIZE, &size) == 0 || errno != ENOSYS;
    ::close(fd);
    return reached;
}

std::string Emulation::unavailableReason() {
    if (::geteuid() != 0) return "needs root (mount namespaces and FUSE mounts)";
    if (::access("/dev/fuse", R_OK | W_OK) != 0) return "no usable /dev/fuse";
    if (::access("/usr/bin/setpriv", X_OK) != 0) return "no setpriv (util-linux)";
    return {};
}

std::string Emulation::builtShim() {
    return QUARVEL_PRELOAD;
}

Emulation::Emulation(SimulatedBus& bus, ReportDescriptors descriptors, std::string preloadLibrary)
    : bus_(bus),
      preload_(std::move(preloadLibrary)),
      descriptors_(withGeneratorDescriptors(bus, std::move(descriptors))) {
    error_ = unavailableReason();
    if (error_.empty()) setUp();
}

Emulation::~Emulation() {
    // Closing the server aborts its connection, so nothing can wait on it; then only what
    // this emulation mounted in its own namespace goes.
    server_.reset();
    if (devMounted_) ::umount2("/dev", MNT_DETACH);
    if (sysMounted_) ::umount2("/sys", MNT_DETACH);
}

void Emulation::setUp() {
    if (::unshare(CLONE_NEWNS) != 0) {
        error_ = std::string("unshare: ") + std::strerror(errno);
        return;
    }
    // Nothing mounted from here on reaches the rest of the system.
    if (!mountOk(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr, error_)) return;

    // A fresh /dev with the few real nodes programs expect, reached through the hidden one.
    const int oldDev = ::open("/dev", O_PATH | O_DIRECTORY | O_CLOEXEC);
    devMounted_ = mountOk("tmpfs", "/dev", "tmpfs", 0, "mode=755", error_);
    if (!devMounted_) return;
    const std::string old = "/proc/self/fd/" + std::to_string(oldDev) + "/";
    for (const char* name : {"null", "zero", "full", "random", "urandom", "tty", "fuse"}) {
        writeFile(fs::path("/dev") / name, "");
        ::mount((old + name).c_str(), (std::string("/dev/") + name).c_str(), nullptr, MS_BIND,
                nullptr);
    }
    for (const char* name : {"pts", "shm"}) {
        fs::create_directory(fs::path("/dev") / name);
        ::mount((old + name).c_str(), (std::string("/dev/") + name).c_str(), nullptr,
                MS_BIND | MS_REC, nullptr);
    }
    ::close(oldDev);
    makeLink("/proc/self/fd", "/dev/fd");

    fs::create_directory(kNodeDir);
    ::chmod(kNodeDir, 0755);
    server_ = std::make_unique<Server>(*this);
    if (!server_->start(kNodeDir)) {
        error_ = "the FUSE server did not start";
        return;
    }
    sysMounted_ = mountOk("tmpfs", "/sys", "tmpfs", 0, "mode=755", error_);
    if (!sysMounted_) return;
    for (const char* dir : {"/sys/class/hidraw", "/sys/bus/hid", "/sys/bus/usb", "/sys/dev/char"}) {
        fs::create_directories(dir);
    }
    for (DeviceId id = 0; id < bus_.deviceCount(); ++id) {
        if (bus_.isPlugged(id)) addNode(id, bus_.device(id)->config());
    }
}

// Called without the lock: the bind mount looks the file up through the server.
void Emulation::addNode(DeviceId id, const SimDeviceConfig& c) {
    const std::string port = "1-" + std::to_string(id + 1);
    const fs::path usb = usbDeviceDir(id);
    const fs::path interface = usb / (port + ":1.0");
    const std::string hidName = "0003:" + hex4(c.vendorId, true) + ":" + hex4(c.productId, true) +
                                "." + hex4(++hidInstances_, true);
    const fs::path hid = interface / hidName;
    const std::string node = "hidraw" + std::to_string(id);
    const fs::path raw = hid / "hidraw" / node;
    fs::create_directories(raw);

    const std::string manufacturer = toUtf8(c.manufacturer);
    const std::string product = toUtf8(c.product);
    const std::string serial = toUtf8(c.serialNumber);
    const std::string productLine = "PRODUCT=" + hex4(c.vendorId) + "/" + hex4(c.productId) + "/" +
                                    hex4(c.releaseNumber) + "\n";
    writeFile(usb / "uevent", "DEVTYPE=usb_device\nDRIVER=usb\n" + productLine);
    writeFile(usb / "idVendor", hex4(c.vendorId) + "\n");
    writeFile(usb / "idProduct", hex4(c.productId) + "\n");
    writeFile(usb / "bcdDevice", hex4(c.releaseNumber) + "\n");
    writeFile(usb / "manufacturer", manufacturer + "\n");
    writeFile(usb / "product", product + "\n");
    writeFile(usb / "serial", serial + "\n");
    makeLink("/sys/bus/usb", usb / "subsystem");
    writeFile(interface / "uevent",
              "DEVTYPE=usb_interface\nDRIVER=usbhid\n" + productLine + "INTERFACE=3/0/0\n");
    writeFile(interface / "bInterfaceNumber", "00\n");
    makeLink("/sys/bus/usb", interface / "subsystem");
    writeFile(hid / "uevent", "DRIVER=hid-generic\nHID_ID=0003:0000" + hex4(c.vendorId, true) +
                                  ":0000" + hex4(c.productId, true) + "\nHID_NAME=" + manufacturer +
                                  " " + product + "\nHID_PHYS=usb-0000:00:14.0-" +
                                  std::to_string(id + 1) + "/input0\nHID_UNIQ=" + serial + "\n");
    const auto& descriptor = descriptors_.at(id);
    writeFile(
        hid / "report_descriptor",
        std::string_view(reinterpret_cast<const char*>(descriptor.data()), descriptor.size()));
    makeLink("/sys/bus/hid", hid / "subsystem");
    writeFile(raw / "uevent", "MAJOR=" + std::to_string(kHidrawMajor) +
                                  "\nMINOR=" + std::to_string(id) + "\nDEVNAME=" + node + "\n");
    writeFile(raw / "dev", devnum(id) + "\n");
    makeLink("/sys/class/hidraw", raw / "subsystem");
    makeLink(hid, raw / "device");
    makeLink(raw, "/sys/class/hidraw/" + node);
    makeLink(raw, "/sys/dev/char/" + devnum(id));

    const std::string path = nodePath(id);
    writeFile(path, "");
    ::mount((std::string(kNodeDir) + "/" + node).c_str(), path.c_str(), nullptr, MS_BIND, nullptr);
}

void Emulation::removeNode(DeviceId id) {
    const std::string path = nodePath(id);
    ::umount2(path.c_str(), MNT_DETACH);
    ::unlink(path.c_str());
    std::error_code ignored;
    fs::remove("/sys/class/hidraw/hidraw" + std::to_string(id), ignored);
    fs::remove("/sys/dev/char/" + devnum(id), ignored);
    fs::remove_all(usbDeviceDir(id), ignored);
}

void Emulation::unplug(DeviceId device) {
    if (!error_.empty() || !locked([&](SimulatedBus& bus) {
            if (!bus.isPlugged(device)) return false;
            bus.unplug(device);
            return true;
        })) {
        return;
    }
    removeNode(device);
}

void Emulation::plug(DeviceId device) {
    std::optional<SimDeviceConfig> config;
    locked([&](SimulatedBus& bus) {
        if (device >= bus.deviceCount() || bus.isPlugged(device)) return;
        bus.plug(device);
        config = bus.device(device)->config();
    });
    if (error_.empty() && config) addNode(device, *config);
}

std::string Emulation::nodePath(DeviceId device) {
    return "/dev/hidraw" + std::to_string(device);
}

ProgramRun Emulation::run(const std::vector<std::string>& argv, bool capture) {
    // Never outside a working emulation: the program would reach the host's real devices.
    if (argv.empty() || !error_.empty()) return {};
    auto env = environment();
    std::vector<std::string> args;
    for (const auto& a : argv) args.push_back(reachable_(a));
    return runProgram(args, env, capture);
}

std::vector<std::string> Emulation::environment() {
    // A sanitized program would refuse a preloaded library that comes before its runtime.
    std::vector<std::string> env = {"LD_PRELOAD=" + reachable_(preload_),
                                    "ASAN_OPTIONS=verify_asan_link_order=0"};
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string_view entry(*e);
        if (entry.starts_with("ASAN_OPTIONS=")) {
            env[1] += ":" + std::string(entry.substr(13));
        } else if (!entry.starts_with("LD_PRELOAD=")) {
            env.emplace_back(entry);
        }
    }
    return env;
}

}  // namespace quarvel
