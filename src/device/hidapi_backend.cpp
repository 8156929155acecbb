#include "device/hidapi_backend.h"

#include <hidapi.h>

#include <QString>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>

#include "device/report_descriptor.h"

#ifdef __linux__
#include <locale.h>
#include <unistd.h>

#include <filesystem>
#endif

namespace quarvel {

namespace {

// USB string descriptors hold at most 126 code units; this only bounds the buffer.
constexpr std::size_t kMaxStringUnits = 4096;
// The kernel's HID_MAX_DESCRIPTOR_SIZE.
constexpr std::size_t kMaxDescriptorBytes = 4096;

struct DeviceCloser {
    void operator()(hid_device* device) const { hid_close(device); }
};
using DevicePtr = std::unique_ptr<hid_device, DeviceCloser>;

// What enumeration told about a path. hidapi lists a path once per top-level usage when one
// handle (a hidraw node, a macOS interface) carries several top-level collections.
struct PathRecord {
    HidAttributes attributes;
    std::vector<UsagePair> usages;
};

struct DescriptorFacts {
    ReportLengths lengths;
    bool usesReportIds = false;
};

struct OpenDevice {
    DevicePtr device;
    std::string path;
    std::optional<DescriptorFacts> facts;  // read on first use
};

std::string fromWide(const wchar_t* text) {
    return text == nullptr ? std::string() : QString::fromWCharArray(text).toStdString();
}

// A system message for the middle of a sentence: without its line break and final stop.
std::string trimmedReason(const std::string& text) {
    QString reason = QString::fromStdString(text).trimmed();
    while (reason.endsWith('.')) reason.chop(1);
    return reason.isEmpty() ? "hid_init failed" : reason.toStdString();
}

// wchar_t is UTF-32 on Linux and macOS, UTF-16 on Windows. At most maxUnits UTF-16 units;
// a pair cut by the limit keeps its first half, as a UTF-16 buffer of that size would.
std::u16string toUtf16(const std::vector<wchar_t>& text, std::size_t maxUnits) {
    std::u16string out;
    for (std::size_t i = 0; i < text.size() && text[i] != 0 && out.size() < maxUnits; ++i) {
        auto code = static_cast<std::uint32_t>(text[i]);
        if constexpr (sizeof(wchar_t) == 2) {
            out.push_back(static_cast<char16_t>(code & 0xFFFFu));
        } else {
            if (code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) code = 0xFFFD;
            if (code < 0x10000) {
                out.push_back(static_cast<char16_t>(code));
            } else {
                code -= 0x10000;
                out.push_back(static_cast<char16_t>(0xD800 + (code >> 10)));
                if (out.size() < maxUnits) {
                    out.push_back(static_cast<char16_t>(0xDC00 + (code & 0x3FFu)));
                }
            }
        }
    }
    return out;
}

#ifdef __linux__
// "/dev/hidrawN" -> "hidrawN"; anything else (which could lead elsewhere in /sys) -> empty.
std::string hidrawNodeName(const std::string& path) {
    constexpr std::string_view prefix = "/dev/hidraw";
    if (!path.starts_with(prefix) || path.size() == prefix.size()) return {};
    const auto digits = std::string_view(path).substr(prefix.size());
    if (!std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return {};
    }
    return path.substr(std::string_view("/dev/").size());
}
#endif

#ifdef __linux__
struct HidrawNodes {
    std::string fingerprint;  // empty when the list cannot be read
    std::size_t count = 0;
};

// Each hidraw node with the device it is bound to ("0003:VID:PID.instance" in the link, a new
// instance for every plug-in), in a few system calls.
HidrawNodes hidrawNodes() {
    std::error_code error;
    std::vector<std::string> nodes;
    for (const auto& entry : std::filesystem::directory_iterator("/sys/class/hidraw", error)) {
        std::error_code ignored;
        nodes.push_back(entry.path().filename().string() + " " +
                        std::filesystem::read_symlink(entry.path(), ignored).string());
    }
    if (error) return {};
    std::sort(nodes.begin(), nodes.end());
    std::string fingerprint = "hidraw";
    for (const auto& node : nodes) fingerprint += "\n" + node;
    return {fingerprint, nodes.size()};
}
#endif

std::optional<std::vector<std::uint8_t>> readDescriptor([[maybe_unused]] hid_device* device,
                                                        [[maybe_unused]] const std::string& path) {
#if HID_API_VERSION >= HID_API_MAKE_VERSION(0, 14, 0)
    std::vector<std::uint8_t> bytes(HID_API_MAX_REPORT_DESCRIPTOR_SIZE);
    const int read = hid_get_report_descriptor(device, bytes.data(), bytes.size());
    if (read < 0) return std::nullopt;
    bytes.resize(std::min(bytes.size(), static_cast<std::size_t>(read)));
    return bytes;
#elif defined(__linux__)
    // Older hidapi has no call for it, but sysfs offers the descriptor to anyone.
    const std::string node = hidrawNodeName(path);
    if (node.empty()) return std::nullopt;
    std::ifstream file("/sys/class/hidraw/" + node + "/device/report_descriptor", std::ios::binary);
    if (!file) return std::nullopt;
    std::vector<char> raw(kMaxDescriptorBytes);
    file.read(raw.data(), static_cast<std::streamsize>(raw.size()));
    if (file.bad()) return std::nullopt;
    const auto count = static_cast<std::size_t>(file.gcount());
    return std::vector<std::uint8_t>(raw.begin(), raw.begin() + static_cast<std::ptrdiff_t>(count));
#else
    (void)kMaxDescriptorBytes;
    return std::nullopt;
#endif
}

// Picks the collection a handle on this path exchanges reports with. A path that enumeration
// listed with one usage is one top-level collection (Windows opens each one separately). A
// path listed with several is a whole interface, a Linux hidraw node for one: its reads and
// writes may carry the reports of any of its collections, so the longest of each kind counts.
std::optional<DescriptorFacts> factsFor(const ParsedDescriptor& parsed,
                                        const std::vector<UsagePair>& usages) {
    if (parsed.collections.empty()) return std::nullopt;
    const CollectionReports* tlc = nullptr;
    if (parsed.collections.size() == 1) {
        tlc = &parsed.collections.front();
    } else if (usages.size() == 1) {
        tlc = findCollection(parsed, usages.front());
    }
    if (tlc != nullptr) return DescriptorFacts{tlc->lengths, tlc->usesReportIds};
    DescriptorFacts facts{longestLengths(parsed), false};
    facts.usesReportIds = std::any_of(parsed.collections.begin(), parsed.collections.end(),
                                      [](const CollectionReports& c) { return c.usesReportIds; });
    return facts;
}

#ifdef __linux__
// hidapi-hidraw turns the UTF-8 strings of sysfs into wide text with mbstowcs, which follows the
// calling thread's locale: in a program that never set one (the "C" locale) every non-ASCII
// name or serial number came back empty. Its string-making calls run with a UTF-8 ctype.
class Utf8Ctype {
  public:
    Utf8Ctype() : utf8_(::newlocale(LC_CTYPE_MASK, "C.UTF-8", locale_t{})) {}
    ~Utf8Ctype() {
        if (utf8_ != locale_t{}) ::freelocale(utf8_);
    }
    Utf8Ctype(const Utf8Ctype&) = delete;
    Utf8Ctype& operator=(const Utf8Ctype&) = delete;

