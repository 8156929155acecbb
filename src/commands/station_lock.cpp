#include "commands/station_lock.h"

#include <cstdlib>
#include <filesystem>
#include <thread>
#include <utility>

#if defined(__unix__)
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace quarvel {

namespace {

// The serial number comes from the device: only safe characters reach the file name.
std::string fileName(const std::string& serial) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string name = "quarvel-";
    for (const unsigned char c : serial) {
        if ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
            c == '-' || c == '_') {
            name += static_cast<char>(c);
        } else {
            name += {'%', kHex[c >> 4], kHex[c & 15]};
        }
    }
    return name + ".lock";
}

#if defined(__unix__)
// Opens the lock file without following a link; another user's file in a sticky folder can
// only be opened as it is, never created over.
int openLockFile(const std::string& path, bool& writable) {
    for (int attempt = 0; attempt < 3; ++attempt) {
        writable = true;
        int fd = open(path.c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0 && errno == EACCES) {
            writable = false;
            fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
        }
        if (fd >= 0 || errno != ENOENT) return fd;
        fd = open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd >= 0) {
            fchmod(fd, 0666);  // whatever the umask: every user's programs take the same lock
            return fd;
        }
        if (errno != EEXIST) return -1;
    }
    return -1;
}

std::string readHolder(int fd) {
    char text[160] = {};
    const auto n = pread(fd, text, sizeof text - 1, 0);
    std::string holder;
    for (ssize_t i = 0; i < n && text[i] != '\n'; ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        holder += c >= 0x20 && c < 0x7f ? static_cast<char>(c) : '?';
    }
    return holder.empty() ? "another program" : holder;
}
#endif

}  // namespace

StationLock::StationLock(StationLock&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

StationLock& StationLock::operator=(StationLock&& other) noexcept {
    if (this != &other) {
        StationLock old(std::move(*this));
        fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
}

StationLock::~StationLock() {
#if defined(__unix__)
    if (fd_ >= 0) close(fd_);  // closing releases the lock
#endif
}

std::string StationLock::defaultDirectory() {
#if defined(__unix__)
    if (access("/run/lock", W_OK | X_OK) == 0) return "/run/lock";
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime) return runtime;
#endif
    std::error_code ignored;
    return std::filesystem::temp_directory_path(ignored).string();
}

std::optional<StationLock> StationLock::tryTake(const std::string& directory,
                                                const std::string& serial,
                                                const std::string& holder, std::string& heldBy) {
#if defined(__unix__)
    bool writable = false;
    const int fd = openLockFile(directory + "/" + fileName(serial), writable);
    // A folder where no lock file can be made keeps nobody from the device.
    if (fd < 0) return StationLock();
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        heldBy = readHolder(fd);
        close(fd);
        return std::nullopt;
    }
    if (writable && ftruncate(fd, 0) == 0) {
        const std::string line = holder + "\n";
        [[maybe_unused]] const auto written = pwrite(fd, line.data(), line.size(), 0);
    }
    return StationLock(fd);
#else
    (void)directory, (void)serial, (void)holder, (void)heldBy;
    return StationLock();
#endif
}

SendSequenceLock::SendSequenceLock(const std::string& serial, std::chrono::milliseconds patience) {
    const std::string directory = StationLock::defaultDirectory();
#if defined(__unix__)
    const std::string holder = "quarvel-config, process " + std::to_string(getpid());
#else
    const std::string holder = "quarvel-config";
#endif
    const auto until = std::chrono::steady_clock::now() + patience;
    std::string heldBy;
    while (!(lock_ = StationLock::tryTake(directory, serial, holder, heldBy)) &&
           std::chrono::steady_clock::now() < until) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

}  // namespace quarvel
