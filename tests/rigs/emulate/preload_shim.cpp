// Preloaded into programs that run inside the emulation (and linked into the tests that host
// it): the tmpfs over /sys passes for sysfs, whose magic libudev checks, and the emulated
// /dev/hidrawN files pass for character devices with the numbers their sysfs entries give,
// which hidapi looks up for an open device. Nothing else changes.

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

namespace {

constexpr long kSysfsMagic = 0x62656572;

template <class F>
F real(const char* name) {
    return reinterpret_cast<F>(::dlsym(RTLD_NEXT, name));
}

bool pathOfFd(int fd, char* out, std::size_t size) {
    char link[48];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    const ssize_t n = ::readlink(link, out, size - 1);
    if (n < 0) return false;
    out[n] = '\0';
    return true;
}

bool underSys(const char* path) {
    return std::strncmp(path, "/sys/", 5) == 0 || std::strcmp(path, "/sys") == 0;
}

// "/dev/hidrawN" -> the major:minor in /sys/class/hidraw/hidrawN/dev.
bool emulatedDevnum(const char* path, dev_t* devnum) {
    constexpr char prefix[] = "/dev/hidraw";
    if (std::strncmp(path, prefix, sizeof prefix - 1) != 0) return false;
    const char* digits = path + sizeof prefix - 1;
    if (*digits == '\0' || std::strspn(digits, "0123456789") != std::strlen(digits)) return false;
    char file[80];
    std::snprintf(file, sizeof file, "/sys/class/hidraw/hidraw%.16s/dev", digits);
    const int fd = ::open(file, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    char text[32] = {};
    const ssize_t n = ::read(fd, text, sizeof text - 1);
    ::close(fd);
    unsigned major = 0;
    unsigned minor = 0;
    if (n <= 0 || std::sscanf(text, "%u:%u", &major, &minor) != 2) return false;
    *devnum = makedev(major, minor);
    return true;
}

template <class Stat>
void asCharDevice(int fd, Stat* st) {
    if (!S_ISREG(st->st_mode)) return;
    char path[256];
    dev_t devnum = 0;
    if (!pathOfFd(fd, path, sizeof path) || !emulatedDevnum(path, &devnum)) return;
    st->st_mode = (st->st_mode & ~S_IFMT) | S_IFCHR;
    st->st_rdev = devnum;
}

template <class StatFs>
void asSysfs(int fd, StatFs* buf) {
    char path[256];
    if (pathOfFd(fd, path, sizeof path) && underSys(path)) buf->f_type = kSysfsMagic;
}

}  // namespace

extern "C" {

int fstat(int fd, struct stat* st) noexcept {
    static const auto next = real<int (*)(int, struct stat*)>("fstat");
    const int r = next(fd, st);
    if (r == 0) asCharDevice(fd, st);
    return r;
}

int fstat64(int fd, struct stat64* st) noexcept {
    static const auto next = real<int (*)(int, struct stat64*)>("fstat64");
    const int r = next(fd, st);
    if (r == 0) asCharDevice(fd, st);
    return r;
}

int fstatfs(int fd, struct statfs* buf) noexcept {
    static const auto next = real<int (*)(int, struct statfs*)>("fstatfs");
    const int r = next(fd, buf);
    if (r == 0) asSysfs(fd, buf);
    return r;
}

int fstatfs64(int fd, struct statfs64* buf) noexcept {
    static const auto next = real<int (*)(int, struct statfs64*)>("fstatfs64");
    const int r = next(fd, buf);
    if (r == 0) asSysfs(fd, buf);
    return r;
}

int statfs(const char* path, struct statfs* buf) noexcept {
    static const auto next = real<int (*)(const char*, struct statfs*)>("statfs");
    const int r = next(path, buf);
    if (r == 0 && underSys(path)) buf->f_type = kSysfsMagic;
    return r;
}

int statfs64(const char* path, struct statfs64* buf) noexcept {
    static const auto next = real<int (*)(const char*, struct statfs64*)>("statfs64");
    const int r = next(path, buf);
    if (r == 0 && underSys(path)) buf->f_type = kSysfsMagic;
    return r;
}

}  // extern "C"
