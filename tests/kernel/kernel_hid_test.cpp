// The programs against generators on a USB wire that the kernel's usbhid, hidraw and the real
// udevd handle (runs in the test VM): identity from the USB descriptors, the udev rule as
// applied, real hot-plug events, two generators, and the kernel's own input queue.

#include <gtest/gtest.h>
#include <sys/fsuid.h>
#include <sys/stat.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <string>
#include <thread>

#include "device/hidapi_backend.h"
#include "support/emulated_hid.h"
#include "support/window_harness.h"

namespace quarvel {
namespace {

using namespace std::chrono_literals;
using KernelHid = EmulatedHidTest;

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

std::unique_ptr<frmMain> loadWindow(HidBackend& backend) {
    application();
    WindowServices services;
    services.warn = [](QWidget*, const QString&, const QString&) {};
    services.localClock = [] { return QDateTime(QDate(2026, 12, 7), QTime(12, 0)); };
    services.requestPause = [] {};
    auto window = std::make_unique<frmMain>(backend, services);
    window->Form_Load();
    return window;
}

using Reports = std::vector<std::vector<std::uint8_t>>;

TEST_F(KernelHid, ProbeAndCtlSeeTwoGeneratorsAsTheKernelEnumeratedThem) {
    bus.addDevice({.serialNumber = u"A1", .manufacturer = u"Caf\u00e9", .releaseNumber = 0x0112});
    bus.addDevice({.serialNumber = u"B2"});
    ASSERT_NO_FATAL_FAILURE(serve());

    const ProgramRun probe = run({QUARVEL_PROBE});
    EXPECT_EQ(probe.exitStatus, 0) << probe.output;
    for (const char* line :
         {"2 devices with vendor ID 0x6B4E", "Serial number:  A1\n", "Serial number:  B2\n",
          "Manufacturer:   Caf\u00e9\n", "Product:        GPS Clock Generator\n",
          "Release:        1.12\n", "input 65, output 0, feature 64 bytes"}) {
        EXPECT_TRUE(contains(probe.output, line)) << line << "\n" << probe.output;
    }

    const ProgramRun list = run({QUARVEL_CTL, "list"});
    EXPECT_EQ(list.exitStatus, 0) << list.output;
    EXPECT_TRUE(contains(list.output, "A1") && contains(list.output, "B2")) << list.output;
    const ProgramRun drive = run({QUARVEL_CTL, "--serial", "B2", "drive", "24"});
    EXPECT_EQ(drive.exitStatus, 0) << drive.output;
    EXPECT_TRUE(received(0).empty()) << "--serial B2 reached A1";
    ASSERT_EQ(received(1).size(), 1u);
    EXPECT_EQ(received(1)[0][1], 3) << "the drive-strength command";
}

TEST_F(KernelHid, TheUdevRuleGivesTheNodeToTheSeatAndToPlugdevOnly) {
    bus.addDevice({.serialNumber = u"A1"});
    ASSERT_NO_FATAL_FAILURE(serve());
    const std::string node = transport->nodePath(0);
    ASSERT_FALSE(node.empty());
    struct stat st {};
    ASSERT_EQ(::stat(node.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0660u);
    EXPECT_EQ(st.st_gid, 46u) << "group plugdev";
    const ProgramRun info = run({"udevadm", "info", node});
    EXPECT_TRUE(contains(info.output, ":uaccess:")) << info.output;

    const std::vector<std::string> nobody = {"setpriv", "--reuid=65534", "--regid=65534",
                                             "--clear-groups"};
    const auto as = [&](std::vector<std::string> who, std::vector<std::string> command) {
        who.insert(who.end(), command.begin(), command.end());
        return run(who);
    };
    const ProgramRun probe = as(nobody, {QUARVEL_PROBE});
    EXPECT_EQ(probe.exitStatus, 1) << probe.output;
    EXPECT_TRUE(contains(probe.output, "Permission denied") && contains(probe.output, "udev rule"))
        << probe.output;
    const ProgramRun refused = as(nobody, {QUARVEL_CTL, "status"});
    EXPECT_NE(refused.exitStatus, 0) << refused.output;
    EXPECT_TRUE(contains(refused.output, "udev rule")) << refused.output;
    // The window, opening as that user would: the kernel checks the file-system user ID.
    const auto windowAsNobody = [] {
        application();
        const auto hidapi = makeHidapiBackend();
        ::setfsuid(65534);
        const auto window = loadWindow(*hidapi);
        ::setfsuid(0);
        return std::pair(window->deviceFound(), window->lblDeviceAccess->text().toStdString());
    };
    const auto [opened, advice] = windowAsNobody();
    EXPECT_FALSE(opened);
    EXPECT_TRUE(contains(advice, "Permission denied") && contains(advice, "udev rule")) << advice;

    // Access as the system grants it: an ACL as logind sets for the seat's user, or the group.
    ASSERT_EQ(run({"setfacl", "-m", "u:65534:rw", node}).exitStatus, 0);
    EXPECT_TRUE(windowAsNobody().first) << "the window, given access";
    for (const std::vector<std::string>& command : {std::vector<std::string>{QUARVEL_PROBE},
                                                    {QUARVEL_CTL, "status"},
                                                    {QUARVEL_CTL, "set", "10000000"},
                                                    {QUARVEL_CTL, "enable", "both"},
                                                    {QUARVEL_CTL, "identify", "1"},
                                                    {QUARVEL_CTL, "drive", "8"},
                                                    {QUARVEL_CTL, "register", "2", "200"},
                                                    {QUARVEL_CTL, "sleep"}}) {
        const ProgramRun allowed = as(nobody, command);
        EXPECT_EQ(allowed.exitStatus, 0) << command.back() << "\n" << allowed.output;
    }
    ASSERT_EQ(run({"setfacl", "-b", node}).exitStatus, 0);
    const ProgramRun member =
        as({"setpriv", "--reuid=65534", "--regid=65534", "--groups=46"}, {QUARVEL_CTL, "status"});
    EXPECT_EQ(member.exitStatus, 0) << "a member of plugdev\n" << member.output;
}

// What each user action sends, on the simulated bus and through usbhid: the same bytes.
TEST_F(KernelHid, TheWindowSendsWhatItSendsOnTheSimulatedBus) {
    struct Action {
        const char* what;
        std::function<void(frmMain&)> run;
    };
    const Action actions[] = {
        {"start-up", [](frmMain&) {}},
        {"Find 10000000",
         [](frmMain& w) {
             w.Out1Freq->setText("10000000");
             FrmMainTestAccess::findFreq(w);
         }},
        {"output enable", [](frmMain& w) { w.OUT2EN->click(); }},
        {"identify", [](frmMain& w) { w.OUT1ID->click(); }},
        {"drive strength", [](frmMain& w) { WindowHarness::pick(w.Enc1, 1); }},
        {"sleep", [](frmMain& w) { w.Sleep_cmd->click(); }},
        {"register write",
         [](frmMain& w) {
             w.REG->setText("17");
             w.DATA->setText("200");
             w.WriteRegister->click();
         }},
    };
    const SimDeviceConfig generator{.serialNumber = u"A1"};
    std::vector<Reports> expected;
    {
        SimulatedBus simulated;
        simulated.addDevice(generator);
        const auto window = loadWindow(simulated);
        for (const Action& a : actions) {
            simulated.clearFeatureReports(0);
            a.run(*window);
            expected.push_back(simulated.featureReports(0));
        }
    }
    bus.addDevice(generator);
    ASSERT_NO_FATAL_FAILURE(serve());
    const auto hidapi = makeHidapiBackend();
    const auto window = loadWindow(*hidapi);
    EXPECT_EQ(window->GPS->text(), "2875000");
    for (std::size_t i = 0; i < std::size(actions); ++i) {
        transport->locked([](SimulatedBus& b) { b.clearFeatureReports(0); });
        actions[i].run(*window);
        EXPECT_EQ(received(0), expected[i]) << actions[i].what;
    }
}

// What a program has written to a file so far.
std::string fileText(const std::string& path) {
    std::ifstream in(path);
    return {std::istreambuf_iterator<char>(in), {}};
}

// Whether the file shows `part` within a minute: under TCG on busy cores any fixed pause is
// too short some day.
bool showsSoon(const std::string& path, const std::string& part) {
    for (int i = 0; i < 600; ++i, std::this_thread::sleep_for(100ms)) {
        if (contains(fileText(path), part)) return true;
    }
    return false;
}

TEST_F(KernelHid, WatchAndTheWindowFollowARealUnplugAndReplug) {
    bus.addDevice({.serialNumber = u"A1"});
    ASSERT_NO_FATAL_FAILURE(serve());
    // watch writes its lines to a file as they come and its process id to another, so that it
    // is followed while it runs and ended once it has shown the replug.
    std::string dir = (std::filesystem::temp_directory_path() / "quarvel-watch.XXXXXX").string();
    ASSERT_NE(::mkdtemp(dir.data()), nullptr);
    const std::string lines = dir + "/lines", pid = dir + "/pid";
    auto watch = std::async(std::launch::async, [&] {
        return run({"timeout", "--signal=INT", "180", "sh", "-c",
                    "echo $$ >\"$1\" && exec \"$0\" watch >\"$2\"", QUARVEL_CTL, pid, lines});
    });
    const auto hidapi = makeHidapiBackend();
    const auto window = loadWindow(*hidapi);
    ASSERT_TRUE(window->deviceFound());
    EXPECT_TRUE(showsSoon(lines, "A1 GPS signal present")) << "watch has opened the generator";

    transport->unplug(0);
    FrmMainTestAccess::tick(*window);
    EXPECT_FALSE(window->deviceFound());
    EXPECT_TRUE(showsSoon(lines, "device A1 lost")) << fileText(lines);
    transport->plug(0);
    for (int i = 0; i < 10 && !window->deviceFound(); ++i) FrmMainTestAccess::tick(*window);
    EXPECT_TRUE(window->deviceFound());
    EXPECT_EQ(entriesOf(window->SerNo), QStringList{"A1"});
    EXPECT_EQ(window->GPS->text(), "2875000");
    EXPECT_TRUE(showsSoon(lines, "device A1 back")) << fileText(lines);

    ::kill(std::stoi(fileText(pid)), SIGINT);
    EXPECT_EQ(watch.get().exitStatus, 0) << "watch ends cleanly on Ctrl-C";
    const std::string output = fileText(lines);
    EXPECT_LT(output.find("device A1 lost"), output.find("device A1 back")) << output;
    std::filesystem::remove_all(dir);
}

// Reports every millisecond fill the kernel's queue of 63 long before the next tick; what the
// window and status show must still be the device's state now.
TEST_F(KernelHid, AGpsLossShowsWithinOneTickThroughTheKernelQueue) {
    bus.addDevice({.serialNumber = u"A1"});
    ASSERT_NO_FATAL_FAILURE(serve());
    const auto hidapi = makeHidapiBackend();
    const auto owned = loadWindow(*hidapi);
    frmMain& window = *owned;
    for (int i = 0; i < 3; ++i) {
        std::this_thread::sleep_for(500ms);
        FrmMainTestAccess::tick(window);
    }
    ASSERT_TRUE(window.deviceFound());
    EXPECT_TRUE(window.LOS->isHidden());
    std::this_thread::sleep_for(200ms);
    transport->locked([](SimulatedBus& b) { b.setGpsSignal(0, false); });
    std::this_thread::sleep_for(300ms);
    FrmMainTestAccess::tick(window);
    EXPECT_FALSE(window.LOS->isHidden()) << "the window showed a report from before the loss";

    const ProgramRun status = run({QUARVEL_CTL, "status"});
    EXPECT_TRUE(contains(status.output, "GPS signal:      no GPS signal")) << status.output;
}

}  // namespace
}  // namespace quarvel
