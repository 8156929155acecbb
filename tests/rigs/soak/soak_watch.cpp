#include "soak_watch.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <filesystem>
#include <fstream>
#include <vector>

namespace quarvel {

ProcessUsage processUsage(const std::string& pid) {
    ProcessUsage usage;
    std::error_code error;
    int fds = 0;
    for (auto it = std::filesystem::directory_iterator("/proc/" + pid + "/fd", error);
         !error && it != std::filesystem::directory_iterator(); it.increment(error)) {
        ++fds;
    }
    if (!error) usage.fds = fds;
    std::ifstream status("/proc/" + pid + "/status");
    for (std::string row; std::getline(status, row);) {
        if (row.rfind("VmRSS:", 0) == 0) usage.rssKb = std::stol(row.substr(6));
    }
    return usage;
}

WatchProcess::WatchProcess(const std::string& ctl, std::vector<std::string> env,
                           const std::string& serial) {
    // Everything the child needs is made before fork: other threads may hold locks.
    std::vector<std::string> argv = {ctl, "--serial", serial, "watch", "--json"};
    std::vector<char*> args, envp;
    for (auto& a : argv) args.push_back(a.data());
    for (auto& e : env) envp.push_back(e.data());
    args.push_back(nullptr);
    envp.push_back(nullptr);
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) return;
    pid_ = ::fork();
    if (pid_ == 0) {
        ::dup2(pipeFds[1], STDOUT_FILENO);
        ::execve(args[0], args.data(), envp.data());
        ::_exit(127);
    }
    ::close(pipeFds[1]);
    output_ = pipeFds[0];
    ::fcntl(output_, F_SETFL, O_NONBLOCK);
}

WatchProcess::~WatchProcess() {
    stop();
    if (output_ >= 0) ::close(output_);
}

void WatchProcess::pump() {
    std::array<char, 4096> chunk{};
    for (ssize_t n; (n = ::read(output_, chunk.data(), chunk.size())) > 0;) {
        partial_.append(chunk.data(), static_cast<std::size_t>(n));
    }
    for (auto end = partial_.find('\n'); end != std::string::npos; end = partial_.find('\n')) {
        line(partial_.substr(0, end));
        partial_.erase(0, end + 1);
    }
}

void WatchProcess::line(const std::string& text) {
    const auto has = [&text](const char* part) { return text.find(part) != std::string::npos; };
    if (has("\"event\":\"lost\"")) {
        connected_ = false;
        ++losses_;
    } else if (has("\"event\":\"back\"")) {
        connected_ = true;
        ++returns_;
    } else if (has("\"event\":\"state\"")) {
        noGps_ = has("\"LOS\":true");
        noLock_ = has("\"LOL\":true");
        ++stateLines_;
    }
}

std::optional<std::string> WatchProcess::ended() {
    if (pid_ <= 0) return "did not start";
    if (exitStatus_) return "exited with status " + std::to_string(*exitStatus_);
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) != pid_) return std::nullopt;
    exitStatus_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    if (WIFSIGNALED(status)) return "killed by signal " + std::to_string(WTERMSIG(status));
    return "exited with status " + std::to_string(*exitStatus_);
}

int WatchProcess::stop() {
    if (pid_ <= 0) return -1;
    if (!exitStatus_) {
        ::kill(pid_, SIGTERM);
        int status = 0;
        ::waitpid(pid_, &status, 0);
        exitStatus_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    pump();
    return *exitStatus_;
}

}  // namespace quarvel
