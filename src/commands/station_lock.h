#pragma once
// One program at a time per generator: an advisory lock per serial number, in a folder that
// every user's programs share, so that a service, a cron job and the window never interleave
// their send sequences. The lock file says who holds it, for the one who waits.

#include <chrono>
#include <optional>
#include <string>

namespace quarvel {

class StationLock {
  public:
    StationLock() = default;
    StationLock(StationLock&& other) noexcept;
    StationLock& operator=(StationLock&& other) noexcept;
    StationLock(const StationLock&) = delete;
    StationLock& operator=(const StationLock&) = delete;
    ~StationLock();

    // /run/lock when it can be written (shared by every user), else $XDG_RUNTIME_DIR, else the
    // temporary folder; on Windows %ProgramData%\quarvel. Paths are UTF-8.
    static std::string defaultDirectory();

    // Takes the lock of the generator with this serial number unless another holds it; then it
    // is empty and heldBy says who holds it ("another program" when it does not say).
    static std::optional<StationLock> tryTake(const std::string& directory,
                                              const std::string& serial, const std::string& holder,
                                              std::string& heldBy);

    bool held() const { return fd_ >= 0; }

  private:
    explicit StationLock(int fd) : fd_(fd) {}
    int fd_ = -1;
};

// The window's hold on a generator for one send sequence. It waits only briefly and then sends
// without the lock, so that a program that keeps the lock can never freeze the window.
class SendSequenceLock {
  public:
    explicit SendSequenceLock(const std::string& serial,
                              std::chrono::milliseconds patience = std::chrono::milliseconds(300));

  private:
    std::optional<StationLock> lock_;
};

}  // namespace quarvel
