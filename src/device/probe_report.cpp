#include "device/probe_report.h"

#include <QString>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <ostream>
#include <sstream>

#include "device/device_text.h"
#include "device/report_descriptor.h"

namespace quarvel {

namespace {

// USB string descriptors hold at most 126 UTF-16 units; the probe shows them whole.
constexpr std::size_t kProbeStringUnits = 126;
// The frames the tool exchanges: the status report is read up to byte 21, and input reports
// are read into a 65-byte buffer.
constexpr int kMinFeatureLength = 22;
constexpr int kMaxInputLength = 65;
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

constexpr const char* kUdevText =
    "On Linux a device that cannot be opened nearly always lacks a udev rule. The rule file\n"
    "packaging/70-quarvel.rules is shipped with quarvel-config; install it with\n"
    "  sudo cp packaging/70-quarvel.rules /etc/udev/rules.d/\n"
    "  sudo udevadm control --reload && sudo udevadm trigger\n";

std::string hex4(unsigned value) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%04X", value & 0xFFFFu);
    return text;
}

// Device strings and paths go to a terminal: control characters must not reach it.
std::string printable(const QString& text) {
    QString clean;
    for (const QChar c : text) clean.append(c.category() == QChar::Other_Control ? QChar('?') : c);
    return clean.toStdString();
}

std::string deviceString(HidBackend& backend, HidHandleId handle, HidString which) {
    const auto units = backend.string(handle, which, kProbeStringUnits);
    if (!units) return "(cannot be read)";
    return printable(QString::fromStdU16String(*units));
}

void describeDevice(HidBackend& backend, HidHandleId handle, std::ostream& out) {
    if (const auto units = backend.string(handle, HidString::SerialNumber, kProbeStringUnits)) {
        const QString full = QString::fromStdU16String(*units);
        out << "  Serial number:  " << printable(full);
        // The tool keeps only the low byte of each unit; say so where that changes the text.
        if (const QString listed = deviceText(*units); listed != full) {
            out << " (listed as \"" << printable(listed) << "\")";
        }
        out << '\n';
    } else {
        out << "  Serial number:  (cannot be read; the tool will not list this device)\n";
    }
    out << "  Manufacturer:   " << deviceString(backend, handle, HidString::Manufacturer) << '\n';
    out << "  Product:        " << deviceString(backend, handle, HidString::Product) << '\n';
    const auto attributes = backend.attributes(handle);
    out << "  Release:        "
        << (attributes ? formatRelease(attributes->releaseNumber) : "(cannot be read)") << '\n';
    const auto lengths = backend.reportLengths(handle);
    if (!lengths) {
        out << "  Report lengths: (cannot be read)\n";
        return;
    }
    out << "  Report lengths: input " << lengths->input << ", output " << lengths->output
        << ", feature " << lengths->feature << " bytes (report ID byte included)\n";
    if (lengths->feature < kMinFeatureLength) {
        out << "  Note:           the feature report is shorter than the " << kMinFeatureLength
            << " bytes the tool's commands need\n";
    }
    if (lengths->input > kMaxInputLength) {
        out << "  Note:           input reports longer than " << kMaxInputLength
            << " bytes are not supported\n";
    }
}

std::string padLeft(const std::string& text, std::size_t width) {
    return text.size() >= width ? text : std::string(width - text.size(), ' ') + text;
}

std::string reportIdList(const CollectionReports& tlc) {
    if (!tlc.usesReportIds) return "none";
    std::string list;
    for (const std::uint32_t id : tlc.reportIds) {
        char text[16];
        std::snprintf(text, sizeof text, "0x%02X", static_cast<unsigned>(id));
        if (!list.empty()) list += ' ';
        list += text;
    }
    return list;
}

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

std::string formatRelease(std::uint16_t release) {
    return releaseText(release, QLocale::c()).trimmed().toStdString();
}

ProbeOutcome probeDevices(HidBackend& backend, bool udevHint) {
    std::ostringstream out;
    ProbeOutcome outcome;
    int count = 0;
    for (const HidInterface& hid : backend.enumerate()) {
        if (hid.vendorId != kVendorId || hid.productId != kProductId) continue;
        ++count;
        out << (count > 1 ? "\n" : "") << "Device " << count << ": "
            << printable(QString::fromStdString(hid.path)) << '\n';
        const auto handle = backend.open(hid.path, OpenMode::Plain);
        if (!handle) {
            out << "  Can be opened:  no ("
                << printable(QString::fromStdString(backend.errorText())) << ")\n";
            outcome.exitStatus = kProbeCannotOpen;
            continue;
        }
        describeDevice(backend, *handle, out);
        // The tool opens every device twice, the second time for input reports.
        if (const auto reads = backend.open(hid.path, OpenMode::Reads)) {
            backend.close(*reads);
            out << "  Can be opened:  yes\n";
        } else {
            out << "  Can be opened:  no, not a second time for input reports ("
                << printable(QString::fromStdString(backend.errorText())) << ")\n";
            outcome.exitStatus = kProbeCannotOpen;
        }
        backend.close(*handle);
    }
    const std::string ids = "vendor ID " + hex4(kVendorId) + " and product ID " + hex4(kProductId);
    if (count == 0) {
        outcome.text = "No device with " + ids + " was found.\n";
        return outcome;
    }
    outcome.text = std::to_string(count) + (count == 1 ? " device" : " devices") + " with " + ids +
                   " found.\n\n" + out.str();
    if (outcome.exitStatus != kProbeOk && udevHint) outcome.text += std::string("\n") + kUdevText;
    return outcome;
}

std::string describeDescriptor(std::span<const std::uint8_t> bytes) {
    const ParsedDescriptor parsed = parseReportDescriptor(bytes);
    std::ostringstream out;
    const std::size_t count = parsed.collections.size();
    out << bytes.size() << (bytes.size() == 1 ? " byte, " : " bytes, ") << count
        << (count == 1 ? " top-level collection" : " top-level collections") << ".\n";
    if (count > 0) {
        out << "Lengths in bytes, report ID byte included (also without report IDs).\n\n"
            << "TLC  Usage page:usage   Input  Output  Feature  Report IDs\n";
        // The usage column is as wide as its heading.
        for (std::size_t i = 0; i < count; ++i) {
            const CollectionReports& tlc = parsed.collections[i];
            out << padLeft(std::to_string(i), 3) << "  " << hex4(tlc.usage.page) << ':'
                << hex4(tlc.usage.usage) << "     " << padLeft(std::to_string(tlc.lengths.input), 6)
                << "  " << padLeft(std::to_string(tlc.lengths.output), 6) << "  "
                << padLeft(std::to_string(tlc.lengths.feature), 7) << "  " << reportIdList(tlc)
                << '\n';
        }
        if (count > 1) {
            const ReportLengths longest = longestLengths(parsed);
            out << "\nLongest of each kind (one handle on the whole interface, as on Linux): "
                << "input " << longest.input << ", output " << longest.output << ", feature "
                << longest.feature << '\n';
        }
    }
    const auto issues = describeIssues(parsed.issues);
    if (!issues.empty()) out << '\n';
    for (const std::string& issue : issues) out << "Warning: " << issue << ".\n";
    return out.str();
}

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
