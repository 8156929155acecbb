#include "commands/station_lock.h"

#include <QCoreApplication>
#include <QString>
#include <cstdlib>
#include <filesystem>
#include <thread>
#include <utility>

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#else
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

std::string printableHolder(const char* text, long length) {
    std::string holder;
    for (long i = 0; i < length && text[i] != '\n'; ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        holder += c >= 0x20 && c < 0x7f ? static_cast<char>(c) : '?';
    }
    return holder.empty() ? "another program" : holder;
}

#if defined(_WIN32)
// A byte far beyond the holder's line: a locked byte cannot be read by others, the line can.
constexpr DWORD kLockedByteHigh = 1;

HANDLE handleOf(int fd) {
    return reinterpret_cast<HANDLE>(_get_osfhandle(fd));
}

// Paths are UTF-8 here; Windows takes them as UTF-16. Another user's file is opened read-only.
int openLockFile(const std::string& path, bool& writable) {
    const std::wstring wide = QString::fromStdString(path).toStdWString();
    int fd = -1;
    writable = true;
    _wsopen_s(&fd, wide.c_str(), _O_RDWR | _O_CREAT | _O_BINARY | _O_NOINHERIT, _SH_DENYNO,
              _S_IREAD | _S_IWRITE);
    if (fd < 0 && errno == EACCES) {
        writable = false;
        _wsopen_s(&fd, wide.c_str(), _O_RDONLY | _O_BINARY | _O_NOINHERIT, _SH_DENYNO, 0);
    }
    return fd;
}

bool lockExclusively(int fd) {
    OVERLAPPED at{};
    at.OffsetHigh = kLockedByteHigh;
    return LockFileEx(handleOf(fd), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0,
                      &at) != 0;
}

void closeLockFile(int fd) {
    OVERLAPPED at{};
    at.OffsetHigh = kLockedByteHigh;
    UnlockFileEx(handleOf(fd), 0, 1, 0, &at);  // at once: closing alone may release it late
    _close(fd);
}

std::string readHolder(int fd) {
    char text[160] = {};
    _lseek(fd, 0, SEEK_SET);
    return printableHolder(text, _read(fd, text, sizeof text - 1));
}

void writeHolder(int fd, const std::string& line) {
    if (_chsize(fd, 0) == 0 && _lseek(fd, 0, SEEK_SET) == 0) {
        [[maybe_unused]] const auto written =
            _write(fd, line.data(), static_cast<unsigned>(line.size()));
    }
}
#else
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

bool lockExclusively(int fd) {
    return flock(fd, LOCK_EX | LOCK_NB) == 0;
}

void closeLockFile(int fd) {
    close(fd);  // closing releases the lock
}

std::string readHolder(int fd) {
    char text[160] = {};
    return printableHolder(text, pread(fd, text, sizeof text - 1, 0));
}

void writeHolder(int fd, const std::string& line) {
    if (ftruncate(fd, 0) == 0) {
        [[maybe_unused]] const auto written = pwrite(fd, line.data(), line.size(), 0);
    }
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
    if (fd_ >= 0) closeLockFile(fd_);
}

std::string StationLock::defaultDirectory() {
    std::error_code ignored;
#if defined(_WIN32)
    // Every user's programs and the services see %ProgramData%; %TEMP% is each user's own.
    if (const wchar_t* shared = _wgetenv(L"ProgramData"); shared && *shared) {
        const std::filesystem::path folder = std::filesystem::path(shared) / L"quarvel";
        std::filesystem::create_directories(folder, ignored);
        if (std::filesystem::is_directory(folder, ignored)) {
            return QString::fromStdWString(folder.wstring()).toStdString();
        }
    }
    return QString::fromStdWString(std::filesystem::temp_directory_path(ignored).wstring())
        .toStdString();
#else
    if (access("/run/lock", W_OK | X_OK) == 0) return "/run/lock";
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime) return runtime;
    return std::filesystem::temp_directory_path(ignored).string();
#endif
}

std::optional<StationLock> StationLock::tryTake(const std::string& directory,
                                                const std::string& serial,
                                                const std::string& holder, std::string& heldBy) {
    bool writable = false;
    const int fd = openLockFile(directory + "/" + fileName(serial), writable);
    // A folder where no lock file can be made keeps nobody from the device.
    if (fd < 0) return StationLock();
    if (!lockExclusively(fd)) {
        heldBy = readHolder(fd);
        closeLockFile(fd);
        return std::nullopt;
    }
    if (writable) writeHolder(fd, holder + "\n");
    return StationLock(fd);
}

SendSequenceLock::SendSequenceLock(const std::string& serial, std::chrono::milliseconds patience) {
    const std::string directory = StationLock::defaultDirectory();
    const std::string holder =
        "quarvel-config, process " + std::to_string(QCoreApplication::applicationPid());
    const auto until = std::chrono::steady_clock::now() + patience;
    std::string heldBy;
    while (!(lock_ = StationLock::tryTake(directory, serial, holder, heldBy)) &&
           std::chrono::steady_clock::now() < until) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

}  // namespace quarvel
