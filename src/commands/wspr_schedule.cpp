#include "commands/wspr_schedule.h"

#include <algorithm>

namespace quarvel {

bool isWsprSecond(const QTime& now) {
    return now.second() == 0 && now.minute() % 2 == 0;
}

int msUntilNextWsprMinute(const QTime& now, int maxWaitMs) {
    const int intoMinute = now.second() * 1000 + now.msec();
    const int minutesToGo = now.minute() % 2 == 0 ? 2 : 1;
    return std::clamp(minutesToGo * 60000 - intoMinute, 1, std::max(maxWaitMs, 1));
}

}  // namespace quarvel
