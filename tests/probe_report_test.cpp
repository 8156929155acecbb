#include "device/probe_report.h"

#include <gtest/gtest.h>

#include <map>
#include <sstream>

#include "device/device_text.h"
#include "probe_cli.h"

namespace quarvel {
namespace {

::testing::AssertionResult contains(const std::string& text, const std::string& part) {
    if (text.find(part) != std::string::npos) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "\"" << part << "\" not in:\n" << text;
}

struct FakeDevice {
    HidInterface hid;
    std::optional<std::u16string> serial = u"SN1";
    std::optional<std::u16string> manufacturer = u"Maker";
    std::optional<std::u16string> product = u"Clock";
    std::uint16_t release = 0x0102;
    ReportLengths lengths{3, 0, 65};
    std::string openError;  // non-empty: open fails with this reason
    bool readsOpenFails = false;
};

// A bus of fake devices that remembers what was opened and checks that handles pair up.
class FakeBackend : public HidBackend {
  public:
    std::vector<FakeDevice> devices;
    std::vector<std::string> opened;  // paths, in order
    std::map<HidHandleId, const FakeDevice*> open_;
    int badCloses = 0;

    std::vector<HidInterface> enumerate() override {
        std::vector<HidInterface> all;
        for (const auto& d : devices) all.push_back(d.hid);
        return all;
    }
    std::optional<HidHandleId> open(const std::string& path, OpenMode mode) override {
        opened.push_back(path);
        for (const auto& d : devices) {
            if (d.hid.path != path) continue;
            if (!d.openError.empty() || (mode == OpenMode::Reads && d.readsOpenFails)) {
                error_ = d.openError.empty() ? "Device or resource busy" : d.openError;
                return std::nullopt;
            }
            open_[++last_] = &d;
            return last_;
        }
        error_ = "No such file or directory";
        return std::nullopt;
    }
    bool close(HidHandleId handle) override {
        if (open_.erase(handle) == 1) return true;
        ++badCloses;
        return false;
    }
    std::optional<HidAttributes> attributes(HidHandleId handle) override {
        const FakeDevice& d = *open_.at(handle);
        return HidAttributes{d.hid.vendorId, d.hid.productId, d.release};
    }
    std::optional<std::u16string> string(HidHandleId handle, HidString which,
                                         std::size_t maxUnits) override {
        const FakeDevice& d = *open_.at(handle);
        auto text = which == HidString::SerialNumber   ? d.serial
                    : which == HidString::Manufacturer ? d.manufacturer
                                                       : d.product;
        if (text && text->size() > maxUnits) text->resize(maxUnits);
        return text;
    }
    std::optional<ReportLengths> reportLengths(HidHandleId handle) override {
        return open_.at(handle)->lengths;
    }
    bool setFeature(HidHandleId, std::span<const std::uint8_t>) override { return false; }
    bool getFeature(HidHandleId, std::span<std::uint8_t>) override { return false; }
    bool readInput(HidHandleId, std::span<std::uint8_t>) override { return false; }
    std::string errorText() const override { return error_; }
    std::string startFailure() const override { return failure; }
    std::string failure;

