// A checkout in a folder other users cannot enter (a clone in root's home, mode 0700): programs
// run as another user must still start, with the emulation's preload library.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "support/emulated_hid.h"

namespace quarvel {
namespace {

namespace fs = std::filesystem;

using HidrawReach = EmulatedHidTest;

TEST_F(HidrawReach, AnotherUserRunsTheProbeFromAClosedCheckout) {
    std::string hidden = (fs::temp_directory_path() / "quarvel-closed.XXXXXX").string();
    ASSERT_NE(::mkdtemp(hidden.data()), nullptr);
    ASSERT_EQ(::chmod(hidden.c_str(), 0700), 0);
    const fs::path probe = fs::path(hidden) / "quarvel-probe";
    const fs::path preload = fs::path(hidden) / "preload.so";
    fs::copy_file(QUARVEL_PROBE, probe);
    fs::copy_file(Emulation::builtShim(), preload);

    bus.addDevice({.serialNumber = u"A1"});
    transport = std::make_unique<Emulation>(bus, ReportDescriptors{}, preload.string());
    ASSERT_EQ(transport->error(), "");
    const ProgramRun run = transport->run(
        {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", probe.string()});
    EXPECT_EQ(run.exitStatus, 1) << run.output;
    EXPECT_NE(run.output.find("Can be opened:  no (Permission denied)"), std::string::npos)
        << "the probe ran and found the node\n"
        << run.output;
    transport.reset();
    fs::remove_all(hidden);
}

}  // namespace
}  // namespace quarvel
