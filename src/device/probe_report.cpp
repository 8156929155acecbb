#include "device/probe_report.h"

#include <QString>
#include <cstdio>
#include <sstream>

#include "device/device_text.h"
#include "device/report_descriptor.h"

namespace quarvel {

namespace {

// The frames the tool exchanges: the status report is read up to byte 21, and input reports
// are read into a 65-byte buffer.
constexpr int kMinFeatureLength = 22;
constexpr int kMaxInputLength = 65;

std::string hex4(unsigned value) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%04X", value & 0xFFFFu);
    return text;
}

std::string shown(const std::optional<std::u16string>& units) {
    return units ? printable(QString::fromStdU16String(*units)) : "(cannot be read)";
}

void describeDevice(const ListedGenerator& g, std::ostream& out) {
    if (g.serial) {
        const QString full = QString::fromStdU16String(*g.serial);
        out << "  Serial number:  " << printable(full);
        // The tool keeps only the low byte of each unit; say so where that changes the text.
        if (const QString listed = deviceText(*g.serial); listed != full) {
            out << " (listed as \"" << printable(listed) << "\")";
        }
        out << '\n';
    } else {
        out << "  Serial number:  (cannot be read; the tool will not list this device)\n";
    }
    out << "  Manufacturer:   " << shown(g.manufacturer) << '\n';
    out << "  Product:        " << shown(g.product) << '\n';
    out << "  Release:        "
        << (g.attributes ? formatRelease(g.attributes->releaseNumber) : "(cannot be read)") << '\n';
    if (!g.lengths) {
        out << "  Report lengths: (cannot be read)\n";
        return;
    }
    const ReportLengths& lengths = *g.lengths;
    out << "  Report lengths: input " << lengths.input << ", output " << lengths.output
        << ", feature " << lengths.feature << " bytes (report ID byte included)\n";
    if (lengths.feature < kMinFeatureLength) {
        out << "  Note:           the feature report is shorter than the " << kMinFeatureLength
            << " bytes the tool's commands need\n";
    }
    if (lengths.input > kMaxInputLength) {
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

}  // namespace

ProbeOutcome probeDevices(HidBackend& backend, bool udevHint) {
    std::ostringstream out;
    ProbeOutcome outcome;
    bool adviseAccess = false;
    const std::vector<ListedGenerator> listed = listGenerators(backend, ListDetail::Identity);
    for (std::size_t i = 0; i < listed.size(); ++i) {
        const ListedGenerator& g = listed[i];
        out << (i > 0 ? "\n" : "") << "Device " << i + 1 << ": "
            << printable(QString::fromStdString(g.path)) << '\n';
        if (g.refusal) {
            outcome.exitStatus = kProbeCannotOpen;
            adviseAccess = adviseAccess || !g.refusal->gone;
        }
        const std::string why =
            g.refusal ? " (" + printable(QString::fromStdString(refusalReason(*g.refusal))) + ")\n"
                      : "";
        if (g.refusal && g.refusal->mode == OpenMode::Plain) {
            out << "  Can be opened:  no" << why;
            continue;
        }
        describeDevice(g, out);
        out << (g.refusal ? "  Can be opened:  no, not a second time for input reports" + why
                          : "  Can be opened:  yes\n");
    }
    const std::string ids = "vendor ID " + hex4(kVendorId) + " and product ID " + hex4(kProductId);
    if (listed.empty() && !backend.startFailure().empty()) {
        outcome.text = nothingListed(backend) + "\n";
        outcome.exitStatus = kProbeCannotOpen;
        return outcome;
    }
    if (listed.empty()) {
        outcome.text = "No device with " + ids + " was found.\n";
        return outcome;
    }
    outcome.text = std::to_string(listed.size()) + (listed.size() == 1 ? " device" : " devices") +
                   " with " + ids + " found.\n\n" + out.str();
    if (adviseAccess && udevHint) {
        outcome.text +=
            "\nOn Linux a device that cannot be opened nearly always lacks a udev "
            "rule: " +
            accessAdvice() +
            ". The rule file packaging/70-quarvel.rules is shipped with "
            "quarvel-config; install it with\n"
            "  sudo cp packaging/70-quarvel.rules /etc/udev/rules.d/\n"
            "  sudo udevadm control --reload && sudo udevadm trigger\n";
    }
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

}  // namespace quarvel