  private:
    HidHandleId last_ = 0;
    std::string error_;
};

FakeDevice device(const std::string& path, std::uint16_t vendorId, std::uint16_t productId) {
    FakeDevice d;
    d.hid = {path, vendorId, productId, u"", std::nullopt};
    return d;
}

FakeDevice ours(const std::string& path) {
    return device(path, kVendorId, kProductId);
}

TEST(ProbeReport, ListsOnlyMatchingDevicesAndOpensNothingElse) {
    FakeBackend bus;
    bus.devices = {device("/dev/hidraw0", 0x046D, kProductId),
                   device("/dev/hidraw1", kVendorId, 0x0001), ours("/dev/hidraw2")};
    const ProbeOutcome outcome = probeDevices(bus, true);
    EXPECT_EQ(outcome.exitStatus, kProbeOk);
    EXPECT_EQ(bus.opened, (std::vector<std::string>{"/dev/hidraw2", "/dev/hidraw2"}));
    EXPECT_TRUE(bus.open_.empty());
    EXPECT_EQ(bus.badCloses, 0);
    EXPECT_EQ(outcome.text,
              "1 device with vendor ID 0x6B4E and product ID 0x3C59 found.\n\n"
              "Device 1: /dev/hidraw2\n"
              "  Serial number:  SN1\n"
              "  Manufacturer:   Maker\n"
              "  Product:        Clock\n"
              "  Release:        1.2\n"
              "  Report lengths: input 3, output 0, feature 65 bytes (report ID byte included)\n"
              "  Can be opened:  yes\n");
}

TEST(ProbeReport, SaysWhenNothingIsAttached) {
    FakeBackend bus;
    bus.devices = {device("/dev/hidraw0", 0x046D, 0xC077)};
    const ProbeOutcome outcome = probeDevices(bus, true);
    EXPECT_EQ(outcome.exitStatus, kProbeOk);
    EXPECT_EQ(outcome.text, "No device with vendor ID 0x6B4E and product ID 0x3C59 was found.\n");
    EXPECT_TRUE(bus.opened.empty());
}

TEST(ProbeReport, SaysWhenTheHidLayerCouldNotStart) {
    FakeBackend bus;
    bus.failure = "resolve DLL functions: Module not found";
    const ProbeOutcome outcome = probeDevices(bus, true);
    EXPECT_EQ(outcome.exitStatus, kProbeCannotOpen);
    EXPECT_EQ(outcome.text,
              "The HID layer could not start (resolve DLL functions: Module not found), so no "
              "clock generator can be found.\n");
}

TEST(ProbeReport, GivesTheReasonAndTheUdevRuleWhenADeviceCannotBeOpened) {
    FakeBackend bus;
    bus.devices = {ours("/dev/hidraw3"), ours("/dev/hidraw4"), ours("/dev/hidraw5")};
    bus.devices[0].openError = "Permission denied";
    bus.devices[2].readsOpenFails = true;
    const ProbeOutcome outcome = probeDevices(bus, true);
    EXPECT_EQ(outcome.exitStatus, kProbeCannotOpen);
    EXPECT_TRUE(contains(outcome.text, "3 devices with"));
    EXPECT_TRUE(contains(outcome.text,
                         "Device 1: /dev/hidraw3\n"
                         "  Can be opened:  no (Permission denied)\n\n"
                         "Device 2: /dev/hidraw4\n"
                         "  Serial number:  SN1\n"));
    EXPECT_TRUE(contains(outcome.text, "Device 3: /dev/hidraw5\n"));
    EXPECT_TRUE(contains(outcome.text,
                         "  Can be opened:  no, not a second time for input reports "
                         "(Device or resource busy)\n"));
    EXPECT_TRUE(contains(outcome.text, "packaging/70-quarvel.rules"));
    EXPECT_TRUE(contains(outcome.text, "cp packaging/70-quarvel.rules /etc/udev/rules.d/"));
    EXPECT_TRUE(contains(outcome.text, "udevadm control --reload && sudo udevadm trigger"));
    EXPECT_TRUE(bus.open_.empty());
    EXPECT_EQ(bus.badCloses, 0);

    EXPECT_FALSE(contains(probeDevices(bus, false).text, "udev"));
}

TEST(ProbeReport, ShowsWhatTheDeviceTellsSafely) {
    struct Case {
        const char* name;
        FakeDevice device;
        const char* expected;
    };
    auto noSerial = ours("p");
    noSerial.serial.reset();
    auto wideSerial = ours("p");
    wideSerial.serial = u"A\u0142B";  // U+0142: the tool keeps its low byte 0x42
    auto escapes = ours("p");
    escapes.product = u"Clock\x1b[2J\u0007";
    auto shortFeature = ours("p");
    shortFeature.lengths = {66, 0, 21};
    auto negative = ours("p");
    negative.release = 0x8001;
    const Case cases[] = {
        {"serial fails", noSerial, "Serial number:  (cannot be read; the tool will not list"},
        {"serial beyond Latin-1", wideSerial,
         "Serial number:  A\xC5\x82"
         "B (listed as \"ABB\")"},
        {"control characters", escapes, "Product:        Clock?[2J?\n"},
        {"short feature report", shortFeature,
         "feature report is shorter than the 22 bytes the tool's commands need"},
        {"long input report", shortFeature, "input reports longer than 65 bytes are not supported"},
        {"negative release", negative, "Release:        -128.1\n"},
    };
    for (const Case& c : cases) {
        FakeBackend bus;
        bus.devices = {c.device};
        EXPECT_TRUE(contains(probeDevices(bus, true).text, c.expected)) << c.name;
    }
}

TEST(ProbeReport, FormatsReleaseLikeTheWindow) {
    const std::pair<std::uint16_t, const char*> cases[] = {
        {0x0102, "1.2"},    {0x011F, "1.1F"},   {0x0210, "2.10"},
        {0x0000, "0.0"},    {0x7FFF, "127.FF"}, {0x8000, "-128.0"},
        {0x8001, "-128.1"}, {0xFFFF, "-1.FF"},  {0xFF00, "-1.0"},
    };
    for (const auto& [release, text] : cases) EXPECT_EQ(formatRelease(release), text) << release;
}

TEST(ProbeReport, DescribesADescriptor) {
    const std::string text = describeDescriptor(std::vector<std::uint8_t>{
        0x05, 0x01, 0x09, 0x06, 0xA1, 0x01, 0x75, 0x08, 0x95, 0x08, 0x81, 0x02, 0xC0,  //
        0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x85, 0x10, 0x95, 0x06, 0xB1, 0x02, 0xC0, 0x75});
    EXPECT_EQ(text,
              "28 bytes, 2 top-level collections.\n"
              "Lengths in bytes, report ID byte included (also without report IDs).\n\n"
              "TLC  Usage page:usage   Input  Output  Feature  Report IDs\n"
              "  0  0x0001:0x0006          9       0        0  none\n"
              "  1  0xFF00:0x0001          0       0        7  0x10\n\n"
              "Longest of each kind (one handle on the whole interface, as on Linux): "
              "input 9, output 0, feature 7\n\n"
              "Warning: the descriptor ends inside an item; the rest is ignored.\n");
    EXPECT_EQ(describeDescriptor({}), "0 bytes, 0 top-level collections.\n");
}

TEST(ProbeCommand, ExitStatusesAndMessages) {
    const std::string corpus = QUARVEL_SOURCE_DIR "/../shared/testdata/hid-descriptors/";
    const std::string keyboard = corpus + "046A_0011_0006_0001.hex";
    const std::string keyboardOption = "--descriptor=" + keyboard;
    const std::string notHex = corpus + "manifest.tsv";
    int backendsMade = 0;
    const auto makeBackend = [&]() -> std::unique_ptr<HidBackend> {
        ++backendsMade;
        auto bus = std::make_unique<FakeBackend>();
        bus->devices = {ours("/dev/hidraw7")};
        bus->devices[0].openError = "Permission denied";
        return bus;
    };
    struct Case {
        std::vector<std::string_view> args;
        int status;
        std::string inOut;
        std::string inErr;
    };
    const Case cases[] = {
        {{}, kProbeCannotOpen, "Device 1: /dev/hidraw7", ""},
        {{"--help"}, kProbeOk, "Usage: quarvel-probe", ""},
        {{"--help", "x"}, kProbeUsageError, "", "--help takes no argument"},
        {{"--descriptor", keyboard},
         kProbeOk,
         "0x0001:0x0006          9       2        0  none",
         ""},
        {{keyboardOption}, kProbeOk, "66 bytes, 1 top-level collection.", ""},
        {{"--descriptor"}, kProbeUsageError, "", "--descriptor takes one file name"},
        {{"--descriptor", notHex}, kProbeUsageError, "", "token 1 (\"file\") is not a hex byte"},
        {{"--descriptor", "/nonexistent/file.hex"},
         kProbeUsageError,
         "",
         "cannot read /nonexistent/file.hex: No such file or directory"},
        {{"--descriptor", corpus}, kProbeUsageError, "", "cannot read"},
        {{"--verbose"}, kProbeUsageError, "", "unknown argument '--verbose'"},
    };
    for (const Case& c : cases) {
        const std::string shown = c.args.empty() ? "(none)" : std::string(c.args[0]);
        std::ostringstream out, err;
        EXPECT_EQ(runProbe(c.args, makeBackend, out, err), c.status) << shown;
        EXPECT_TRUE(contains(out.str(), c.inOut)) << shown;
        EXPECT_TRUE(contains(err.str(), c.inErr)) << shown;
        if (c.status == kProbeUsageError) {
            EXPECT_EQ(out.str(), "") << shown;
        }
    }
    // Only listing devices touches the HID layer.
    EXPECT_EQ(backendsMade, 1);
}

}  // namespace
}  // namespace quarvel