    class Scope {
      public:
        explicit Scope(const Utf8Ctype& owner)
            : previous_(owner.utf8_ != locale_t{} ? ::uselocale(owner.utf8_) : locale_t{}) {}
        ~Scope() {
            if (previous_ != locale_t{}) ::uselocale(previous_);
        }
        Scope(const Scope&) = delete;
        Scope& operator=(const Scope&) = delete;

      private:
        locale_t previous_;
    };

  private:
    locale_t utf8_;
};
#else
struct Utf8Ctype {
    struct Scope {
        explicit Scope(const Utf8Ctype&) {}
    };
};
#endif

class HidapiBackend final : public HidBackend {
  public:
    HidapiBackend() {
        if (hid_init() != 0) startFailure_ = trimmedReason(fromWide(hid_error(nullptr)));
    }
    ~HidapiBackend() override {
        devices_.clear();
        hid_exit();
    }
    HidapiBackend(const HidapiBackend&) = delete;
    HidapiBackend& operator=(const HidapiBackend&) = delete;

    std::vector<HidInterface> enumerate() override {
#ifdef __linux__
        // The window rescans every 50 ms while no generator is attached, and a full
        // enumeration walks all of sysfs for every HID node: unless a node came, went or was
        // replaced, the last answer still stands.
        const HidrawNodes nodes = hidrawNodes();
        if (!nodes.fingerprint.empty() && nodes.fingerprint == lastFingerprint_) return lastFound_;
        lastFingerprint_.clear();
#endif
        std::vector<HidInterface> found;
        std::map<std::string, PathRecord> records;
        const Utf8Ctype::Scope utf8(utf8_);
        hid_device_info* const list = hid_enumerate(0, 0);
        for (const hid_device_info* info = list; info != nullptr; info = info->next) {
            if (info->path == nullptr) continue;
            const std::string path = info->path;
            auto [record, isNew] = records.try_emplace(path);
            if (isNew) {
                // One entry per path: the logic must not list a device once per collection.
                record->second.attributes = {info->vendor_id, info->product_id,
                                             info->release_number};
                std::vector<wchar_t> serial;
                for (const wchar_t* c = info->serial_number; c != nullptr && *c != 0; ++c) {
                    serial.push_back(*c);
                }
                found.push_back({path, info->vendor_id, info->product_id,
                                 toUtf16(serial, kMaxStringUnits), info->release_number});
            }
            record->second.usages.push_back({info->usage_page, info->usage});
        }
        hid_free_enumeration(list);
        for (auto& [path, record] : records) paths_[path] = std::move(record);
#ifdef __linux__
        // Kept only when every node was listed: a failed or half-done enumeration is retried.
        if (records.size() == nodes.count) lastFingerprint_ = nodes.fingerprint;
        lastFound_ = found;
#endif
        return found;
    }

