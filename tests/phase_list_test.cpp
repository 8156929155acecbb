#include "planning/phase_list.h"

#include <gtest/gtest.h>

namespace quarvel {
namespace {

TEST(PhaseList, Entries) {
    const struct {
        const char* nc1ls;
        qsizetype count;
        QStringList head;
    } cases[] = {
        {"48", 48, {"0", "7.5", "15"}},
        {"32", 32, {"0", "11.26", "22.5", "33.76"}},  // odd whole steps go up a hundredth
        {"2.5", 3, {"0", "180", "0"}},                // 36000 wraps to 0
        {"-5", 1, {"0"}},
        {"300", 256, {"0", "1.2"}},
        {"abc", 0, {}},
        {"0.5", 0, {}},   // rounds to 0: no step to divide by
        {"1e10", 0, {}},  // beyond 32 bits
    };
    for (const auto& c : cases) {
        const QStringList entries = phaseEntries(QString::fromUtf8(c.nc1ls), QLocale::c());
        ASSERT_EQ(entries.size(), c.count) << c.nc1ls;
        EXPECT_EQ(entries.mid(0, c.head.size()), c.head) << c.nc1ls;
    }
    EXPECT_EQ(phaseEntries("300", QLocale::c()).mid(254), QStringList({"304.8", "306"}));
    EXPECT_EQ(phaseEntries("4,4", QLocale(QLocale::German)),
              QStringList({"0", "90", "180", "270"}));
}

}  // namespace
}  // namespace quarvel
