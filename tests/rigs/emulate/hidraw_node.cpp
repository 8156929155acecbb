// The hidraw file interface over the simulated devices, served by FUSE: what the kernel's
// hidraw driver answers to open, read, poll, write and its ioctls, including its report-ID rules.

#define FUSE_USE_VERSION 35

#include <fuse.h>
#include <fuse_lowlevel.h>
#include <linux/hidraw.h>
#include <poll.h>
#include <sys/ioctl.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <optional>

#include "device/report_descriptor.h"
#include "emulation.h"
#include "emulation_server.h"

namespace quarvel {

namespace {

// Largest report the kernel's hidraw accepts (HID_MAX_BUFFER_SIZE).
constexpr std::size_t kMaxReport = 16384;

Emulation& self() {
    return *static_cast<Emulation*>(fuse_get_context()->private_data);
}

std::optional<DeviceId> deviceOfPath(const char* path) {
    const std::string_view name(path);
    constexpr std::string_view prefix = "/hidraw";
    if (!name.starts_with(prefix) || name.size() == prefix.size()) return std::nullopt;
    DeviceId id = 0;
    const auto* end = name.data() + name.size();
    const auto [ptr, ec] = std::from_chars(name.data() + prefix.size(), end, id);
    if (ec != std::errc() || ptr != end) return std::nullopt;
    return id;
}

unsigned withoutSize(unsigned cmd) {
    return cmd & ~(static_cast<unsigned>(_IOC_SIZEMASK) << _IOC_SIZESHIFT);
}

}  // namespace

int Emulation::Server::getattr(const char* path, struct stat* st, fuse_file_info*) {
    *st = {};
    if (std::strcmp(path, "/") == 0) {
        st->st_mode = S_IFDIR | 0755;
        st->st_nlink = 2;
        return 0;
    }
    // No lock here: lookups come while the emulation itself binds the files into /dev.
    if (!deviceOfPath(path)) return -ENOENT;
    // Root's only, as without a udev rule: another user's open fails like on a real system.
    st->st_mode = S_IFREG | 0600;
    st->st_nlink = 1;
    return 0;
}

int Emulation::Server::open(const char* path, fuse_file_info* fi) {
    const auto id = deviceOfPath(path);
    if (!id) return -ENOENT;
    Emulation& e = self();
    std::lock_guard guard(e.mutex_);
    const auto handle = e.bus_.open(e.bus_.path(*id), OpenMode::Plain);
    if (!handle) {
        const std::string why = e.bus_.errorText();
        return why == "Permission denied" ? -EACCES : why == "Input/output error" ? -EIO : -ENOENT;
    }
    fi->fh = *handle;
    fi->direct_io = 1;  // every read reaches us, one report each, no page cache
    fi->nonseekable = 1;
    return 0;
}

int Emulation::Server::release(const char*, fuse_file_info* fi) {
    self().locked([&](SimulatedBus& bus) { return bus.close(fi->fh); });
    return 0;
}

int Emulation::Server::read(const char*, char* out, std::size_t size, off_t, fuse_file_info* fi) {
    Emulation& e = self();
    std::lock_guard guard(e.mutex_);
    SimulatedBus& bus = e.bus_;
    const auto id = bus.deviceOf(fi->fh);
    if (!id || !bus.reachesDevice(fi->fh)) return -ENODEV;
    const SimDevice& model = *bus.device(*id);
    // Without report IDs the kernel hands over the data alone, without the ID byte 0.
    const std::size_t skip = e.server_->usesReportIds(*id) ? 0 : 1;
    std::vector<std::uint8_t> frame(model.inputLength(), 0);
    const bool faulted = bus.pendingFaults(*id, SimCall::ReadInput) > 0;
    if (!bus.readInput(fi->fh, frame)) {
        if (!bus.reachesDevice(fi->fh)) return -ENODEV;
        return faulted ? -EIO : -EAGAIN;
    }
    const std::size_t n = std::min(size, frame.size() > skip ? frame.size() - skip : 0);
    std::copy_n(frame.begin() + static_cast<std::ptrdiff_t>(skip), n, out);
    return static_cast<int>(n);
}

int Emulation::Server::write(const char*, const char*, std::size_t size, off_t,
                             fuse_file_info* fi) {
    // The generator has no output report; the transfer is accepted, as the kernel would.
    const bool alive = self().locked([&](SimulatedBus& bus) { return bus.reachesDevice(fi->fh); });
    return alive ? static_cast<int>(size) : -ENODEV;
}

int Emulation::Server::poll(const char*, fuse_file_info* fi, fuse_pollhandle* ph,
                            unsigned* revents) {
    // Only ever polled without waiting, so nobody needs to be woken later.
    if (ph != nullptr) fuse_pollhandle_destroy(ph);
    self().locked([&](SimulatedBus& bus) {
        const auto id = bus.deviceOf(fi->fh);
        if (!id || !bus.reachesDevice(fi->fh)) {
            *revents = POLLHUP | POLLERR;
            return;
        }
        const bool waiting = bus.device(*id)->inputMode() == InputMode::AlwaysWaiting ||
                             bus.queuedInputReports(*id) > 0;
        *revents = POLLOUT | (waiting ? POLLIN | POLLRDNORM : 0u);
    });
    return 0;
}

int Emulation::Server::ioctl(const char*, unsigned int cmd, void*, fuse_file_info* fi, unsigned,
                             void* data) {
    Emulation& e = self();
    std::lock_guard guard(e.mutex_);
    SimulatedBus& bus = e.bus_;
    const auto id = bus.deviceOf(fi->fh);
    if (!id || !bus.reachesDevice(fi->fh)) return -ENODEV;
    const SimDevice& model = *bus.device(*id);
    const auto found = e.descriptors_.find(*id);
    if (found == e.descriptors_.end()) return -ENODEV;
    const std::vector<std::uint8_t>& descriptor = found->second;
    const std::size_t size = _IOC_SIZE(cmd);
    if (cmd == HIDIOCGRDESCSIZE) {
        *static_cast<int*>(data) = static_cast<int>(descriptor.size());
        return 0;
    }
    if (cmd == HIDIOCGRDESC) {
        auto* out = static_cast<hidraw_report_descriptor*>(data);
        out->size = static_cast<std::uint32_t>(std::min(descriptor.size(), sizeof out->value));
        std::copy_n(descriptor.begin(), out->size, out->value);
        return 0;
    }
    if (cmd == HIDIOCGRAWINFO) {
        auto* out = static_cast<hidraw_devinfo*>(data);
        out->bustype = 3;  // BUS_USB
        out->vendor = static_cast<std::int16_t>(model.config().vendorId);
        out->product = static_cast<std::int16_t>(model.config().productId);
        return 0;
    }
    const bool setFeature = withoutSize(cmd) == withoutSize(HIDIOCSFEATURE(0));
    const bool getFeature = withoutSize(cmd) == withoutSize(HIDIOCGFEATURE(0));
    if (!setFeature && !getFeature) return -ENOTTY;
    // Byte 0 is the report number both ways; the kernel refuses transfers without a byte
    // after it and those beyond its buffer.
    if (size < 2 || size > kMaxReport) return -EINVAL;
    const std::span frame(static_cast<std::uint8_t*>(data), size);
    const bool ok = setFeature ? bus.setFeature(fi->fh, frame) : bus.getFeature(fi->fh, frame);
    if (!ok) return bus.reachesDevice(fi->fh) ? -EPIPE : -ENODEV;
    return static_cast<int>(setFeature ? size : std::min(size, model.featureLength()));
}

bool Emulation::Server::usesReportIds(DeviceId device) {
    const auto [it, isNew] = reportIds.try_emplace(device, false);
    if (isNew) {
        const auto found = owner.descriptors_.find(device);
        if (found == owner.descriptors_.end()) return false;
        const auto parsed = parseReportDescriptor(found->second);
        it->second = std::any_of(parsed.collections.begin(), parsed.collections.end(),
                                 [](const CollectionReports& c) { return c.usesReportIds; });
    }
    return it->second;
}

bool Emulation::Server::start(const std::string& where) {
    static const fuse_operations ops = [] {
        fuse_operations o{};
        o.getattr = getattr;
        o.open = open;
        o.release = release;
        o.read = read;
        o.write = write;
        o.poll = poll;
        o.ioctl = ioctl;
        return o;
    }();
    // Root mounts it; other users reach the files, and the kernel checks their permissions.
    char arg0[] = "quarvel-emulate";
    char arg1[] = "-oallow_other,default_permissions";
    char* argv[] = {arg0, arg1, nullptr};
    fuse_args args = FUSE_ARGS_INIT(2, argv);
    fs = fuse_new(&args, &ops, sizeof ops, &owner);
    fuse_opt_free_args(&args);
    if (fs == nullptr) return false;
    if (fuse_mount(fs, where.c_str()) != 0) return false;
    mounted = true;
    thread = std::thread([this] { serve(); });
    return true;
}

void Emulation::Server::serve() {
    fuse_session* const session = fuse_get_session(fs);
    const int fd = fuse_session_fd(session);
    fuse_buf buffer{};
    // Polled, so that stop() ends the loop without a request having to arrive.
    while (!stopping) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 50) <= 0) continue;
        const int got = fuse_session_receive_buf(session, &buffer);
        if (got == -EINTR || got == -EAGAIN) continue;
        if (got <= 0) break;
        fuse_session_process_buf(session, &buffer);
    }
    std::free(buffer.mem);
}

Emulation::Server::~Server() {
    stopping = true;
    if (thread.joinable()) thread.join();
    if (mounted) fuse_unmount(fs);
    if (fs != nullptr) fuse_destroy(fs);
}

}  // namespace quarvel
