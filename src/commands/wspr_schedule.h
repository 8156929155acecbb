#pragma once
// When the beacon trigger goes out: at second 0 of every even minute of the local clock.

#include <QTime>

namespace quarvel {

// True during second 0 of an even minute.
bool isWsprSecond(const QTime& now);

// Milliseconds from now until the next even minute begins (the current one, if now lies in its
// second 0, does not count), at most maxWaitMs so that a clock that jumps is noticed soon.
int msUntilNextWsprMinute(const QTime& now, int maxWaitMs = 60000);

}  // namespace quarvel
