// quarvel-ctl on the real USB bus.

#include <csignal>
#include <iostream>

#include "common/binary_output.h"
#include "ctl_cli.h"
#include "ctl_output.h"
#include "ctl_wait.h"
#include "device/hidapi_backend.h"

#if defined(__unix__)
#include <fcntl.h>
#include <unistd.h>
#endif

namespace {

// The signal (SIGINT, SIGTERM) that asked to stop; the loops look at it between their waits.
volatile std::sig_atomic_t stopSignal = 0;
// Made readable by a stop, so that a wait in progress ends at once.
int wakePipe[2] = {-1, -1};

void requestStop(int signal) {
    stopSignal = signal;
#if defined(__unix__)
    if (wakePipe[1] >= 0) {
        const char byte = 1;
        [[maybe_unused]] const auto written = write(wakePipe[1], &byte, 1);
    }
#endif
}

}  // namespace

int main(int argc, char** argv) {
    quarvel::useBinaryStandardOutput();
#if defined(__unix__)
    if (pipe2(wakePipe, O_NONBLOCK | O_CLOEXEC) != 0) wakePipe[0] = wakePipe[1] = -1;
    // A reader that went away is an error of the write, reported as such, not a silent death.
    std::signal(SIGPIPE, SIG_IGN);
#endif
    std::signal(SIGINT, requestStop);
    std::signal(SIGTERM, requestStop);
#if defined(SIGBREAK)
    std::signal(SIGBREAK, requestStop);  // Ctrl+Break in a Windows console
#endif
    const std::vector<std::string> args(argv + 1, argv + argc);
    const auto backend = quarvel::makeHidapiBackend();
    quarvel::ctl::Environment env(*backend);
    env.stopRequested = [] { return static_cast<int>(stopSignal); };
    env.sleep =
        quarvel::ctl::deadlineSleep([] { return std::chrono::steady_clock::now(); },
                                    quarvel::ctl::systemPause(wakePipe[0]), env.stopRequested);
    quarvel::ctl::FileOutput standardOutput(1);
    env.outputGone = [&standardOutput] { return standardOutput.readerGone(); };
    std::ostream out(&standardOutput);
    return quarvel::ctl::run(args, env, out, std::cerr);
}
