// quarvel-probe: which devices are attached and why one cannot be opened, without the window.

#include <iostream>
#include <string_view>
#include <vector>

#include "common/binary_output.h"
#include "device/hidapi_backend.h"
#include "probe_cli.h"

int main(int argc, char** argv) {
    quarvel::useBinaryStandardOutput();
    std::vector<std::string_view> args;
    for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
    if (args.size() == 1 && args[0] == "--version") {
        std::cout << "quarvel-probe " << QUARVEL_VERSION << '\n';
        return 0;
    }
    return quarvel::runProbe(args, quarvel::makeHidapiBackend, std::cout, std::cerr);
}
