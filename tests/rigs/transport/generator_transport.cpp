#include "generator_transport.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <filesystem>
#include <iostream>

namespace quarvel {

namespace fs = std::filesystem;

namespace {

std::vector<std::uint8_t> generatorDescriptor(const SimDeviceConfig& config) {
    std::vector<std::uint8_t> d = {0x06, 0x00, 0xFF,  // usage page: vendor defined
                                   0x09, 0x01, 0xA1, 0x01, 0x15, 0x00,
                                   0x26, 0xFF, 0x00, 0x75, 0x08};  // collection, bytes 0 to 255
    const auto report = [&d](int length, std::uint8_t mainItem) {
        if (length <= 1) return;  // the ID byte alone carries no report
        const auto count = static_cast<unsigned>(length - 1);
        d.insert(d.end(), {0x96, static_cast<std::uint8_t>(count & 0xFF),
                           static_cast<std::uint8_t>(count >> 8), 0x09, 0x01, mainItem, 0x02});
    };
    report(config.inputReportLength, 0x81);
    report(config.outputReportLength, 0x91);
    report(config.featureReportLength, 0xB1);
    d.push_back(0xC0);
    return d;
}

bool everyoneReaches(const fs::path& file) {
    struct stat st {};
    if (::stat(file.c_str(), &st) != 0 || (st.st_mode & S_IROTH) == 0) return false;
    if ((st.st_mode & S_IXUSR) != 0 && (st.st_mode & S_IXOTH) == 0) return false;
    for (fs::path dir = file.parent_path(); !dir.empty(); dir = dir.parent_path()) {
        if (::stat(dir.c_str(), &st) != 0 || (st.st_mode & S_IXOTH) == 0) return false;
        if (dir == dir.root_path()) break;
    }
    return true;
}

}  // namespace

ReportDescriptors withGeneratorDescriptors(const SimulatedBus& bus, ReportDescriptors given) {
    for (DeviceId id = 0; id < bus.deviceCount(); ++id) {
        given.try_emplace(id, generatorDescriptor(bus.device(id)->config()));
    }
    return given;
}

std::string ReachableCopies::operator()(const std::string& path) {
    std::error_code ec;
    if (path.find('/') == std::string::npos || !fs::is_regular_file(path, ec)) return path;
    const fs::path file = fs::absolute(path, ec);
    if (everyoneReaches(file)) return path;
    if (const auto found = copies_.find(path); found != copies_.end()) return found->second;
    if (dir_.empty()) {
        std::string pattern = (fs::temp_directory_path(ec) / "quarvel-reach.XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) return path;
        dir_ = pattern;
        ::chmod(dir_.c_str(), 0755);
    }
    // One folder per copy keeps the file name: programs name themselves by it.
    const fs::path folder = fs::path(dir_) / std::to_string(copies_.size());
    fs::create_directory(folder, ec);
    ::chmod(folder.c_str(), 0755);
    const fs::path copy = folder / file.filename();
    fs::copy_file(file, copy, fs::copy_options::overwrite_existing, ec);
    if (ec) return path;
    ::chmod(copy.c_str(), 0755);
    return copies_.emplace(path, copy.string()).first->second;
}

ReachableCopies::~ReachableCopies() {
    std::error_code ignored;
    if (!dir_.empty()) fs::remove_all(dir_, ignored);
}

ProgramRun runProgram(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                      bool capture) {
    ProgramRun result;
    if (argv.empty()) return result;
    // Everything the child needs is made before fork: serving threads may hold locks.
    std::vector<char*> args;
    std::vector<char*> envp;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    for (const auto& e : env) envp.push_back(const_cast<char*>(e.c_str()));
    args.push_back(nullptr);
    envp.push_back(nullptr);
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) return result;
    const pid_t child = ::fork();
    if (child == 0) {
        if (capture) {
            ::dup2(pipeFds[1], STDOUT_FILENO);
            ::dup2(pipeFds[1], STDERR_FILENO);
        }
        ::execvpe(args[0], args.data(), envp.data());
        ::_exit(127);
    }
    ::close(pipeFds[1]);
    if (child > 0) {
        std::array<char, 4096> chunk{};
        for (ssize_t n; (n = ::read(pipeFds[0], chunk.data(), chunk.size())) > 0;) {
            result.output.append(chunk.data(), static_cast<std::size_t>(n));
        }
        int status = 0;
        ::waitpid(child, &status, 0);
        if (WIFEXITED(status)) result.exitStatus = WEXITSTATUS(status);
    }
    ::close(pipeFds[0]);
    return result;
}

std::vector<std::string> readGeneratorCommand(int argc, char** argv, SimulatedBus& bus,
                                              std::map<std::string, std::string>& options,
                                              std::string_view usage) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--") {
            if (bus.deviceCount() == 0) bus.addDevice();
            return {argv + i + 1, argv + argc};
        }
        if (i + 1 >= argc) break;
        if (arg == "-g" || arg == "--generator") {
            const std::string serial = argv[++i];
            bus.addDevice({.serialNumber = std::u16string(serial.begin(), serial.end())});
        } else if (options.contains(arg)) {
            options[arg] = argv[++i];
        } else {
            break;
        }
    }
    std::cerr << usage;
    return {};
}

}  // namespace quarvel
