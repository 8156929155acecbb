// quarvel-ctl on the real USB bus.

#include <csignal>
#include <iostream>
#include <thread>

#include "ctl_cli.h"
#include "device/hidapi_backend.h"

namespace {

// Set by SIGINT and SIGTERM; the loops look at it between their waits.
volatile std::sig_atomic_t stopSignal = 0;

void requestStop(int) {
    stopSignal = 1;
}

}  // namespace

int main(int argc, char** argv) {
    std::signal(SIGINT, requestStop);
    std::signal(SIGTERM, requestStop);
    const std::vector<std::string> args(argv + 1, argv + argc);
    const auto backend = quarvel::makeHidapiBackend();
    quarvel::ctl::Environment env(*backend);
    env.sleep = [](std::chrono::milliseconds wait) {
        // In short steps, so that a stop is seen within 50 ms.
        for (auto left = wait; left.count() > 0 && stopSignal == 0;
             left -= std::chrono::milliseconds(50)) {
            std::this_thread::sleep_for(std::min(left, std::chrono::milliseconds(50)));
        }
    };
    env.stopRequested = [] { return stopSignal != 0; };
    const int status = quarvel::ctl::run(args, env, std::cout, std::cerr);
    std::cout.flush();
    return status;
}
