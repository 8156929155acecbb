// quarvel-ctl through hidapi, libudev and the hidraw ABI: what it prints and what the device
// receives must be what it prints and sends on the simulated bus.

#include <gtest/gtest.h>

#include <sstream>

#ifdef QUARVEL_KERNEL_TIER
#include <csignal>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <future>
#include <thread>
#endif

#include "ctl_cli.h"
#include "support/emulated_hid.h"

namespace quarvel {
namespace {

// No relock time: the two buses run on the real clock, and a lock state that flips between
// the two runs would be a difference of timing, not of transport.
const SimDeviceConfig kGenerator{
    .serialNumber = u"Q3A0017", .driveStrength = 0, .relockTime = std::chrono::milliseconds(0)};

using HidrawCtl = EmulatedHidTest;

TEST_F(HidrawCtl, PrintsAndSendsWhatItDoesOnTheSimulatedBus) {
    if (!reportsReachTheNodes()) GTEST_SKIP() << kNoReportsHere;
    const std::vector<std::vector<std::string>> commands = {
        {"status", "--json"},
        {"set", "10000000"},
        {"set", "10000000", "--out2", "25000000", "--json"},
        {"upload", "--bw", "7"},
        {"enable", "1"},
        {"drive", "24"},
        {"register", "2", "200"},
        {"status"},
    };
    bus.addDevice(kGenerator);
    ASSERT_NO_FATAL_FAILURE(serve());
    SimulatedBus reference;
    reference.addDevice(kGenerator);
    ctl::Environment env(reference);

    for (const auto& args : commands) {
        SCOPED_TRACE(args.front() + (args.size() > 1 ? " " + args[1] : ""));
        std::vector<std::string> argv{QUARVEL_CTL};
        argv.insert(argv.end(), args.begin(), args.end());
        const ProgramRun real = run(argv);

        std::ostringstream out, err;
        const int status = ctl::run(args, env, out, err);
        EXPECT_EQ(real.exitStatus, status) << real.output;
        EXPECT_EQ(real.output, out.str() + err.str());
    }
    EXPECT_EQ(received(0), reference.featureReports(0));
    EXPECT_TRUE(allClosedOnce());
}

#ifdef QUARVEL_KERNEL_TIER
// A real unplug leaves wspr's handles dead: the generator plugged back in 5 s before a slot
// must still trigger in that slot. On the real clock, so only in the VM's tier.
TEST_F(HidrawCtl, WsprTriggersInTheSlotAfterAReplug) {
    using namespace std::chrono;
    bus.addDevice(kGenerator);
    ASSERT_NO_FATAL_FAILURE(serve());
    std::string dir = (std::filesystem::temp_directory_path() / "quarvel-wspr.XXXXXX").string();
    ASSERT_NE(::mkdtemp(dir.data()), nullptr);
    const std::string lines = dir + "/lines", pid = dir + "/pid";
    const auto text = [](const std::string& path) {
        std::ifstream in(path);
        return std::string(std::istreambuf_iterator<char>(in), {});
    };
    auto wspr = std::async(std::launch::async, [&] {
        return run({"timeout", "--signal=INT", "300", "sh", "-c",
                    "echo $$ >\"$1\" && exec \"$0\" wspr >\"$2\"", QUARVEL_CTL, pid, lines});
    });
    // The first even UTC minute at least 20 s away, so that wspr has the generator open first.
    auto slot = floor<minutes>(system_clock::now() + 20s) + 1min;
    if ((slot.time_since_epoch() / 1min) % 2 != 0) slot += 1min;
    const std::time_t slotTime = system_clock::to_time_t(slot);
    std::tm utc{};
    ::gmtime_r(&slotTime, &utc);
    char minute[8];
    std::strftime(minute, sizeof minute, "%H:%M", &utc);
    const std::string sent = std::string("WSPR trigger sent for ") + minute + " UTC";

    std::this_thread::sleep_until(slot - 8s);
    transport->unplug(0);
    std::this_thread::sleep_until(slot - 5s);
    transport->plug(0);
    while (text(lines).find(minute) == std::string::npos && system_clock::now() < slot + 30s) {
        std::this_thread::sleep_for(100ms);
    }
    ::kill(std::stoi(text(pid)), SIGINT);
    EXPECT_EQ(wspr.get().exitStatus, 0);
    EXPECT_NE(text(lines).find(sent), std::string::npos) << sent << " in\n" << text(lines);
    std::filesystem::remove_all(dir);
}
#endif

}  // namespace
}  // namespace quarvel