    std::optional<HidHandleId> open(const std::string& path, OpenMode mode) override {
        if (path.empty() || path.find('\0') != std::string::npos) {
            lastError_ = "invalid device path";
            return std::nullopt;
        }
#ifdef __linux__
        // hidapi 0.13 touches freed memory when a path opens but is no HID node (its
        // descriptor ioctl fails), so only hidraw nodes, the only paths it lists, go to it.
        if (hidrawNodeName(path).empty()) {
            lastError_ = "not a hidraw device node";
            return std::nullopt;
        }
#endif
        errno = 0;
        DevicePtr device(hid_open_path(path.c_str()));
        if (!device) {
            lastError_ = openFailureText(path, errno);
            return std::nullopt;
        }
        if (mode == OpenMode::Reads) hid_set_nonblocking(device.get(), 1);
        const HidHandleId id = ++lastId_;
        devices_.emplace(id, OpenDevice{std::move(device), path, std::nullopt});
        return id;
    }

    bool close(HidHandleId handle) override {
        return devices_.erase(handle) == 1;
    }

    std::optional<HidAttributes> attributes(HidHandleId handle) override {
        OpenDevice* open = find(handle);
        if (open == nullptr) return std::nullopt;
        if (const auto record = paths_.find(open->path); record != paths_.end()) {
            return record->second.attributes;
        }
#if HID_API_VERSION >= HID_API_MAKE_VERSION(0, 13, 0)
        // A path opened without enumerating first.
        if (const hid_device_info* info = hid_get_device_info(open->device.get())) {
            return HidAttributes{info->vendor_id, info->product_id, info->release_number};
        }
#endif
        return std::nullopt;
    }

    std::optional<std::u16string> string(HidHandleId handle, HidString which,
                                         std::size_t maxUnits) override {
        OpenDevice* open = find(handle);
        if (open == nullptr) return std::nullopt;
        maxUnits = std::min(maxUnits, kMaxStringUnits);
        std::vector<wchar_t> buffer(maxUnits + 1, L'\0');
        hid_device* const device = open->device.get();
        const Utf8Ctype::Scope utf8(utf8_);
        int result = -1;
        switch (which) {
            case HidString::Manufacturer:
                result = hid_get_manufacturer_string(device, buffer.data(), buffer.size());
                break;
            case HidString::Product:
                result = hid_get_product_string(device, buffer.data(), buffer.size());
                break;
            case HidString::SerialNumber:
                result = hid_get_serial_number_string(device, buffer.data(), buffer.size());
                break;
        }
        if (result < 0) return std::nullopt;
        buffer.back() = L'\0';
        return toUtf16(buffer, maxUnits);
    }

