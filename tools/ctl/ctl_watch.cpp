// watch: a line per change of the lock state and per loss or return of the device, until a
// stop is requested, on the injected clock.

#include "ctl_commands.h"
#include "ctl_summary.h"
#include "ctl_textfile.h"
#include "device/newest_input.h"
#include "planning/plan_fields.h"

namespace quarvel::ctl {

namespace {

class Watcher {
  public:
    explicit Watcher(const Invocation& in) : in_(in), extras_(in) {}

    int run() {
        if (extras_.usageError()) return in_.fail(*extras_.usageError());
        Failure failure;
        connection_ = reachGenerator(in_, failure);
        // A stop while waiting for the generator ends the loop before it began, as cleanly.
        if (!connection_.isOpen()) return in_.env.stopRequested() ? kOk : in_.fail(failure);
        serial_ = connection_.serial().toStdString();
        if (const auto dir = in_.option("--textfile")) metrics_.emplace(*dir, serial_);
        // A reader gone (watch | head -1) ends it at the next look, not at the next change,
        // which on a steady station may be hours away.
        while (!in_.env.stopRequested() && !extras_.timeUp() && in_.outputWritable() &&
               !in_.env.outputGone()) {
            const auto next = connection_.isOpen() ? poll() : reconnect();
            if (const auto problem = writeMetrics()) return in_.fail({kDeviceError, *problem});
            in_.env.sleep(next);
        }
        extras_.finish();
        if (const auto problem = metrics_ ? metrics_->remove() : std::nullopt) {
            return in_.fail({kDeviceError, *problem});
        }
        return kOk;
    }

  private:
    std::optional<std::string> writeMetrics() {
        if (!metrics_) return std::nullopt;
        const QDateTime now = in_.env.localClock();
        metrics_->setPresent(connection_.isOpen());
        if (connection_.isOpen() && metrics_->outputsDue(now)) {
            // What the device makes, also from an odd NC2_LS that the window shows as its
            // even neighbour.
            if (const auto status = connection_.status()) {
                metrics_->setOutputs(outputFrequency(status->plan), output2Frequency(status->plan),
                                     now);
            }
        }
        return metrics_->write(now);
    }

    std::chrono::milliseconds poll() {
        if (const auto lock = connection_.newestLock()) {
            extras_.report(connection_.serial(), *lock);
            if (metrics_) metrics_->setLock(*lock, in_.env.localClock());
            report(*lock);
            return kLockLookConnected;
        }
        // No report waiting is not a loss by itself; a device that no longer answers is.
        if (connection_.statusFrame()) {
            extras_.missing();
            return kLockLookConnected;
        }
        extras_.absent();
        connection_.close();
        event("lost");
        return kLockLookLost;
    }

    std::chrono::milliseconds reconnect() {
        Failure ignored;
        connection_ = Connection::open(in_.env.backend, serial_, ignored);
        if (!connection_.isOpen()) {
            extras_.absent();
            return kLockLookLost;
        }
        event("back");
        return poll();
    }

    void report(const LockState& lock) {
        std::vector<std::string> changed;
        if (!last_ || last_->noGpsSignal != lock.noGpsSignal) changed.push_back(jsonString("LOS"));
        if (!last_ || last_->pllNotLocked != lock.pllNotLocked) {
            changed.push_back(jsonString("LOL"));
        }
        if (!last_ || last_->signalLossCount != lock.signalLossCount) {
            changed.push_back(jsonString("SignalLossCount"));
        }
        last_ = lock;
        if (changed.empty()) return;
        const std::string count = std::to_string(lock.signalLossCount);
        OutputRecord line = stamped();
        line.add("event", jsonString("state"))
            .add("LOS", jsonBool(lock.noGpsSignal),
                 lock.noGpsSignal ? " no GPS signal" : " GPS signal present")
            .add("LOL", jsonBool(lock.pllNotLocked),
                 lock.pllNotLocked ? ", no PLL lock" : ", PLL locked")
            .add("SignalLossCount", count, ", signal-loss count " + count)
            .add("changed", jsonList(changed));
        in_.printNow(line);
    }

    // The time and the serial number that start each line.
    OutputRecord stamped() const {
        const std::string time = isoTime(in_.env.localClock());
        OutputRecord line;
        line.add("time", jsonString(time), time)
            .add("SerNo", json(QString::fromStdString(serial_)),
                 ' ' + printable(QString::fromStdString(serial_)));
        return line;
    }

    // The device lost or back.
    void event(const char* name) {
        const std::string time = isoTime(in_.env.localClock());
        OutputRecord line;
        line.add("time", jsonString(time), time + " device ")
            .add("SerNo", json(QString::fromStdString(serial_)),
                 printable(QString::fromStdString(serial_)))
            .add("event", jsonString(name), std::string(" ") + name);
        in_.printNow(line);
    }

    const Invocation& in_;
    WatchExtras extras_;
    Connection connection_;
    std::string serial_;
    std::optional<LockState> last_;
    std::optional<MetricsFile> metrics_;
};

}  // namespace

int watchCommand(const Invocation& in) {
    return Watcher(in).run();
}

}  // namespace quarvel::ctl
