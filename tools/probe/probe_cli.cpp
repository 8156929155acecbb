#include "probe_cli.h"

#include <QString>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <optional>
#include <ostream>
#include <string>

#include "device/device_text.h"
#include "device/probe_report.h"
#include "device/report_descriptor.h"

namespace quarvel {

namespace {

// Descriptors are at most 4 KiB; anything far larger is not one.
constexpr std::size_t kMaxHexFileBytes = 1 << 20;

constexpr const char* kUsage =
    "Usage: quarvel-probe [--descriptor FILE | --help]\n"
    "\n"
    "Without arguments, lists the attached devices with vendor ID 0x6B4E and product ID\n"
    "0x3C59: path, serial number, manufacturer, product, release, report lengths, and\n"
    "whether each can be opened (with the operating system's reason when not).\n"
    "\n"
    "  --descriptor FILE  print the input, output and feature report lengths of each\n"
    "                     top-level collection of a report descriptor given as hex text\n"
    "                     (whitespace-separated bytes, e.g. \"05 01 09 02 A1 01 ...\")\n"
    "  --help             show this text\n"
    "\n"
    "Exit status: 0 success, 1 a device cannot be opened, 2 usage error or unreadable file.\n";

std::optional<std::string> readSmallFile(const std::string& path, std::string& error) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        error = std::strerror(errno);
        return std::nullopt;
    }
    std::string text(kMaxHexFileBytes + 1, '\0');
    file.read(text.data(), static_cast<std::streamsize>(text.size()));
    if (file.bad()) {
        error = errno != 0 ? std::strerror(errno) : "read error";
        return std::nullopt;
    }
    text.resize(static_cast<std::size_t>(file.gcount()));
    if (text.size() > kMaxHexFileBytes) {
        error = "larger than 1 MiB, not a report descriptor";
        return std::nullopt;
    }
    return text;
}

int describeFile(const std::string& path, std::ostream& out, std::ostream& err) {
    std::string error;
    const auto text = readSmallFile(path, error);
    if (!text) {
        err << "quarvel-probe: cannot read " << path << ": " << error << '\n';
        return kProbeUsageError;
    }
    const HexBytes hex = parseHexBytes(*text);
    if (!hex.error.empty()) {
        err << "quarvel-probe: " << path << ": " << hex.error << '\n';
        return kProbeUsageError;
    }
    out << describeDescriptor(hex.bytes);
    return kProbeOk;
}

}  // namespace

int runProbe(std::span<const std::string_view> args,
             const std::function<std::unique_ptr<HidBackend>()>& makeBackend, std::ostream& out,
             std::ostream& err) {
    const auto usageError = [&](const std::string& message) {
        err << "quarvel-probe: " << message << "\nTry 'quarvel-probe --help'.\n";
        return kProbeUsageError;
    };
    if (args.empty()) {
        const auto backend = makeBackend();
        const ProbeOutcome outcome = probeDevices(*backend);
        out << outcome.text;
        return outcome.exitStatus;
    }
    const std::string_view first = args[0];
    if (first == "--help" || first == "-h") {
        if (args.size() > 1) return usageError("--help takes no argument");
        out << kUsage;
        return kProbeOk;
    }
    constexpr std::string_view descriptorOption = "--descriptor";
    if (first == descriptorOption) {
        if (args.size() != 2) return usageError("--descriptor takes one file name");
        return describeFile(std::string(args[1]), out, err);
    }
    if (first.starts_with("--descriptor=")) {
        if (args.size() != 1) return usageError("too many arguments");
        const auto path = first.substr(descriptorOption.size() + 1);
        if (path.empty()) return usageError("--descriptor takes one file name");
        return describeFile(std::string(path), out, err);
    }
    return usageError("unknown argument '" + printable(QString::fromUtf8(first)) + "'");
}

}  // namespace quarvel