    std::optional<ReportLengths> reportLengths(HidHandleId handle) override {
        OpenDevice* open = find(handle);
        if (open == nullptr) return std::nullopt;
        const DescriptorFacts* facts = factsOf(*open);
        if (facts == nullptr) return std::nullopt;
        return facts->lengths;
    }

    bool setFeature(HidHandleId handle, std::span<const std::uint8_t> frame) override {
        OpenDevice* open = find(handle);
        if (open == nullptr || frame.empty()) return false;
        return hid_send_feature_report(open->device.get(), frame.data(), frame.size()) >= 0;
    }

    bool getFeature(HidHandleId handle, std::span<std::uint8_t> frame) override {
        OpenDevice* open = find(handle);
        if (open == nullptr || frame.empty()) return false;
        // frame[0] already holds the report ID; the count returned includes it.
        const int read = hid_get_feature_report(open->device.get(), frame.data(), frame.size());
        if (read < 1) return false;
        clearAfter(frame, static_cast<std::size_t>(read));
        return true;
    }

    bool readInput(HidHandleId handle, std::span<std::uint8_t> frame) override {
        OpenDevice* open = find(handle);
        if (open == nullptr || frame.empty()) return false;
        const DescriptorFacts* facts = factsOf(*open);
        // Without report IDs the OS hands over the data alone; the frame still starts with
        // the ID byte 0. A device whose descriptor cannot be read is taken to have no IDs.
        const bool withId = facts != nullptr && facts->usesReportIds;
        const std::span<std::uint8_t> target = withId ? frame : frame.subspan(1);
        if (target.empty()) return false;
        // Zero timeout: only a report that is already waiting counts, whatever the mode.
        const int read = hid_read_timeout(open->device.get(), target.data(), target.size(), 0);
        if (read <= 0) return false;
        if (!withId) frame[0] = 0;
        // A short report must not leave the previous report's bytes behind.
        clearAfter(target, static_cast<std::size_t>(read));
        return true;
    }

    std::string errorText() const override {
        return lastError_;
    }

    std::string startFailure() const override {
        return startFailure_;
    }

  private:
    OpenDevice* find(HidHandleId handle) {
        const auto it = devices_.find(handle);
        return it == devices_.end() ? nullptr : &it->second;
    }

    const DescriptorFacts* factsOf(OpenDevice& open) {
        if (!open.facts) {
            const auto bytes = readDescriptor(open.device.get(), open.path);
            if (!bytes) return nullptr;
            const auto record = paths_.find(open.path);
            const std::vector<UsagePair> noUsages;
            open.facts = factsFor(parseReportDescriptor(*bytes),
                                  record == paths_.end() ? noUsages : record->second.usages);
            if (!open.facts) return nullptr;
        }
        return &*open.facts;
    }

    static void clearAfter(std::span<std::uint8_t> bytes, std::size_t used) {
        if (used < bytes.size())
            std::fill(bytes.begin() + static_cast<std::ptrdiff_t>(used), bytes.end(),
                      std::uint8_t{0});
    }

    // hidapi's own message for a failed open is often vague; for a hidraw node the access
    // check gives the reason the user can act on ("Permission denied": no udev rule).
    static std::string openFailureText([[maybe_unused]] const std::string& path, int openErrno) {
#ifdef __linux__
        if (!hidrawNodeName(path).empty() && ::access(path.c_str(), R_OK | W_OK) != 0) {
            return std::strerror(errno);
        }
#endif
        const std::string hidText = fromWide(hid_error(nullptr));
        if (!hidText.empty() && hidText != "Success") return hidText;
        if (openErrno != 0) return std::strerror(openErrno);
        return "the device could not be opened";
    }

    Utf8Ctype utf8_;
    std::map<HidHandleId, OpenDevice> devices_;
    std::map<std::string, PathRecord> paths_;
    HidHandleId lastId_ = 0;
    std::string lastError_;
    std::string startFailure_;
    std::string lastFingerprint_;  // of the last complete enumeration (Linux)
    std::vector<HidInterface> lastFound_;
};

}  // namespace

std::unique_ptr<HidBackend> makeHidapiBackend() {
    return std::make_unique<HidapiBackend>();
}

}  // namespace quarvel
