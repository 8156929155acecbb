#pragma once
// The commands of quarvel-ctl, each given the parsed command line.

#include <QLocale>
#include <cerrno>
#include <map>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "commands/reports.h"
#include "commands/station_lock.h"
#include "ctl_cli.h"

namespace quarvel::ctl {

struct Invocation {
    Invocation(Environment& environment, std::ostream& output, std::ostream& errors)
        : env(environment), out(output), err(errors) {}

    std::string command;
    std::vector<std::string> operands;
    std::map<std::string, std::string> options;  // "--gps" -> "4687500"
    std::optional<std::string> serial;
    bool json = false;
    bool dryRun = false;
    bool check = false;                 // status --check
    bool wait = false;                  // --wait: for the generator to be attached
    std::optional<double> waitSeconds;  // --wait=SECONDS; none: for as long as it takes
    Environment& env;
    std::ostream& out;
    std::ostream& err;
    // The error number of a write that failed, noted by a loop that stopped for it.
    mutable int outputErrno = 0;

    std::optional<std::string> option(const std::string& name) const {
        const auto it = options.find(name);
        return it == options.end() ? std::nullopt : std::optional(it->second);
    }
    int fail(const Failure& failure) const {
        err << "quarvel-ctl: " << failure.message << '\n';
        return failure.status;
    }
    int usage(const std::string& sentence) const { return fail({kUsageError, sentence}); }
    // A line of a loop's output goes out at once, and a failed write is noticed at once.
    void endLine() const {
        out.flush();
        outputWritable();
    }
    // False once a write to out has failed (noting why), so that a loop stops.
    bool outputWritable() const {
        if (!out && outputErrno == 0) outputErrno = errno != 0 ? errno : -1;
        return static_cast<bool>(out);
    }
};

// Numbers on the command line and in the output are in the C locale.
inline const QLocale& cLocale() {
    static const QLocale c = QLocale::c();
    return c;
}
std::string number(double value);
inline constexpr const char* kNoStatusReport =
    "The device did not send its status report; check the connection and try again.";
std::string jsonString(const QString& text);
// The plan's fields as JSON members, each with a leading comma, under the window's names;
// afterPhase follows the phase step.
// The first input report within 2 s, as the newest of those waiting.
std::optional<LockState> waitForLock(Connection& c, const Environment& env);

std::string planJson(const PlanValues& values, const std::string& afterPhase = {});
// Local time with its UTC offset, e.g. 2026-12-07T12:00:00+01:00.
std::string isoTime(const QDateTime& time);

int listCommand(const Invocation& in);
int statusCommand(const Invocation& in);
int watchCommand(const Invocation& in);
int setCommand(const Invocation& in);
int uploadCommand(const Invocation& in);
int simpleCommand(const Invocation& in);     // enable, identify, drive, sleep, register
int enableOneCommand(const Invocation& in);  // enable 1|2 on|off
int checkCommand(const Invocation& in);      // status --check

// False when a stop came while waiting for the generator (--wait).
bool waitForDevice(const Invocation& in);
bool sendsToDevice(const Invocation& in);
// The generator's lock for the command's send sequence; empty (the refusal said) when another
// program keeps it.
std::optional<StationLock> takeStationLock(const Invocation& in);
int wsprCommand(const Invocation& in);

}  // namespace quarvel::ctl
