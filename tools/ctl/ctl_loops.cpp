// watch and wspr: loops that run until a stop is requested, on the injected clock.

#include <ostream>

#include "commands/reports.h"
#include "commands/wspr_schedule.h"
#include "ctl_commands.h"
#include "ctl_summary.h"
#include "ctl_textfile.h"
#include "planning/plan_fields.h"

namespace quarvel::ctl {

namespace {

// The window's lock monitor intervals: 500 ms while reads succeed, 250 ms after a loss.
constexpr std::chrono::milliseconds kConnectedPoll{500};
constexpr std::chrono::milliseconds kLostPoll{250};

class Watcher {
  public:
    explicit Watcher(const Invocation& in) : in_(in), extras_(in) {}

    int run() {
        if (extras_.usageError()) return in_.fail(*extras_.usageError());
        Failure failure;
        connection_ = Connection::open(in_.env.backend, in_.serial, failure);
        if (!connection_.isOpen()) return in_.fail(failure);
        serial_ = connection_.serial().toStdString();
        if (const auto dir = in_.option("--textfile")) metrics_.emplace(*dir, serial_);
        while (!in_.env.stopRequested() && !extras_.timeUp() && in_.outputWritable()) {
            const auto next = connection_.isOpen() ? poll() : reconnect();
            if (const auto problem = writeMetrics()) return in_.fail({kDeviceError, *problem});
            in_.env.sleep(next);
        }
        extras_.finish();
        return kOk;
    }

  private:
    std::optional<std::string> writeMetrics() {
        if (!metrics_) return std::nullopt;
        const QDateTime now = in_.env.localClock();
        metrics_->setPresent(connection_.isOpen());
        if (connection_.isOpen() && metrics_->outputsDue(now)) {
            if (const auto status = connection_.status()) {
                // Output 2 as status and the window show it.
                PlanFields fields(cLocale());
                fields.readout(*status);
                metrics_->setOutputs(fields.output1Hz(), fields.out2Value(), now);
            }
        }
        return metrics_->write(now);
    }

    std::chrono::milliseconds poll() {
        if (const auto lock = connection_.newestLock()) {
            extras_.report(connection_.serial(), *lock);
            if (metrics_) metrics_->setLock(*lock, in_.env.localClock());
            report(*lock);
            return kConnectedPoll;
        }
        // No report waiting is not a loss by itself; a device that no longer answers is.
        if (connection_.statusFrame()) {
            extras_.missing();
            return kConnectedPoll;
        }
        extras_.absent();
        connection_.close();
        event("lost", "device " + printable(connection_.serial()) + " lost");
        return kLostPoll;
    }

    std::chrono::milliseconds reconnect() {
        Failure ignored;
        connection_ = Connection::open(in_.env.backend, serial_, ignored);
        if (!connection_.isOpen()) {
            extras_.absent();
            return kLostPoll;
        }
        event("back", "device " + printable(connection_.serial()) + " back");
        return poll();
    }

    void report(const LockState& lock) {
        std::vector<std::string> changed;
        if (!last_ || last_->noGpsSignal != lock.noGpsSignal) changed.emplace_back("LOS");
        if (!last_ || last_->pllNotLocked != lock.pllNotLocked) changed.emplace_back("LOL");
        if (!last_ || last_->signalLossCount != lock.signalLossCount) {
            changed.emplace_back("SignalLossCount");
        }
        last_ = lock;
        if (changed.empty()) return;
        const std::string time = isoTime(in_.env.localClock());
        if (in_.json) {
            in_.out << "{\"time\":\"" << time << "\",\"SerNo\":" << jsonString(serialText())
                    << ",\"event\":\"state\",\"LOS\":" << (lock.noGpsSignal ? "true" : "false")
                    << ",\"LOL\":" << (lock.pllNotLocked ? "true" : "false")
                    << ",\"SignalLossCount\":" << lock.signalLossCount << ",\"changed\":[";
            for (std::size_t i = 0; i < changed.size(); ++i) {
                in_.out << (i > 0 ? "," : "") << '"' << changed[i] << '"';
            }
            in_.out << "]}" << '\n';
            in_.endLine();
            return;
        }
        in_.out << time << ' ' << printable(serialText())
                << (lock.noGpsSignal ? " no GPS signal" : " GPS signal present")
                << (lock.pllNotLocked ? ", no PLL lock" : ", PLL locked") << ", signal-loss count "
                << lock.signalLossCount << '\n';
        in_.endLine();
    }

    QString serialText() const { return QString::fromStdString(serial_); }

    void event(const char* name, const std::string& text) {
        const std::string time = isoTime(in_.env.localClock());
        if (in_.json) {
            in_.out << "{\"time\":\"" << time << "\",\"SerNo\":" << jsonString(serialText())
                    << ",\"event\":\"" << name << "\"}" << '\n';
            in_.endLine();
        } else {
            in_.out << time << ' ' << text << '\n';
            in_.endLine();
        }
    }

    const Invocation& in_;
    WatchExtras extras_;
    Connection connection_;
    std::string serial_;
    std::optional<LockState> last_;
    std::optional<MetricsFile> metrics_;
};

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
        if (in_.json) {
            in_.out << "{\"time\":\"" << time << "\",\"event\":\"" << event << "\",\"minute\":\""
                    << hhmm << '"';
            if (*reason != '\0') in_.out << ",\"reason\":\"" << reason << '"';
            in_.out << '}' << '\n';
            in_.endLine();
        } else if (*reason == '\0') {
            in_.out << time << " WSPR trigger sent for " << hhmm << '\n';
            in_.endLine();
        } else {
            in_.out << time << " WSPR trigger skipped for " << hhmm << " (" << reason << ")"
                    << '\n';
            in_.endLine();
        }
    }

    const Invocation& in_;
    Connection connection_;
    std::string serial_;
};

}  // namespace

int watchCommand(const Invocation& in) {
    return Watcher(in).run();
}

int wsprCommand(const Invocation& in) {
    return Beacon(in).run();
}

}  // namespace quarvel::ctl
