// quarvel-ctl through hidapi, libudev and the hidraw ABI: what it prints and what the device
// receives must be what it prints and sends on the simulated bus.

#include <gtest/gtest.h>

#include <sstream>

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

}  // namespace
}  // namespace quarvel
