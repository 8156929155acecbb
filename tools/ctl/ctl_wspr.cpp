// wspr: the beacon trigger at second 0 of every even UTC minute, until a stop is requested, on
// the injected clock.

#include <algorithm>

#include "commands/wspr_schedule.h"
#include "ctl_commands.h"

namespace quarvel::ctl {

namespace {

// The start of the even UTC minute whose second 0 is now or next. WSPR slots are UTC whatever
// the computer's zone: a zone half an hour off would miss every slot.
QDateTime nextWsprMinute(const QDateTime& at) {
    const QDateTime now = at.toUTC();
    const QDateTime minute(now.date(), QTime(now.time().hour(), now.time().minute()), Qt::UTC);
    if (isWsprSecond(now.time())) return minute;
    QDateTime next = minute.addSecs(60);
    if (next.time().minute() % 2 != 0) next = next.addSecs(60);
    return next;
}

// How often the generator is looked at while waiting: one unplugged and plugged back in is
// opened again within this, not at the cost of the next slot.
constexpr qint64 kLookMs = 1000;

class Beacon {
  public:
    explicit Beacon(const Invocation& in) : in_(in) {}

    int run() {
        Failure failure;
        connection_ = reachGenerator(in_, failure);
        // A stop while waiting for the generator ends the loop before it began, as cleanly.
        if (!connection_.isOpen()) return in_.env.stopRequested() ? kOk : in_.fail(failure);
        serial_ = connection_.serial().toStdString();
        QDateTime due = nextWsprMinute(in_.env.localClock());
        while (!in_.env.stopRequested() && in_.outputWritable()) {
            const QDateTime now = in_.env.localClock();
            // A clock set back keeps its even minutes too: the schedule follows it.
            if (now.msecsTo(due) > 120000) due = nextWsprMinute(now);
            if (now.msecsTo(due) > 0) {
                keepConnected();
                // To the deadline read from the clock, a look at a time.
                const qint64 left = in_.env.localClock().msecsTo(due);
                if (left > 0) in_.env.sleep(std::chrono::milliseconds(std::min(left, kLookMs)));
                continue;
            }
            // Checked afresh each time; a minute whose second 0 has gone by gets no trigger,
            // because a late beacon is worse than none.
            if (now < due.addSecs(1)) {
                trigger(due);
            } else {
                skipped(due, "late");
            }
            due = nextWsprMinute(due.addSecs(1) > now ? due.addSecs(1) : now);
        }
        totals();
        return kOk;
    }

  private:
    // A generator replugged leaves handles that never answer again: they are dropped and the
    // generator opened afresh, before the slot rather than by a failed trigger.
    void keepConnected() {
        if (connection_.isOpen() && !connection_.newestLock() && !connection_.statusFrame()) {
            connection_.close();
        }
        if (!connection_.isOpen()) {
            Failure ignored;
            connection_ = Connection::open(in_.env.backend, serial_, ignored);
        }
    }

    void trigger(const QDateTime& minute) {
        if (!connection_.isOpen()) return skipped(minute, "device absent");
        const auto frame = commandFrame(connection_.featureLength(), Command::WsprTrigger);
        if (!frame) return skipped(minute, "feature report too short");
        const QDateTime sentAt = in_.env.localClock();
        if (sendChecked(connection_, *frame)) {
            connection_.close();
            return skipped(minute, "transfer failed");
        }
        const qint64 late = minute.msecsTo(sentAt);
        ++triggered_;
        worstLateMs_ = std::max(worstLateMs_.value_or(late), late);
        const std::string ms = std::to_string(late);
        in_.printNow(stamped(sentAt)
                         .add("event", jsonString("trigger"), " WSPR trigger sent for ")
                         .add("minute", jsonString(hhmm(minute)), hhmm(minute) + " UTC")
                         .add("lateMs", ms, ", " + ms + " ms late"));
    }

    void skipped(const QDateTime& minute, const char* reason) {
        ++skipped_;
        in_.printNow(stamped(in_.env.localClock())
                         .add("event", jsonString("skipped"), " WSPR trigger skipped for ")
                         .add("minute", jsonString(hhmm(minute)), hhmm(minute) + " UTC")
                         .add("reason", jsonString(reason), std::string(" (") + reason + ")"));
    }

    void totals() {
        const std::string worst = worstLateMs_ ? std::to_string(*worstLateMs_) : kJsonNull;
        OutputRecord record = stamped(in_.env.localClock());
        record.add("event", jsonString("totals"), " WSPR totals: ")
            .add("triggered", std::to_string(triggered_), std::to_string(triggered_) + " triggered")
            .add("skipped", std::to_string(skipped_), ", " + std::to_string(skipped_) + " skipped")
            .add("worstLateMs", worst,
                 worstLateMs_ ? ", worst lateness " + worst + " ms" : std::string());
        in_.printNow(record);
    }

    // Local time to the millisecond, so that the lines show how late a trigger went out.
    static OutputRecord stamped(const QDateTime& at) {
        const std::string time = isoTime(at, Qt::ISODateWithMs);
        OutputRecord record;
        record.add("time", jsonString(time), time);
        return record;
    }

    static std::string hhmm(const QDateTime& minute) {
        return minute.toString(QStringLiteral("HH:mm")).toStdString();
    }

    const Invocation& in_;
    Connection connection_;
    std::string serial_;
    int triggered_ = 0, skipped_ = 0;
    std::optional<qint64> worstLateMs_;
};

}  // namespace

int wsprCommand(const Invocation& in) {
    return Beacon(in).run();
}

}  // namespace quarvel::ctl
