#pragma once
// `quarvel-ctl watch --json` as a child process inside the emulation, and what it has shown.

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

namespace quarvel {

// A process's open file descriptors and resident memory, from /proc ("self" or a pid).
struct ProcessUsage {
    int fds = -1;
    long rssKb = -1;
};
ProcessUsage processUsage(const std::string& pid);

class WatchProcess {
  public:
    // Starts it with the emulation's environment; the caller must be inside the namespace.
    WatchProcess(const std::string& ctl, std::vector<std::string> environment,
                 const std::string& serial);
    ~WatchProcess();
    WatchProcess(const WatchProcess&) = delete;
    WatchProcess& operator=(const WatchProcess&) = delete;

    // Reads what it printed since the last call and follows its view of the device.
    void pump();
    // Empty while it runs; otherwise how it ended.
    std::optional<std::string> ended();
    // Asks it to stop (SIGTERM) and returns its exit status (-1: killed or not started).
    int stop();

    pid_t pid() const { return pid_; }
    bool connected() const { return connected_; }
    std::optional<bool> noGps() const { return noGps_; }
    std::optional<bool> noLock() const { return noLock_; }
    int losses() const { return losses_; }
    int returns() const { return returns_; }
    int stateLines() const { return stateLines_; }

  private:
    void line(const std::string& text);

    pid_t pid_ = -1;
    int output_ = -1;
    std::optional<int> exitStatus_;
    std::string partial_;
    bool connected_ = true;
    std::optional<bool> noGps_, noLock_;
    int losses_ = 0, returns_ = 0, stateLines_ = 0;
};

}  // namespace quarvel
