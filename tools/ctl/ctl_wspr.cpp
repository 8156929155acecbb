// wspr: the beacon trigger at second 0 of every even minute, until a stop is requested, on the
// injected clock.

#include "commands/wspr_schedule.h"
#include "ctl_commands.h"

namespace quarvel::ctl {

namespace {

// The start of the even minute whose second 0 is now or next.
QDateTime nextWsprMinute(const QDateTime& now) {
    const QDateTime minute(now.date(), QTime(now.time().hour(), now.time().minute()));
    if (isWsprSecond(now.time())) return minute;
    QDateTime next = minute.addSecs(60);
    if (next.time().minute() % 2 != 0) next = next.addSecs(60);
    return next;
}

// How long before its minute the trigger's device is opened again if it went away.
constexpr qint64 kPrepareMs = 2000;

class Beacon {
  public:
    explicit Beacon(const Invocation& in) : in_(in) {}

    int run() {
        Failure failure;
        connection_ = Connection::open(in_.env.backend, in_.serial, failure);
        if (!connection_.isOpen()) return in_.fail(failure);
        serial_ = connection_.serial().toStdString();
        QDateTime due = nextWsprMinute(in_.env.localClock());
        while (!in_.env.stopRequested() && in_.outputWritable()) {
            const QDateTime now = in_.env.localClock();
            // A clock set back keeps its even minutes too: the schedule follows it.
            if (now.msecsTo(due) > 120000) due = nextWsprMinute(now);
            if (const qint64 left = now.msecsTo(due); left > 0) {
                // A device that went away is opened again before the minute, not at its cost.
                if (left <= kPrepareMs && !connection_.isOpen()) reopen();
                // To the deadline read from the clock, at most a minute at a time so that a clock
                // that jumps is noticed soon.
                const qint64 wait = left > kPrepareMs ? left - kPrepareMs : left;
                in_.env.sleep(std::chrono::milliseconds(std::min<qint64>(wait, 60000)));
                continue;
            }
            // Checked afresh each time; a minute whose second 0 has gone by gets no trigger,
            // because a late beacon is worse than none.
            if (now < due.addSecs(1)) {
                trigger(due);
            } else {
                line(due, "skipped", "late");
            }
            due = nextWsprMinute(due.addSecs(1) > now ? due.addSecs(1) : now);
        }
        return kOk;
    }

  private:
    void reopen() {
        Failure ignored;
        connection_ = Connection::open(in_.env.backend, serial_, ignored);
    }

    void trigger(const QDateTime& minute) {
        if (!connection_.isOpen()) reopen();
        if (!connection_.isOpen()) return line(minute, "skipped", "device absent");
        const auto frame = commandFrame(connection_.featureLength(), Command::WsprTrigger);
        if (!frame) return line(minute, "skipped", "feature report too short");
        if (sendChecked(connection_, *frame)) {
            connection_.close();
            return line(minute, "skipped", "transfer failed");
        }
        line(minute, "trigger", "");
    }

    void line(const QDateTime& minute, const char* event, const char* reason) {
        const std::string time = isoTime(in_.env.localClock());
        const std::string hhmm = minute.toString(QStringLiteral("HH:mm")).toStdString();
        const bool sent = *reason == '\0';
        OutputRecord record;
        record.add("time", jsonString(time), time)
            .add("event", jsonString(event),
                 sent ? " WSPR trigger sent for " : " WSPR trigger skipped for ")
            .add("minute", jsonString(hhmm), hhmm);
        if (!sent) record.add("reason", jsonString(reason), std::string(" (") + reason + ")");
        in_.printNow(record);
    }

    const Invocation& in_;
    Connection connection_;
    std::string serial_;
};

}  // namespace

int wsprCommand(const Invocation& in) {
    return Beacon(in).run();
}

}  // namespace quarvel::ctl
