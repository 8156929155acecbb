#include <iostream>
#include <string>
#include <vector>

#include "common/binary_output.h"
#include "plan_cli.h"

int main(int argc, char** argv) {
    quarvel::useBinaryStandardOutput();
    std::ios::sync_with_stdio(false);
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args == std::vector<std::string>{"--version"}) {
        std::cout << "quarvel-plan " << QUARVEL_VERSION << '\n';
        return 0;
    }
    const int status = quarvel::plan_cli::run(args, std::cin, std::cout, std::cerr);
    std::cout.flush();
    return status;
}
