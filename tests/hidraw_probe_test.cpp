// quarvel-probe through hidapi, libudev and the hidraw ABI, against emulated nodes.

#include <gtest/gtest.h>

#include "support/emulated_hid.h"

namespace quarvel {
namespace {

std::size_t occurrences(const std::string& text, const std::string& part) {
    std::size_t count = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
    return count;
}

using HidrawProbe = EmulatedHidTest;

TEST_F(HidrawProbe, ListsEachGeneratorNodeOnceWithItsStringsAndLengths) {
    if (!reportsReachTheNodes()) GTEST_SKIP() << kNoReportsHere;
    bus.addDevice(
        {.serialNumber = u"PLAIN1", .manufacturer = u"Caf\u00e9", .releaseNumber = 0x011F});
    // Two top-level collections on one node: hidapi enumerates the node twice.
    bus.addDevice({.serialNumber = u"MULTI2"});
    bus.addDevice({.serialNumber = u"IDS3"});
    auto descriptors = addKeyboardAndMouse(bus);
    descriptors[1] = parseHexBytes(
                         "06 00 FF 09 01 A1 01 85 01 15 00 26 FF 00 75 08 95 40 09 01 81 02 95 3F "
                         "09 01 B1 02 C0 06 00 FF 09 02 A1 01 85 02 15 00 26 FF 00 75 08 95 08 "
                         "09 02 81 02 C0")
                         .bytes;
    descriptors[2] = parseHexBytes(
                         "06 00 FF 09 01 A1 01 85 05 15 00 26 FF 00 75 08 95 20 09 01 81 02 95 3F "
                         "09 01 B1 02 C0")
                         .bytes;
    ASSERT_NO_FATAL_FAILURE(serve(descriptors));

    const ProgramRun probe = run({QUARVEL_PROBE});
    EXPECT_EQ(probe.exitStatus, 0) << probe.output;
    EXPECT_EQ(occurrences(probe.output, "3 devices with vendor ID 0x6B4E"), 1u) << probe.output;
    for (const char* serial : {"PLAIN1", "MULTI2", "IDS3"}) {
        EXPECT_EQ(occurrences(probe.output, std::string("Serial number:  ") + serial + "\n"), 1u)
            << serial << "\n"
            << probe.output;
    }
    EXPECT_EQ(occurrences(probe.output, "Manufacturer:   Quarvel\n"), 2u) << probe.output;
    EXPECT_EQ(occurrences(probe.output, "Manufacturer:   Caf\u00e9\n"), 1u)
        << "a non-ASCII name in the C locale\n"
        << probe.output;
    EXPECT_EQ(occurrences(probe.output, "Release:        1.1F\n"), 1u) << probe.output;
    EXPECT_EQ(occurrences(probe.output, "input 65, output 0, feature 64 bytes"), 2u)
        << probe.output;
    EXPECT_EQ(occurrences(probe.output, "input 33, output 0, feature 64 bytes"), 1u)
        << probe.output;
    EXPECT_EQ(opens(3) + opens(4), 0u) << "the keyboard or the mouse was opened";
    EXPECT_TRUE(allClosedOnce());
}

TEST_F(HidrawProbe, AnotherUserIsToldPermissionDeniedAndTheUdevRule) {
    bus.addDevice({.serialNumber = u"A1"});
    ASSERT_NO_FATAL_FAILURE(serve());
    const ProgramRun probe =
        run({"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", QUARVEL_PROBE});
    EXPECT_EQ(probe.exitStatus, 1) << probe.output;
    EXPECT_NE(probe.output.find("Can be opened:  no (Permission denied)"), std::string::npos)
        << probe.output;
    EXPECT_NE(probe.output.find("udev rule"), std::string::npos) << probe.output;
    EXPECT_EQ(opens(0), 0u) << "the kernel refuses before the device hears of it";
}

}  // namespace
}  // namespace quarvel
