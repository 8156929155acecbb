#pragma once
// The commands of quarvel-ctl, each given the parsed command line.

#include <QLocale>
#include <map>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "commands/reports.h"
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
    Environment& env;
    std::ostream& out;
    std::ostream& err;

    std::optional<std::string> option(const std::string& name) const {
        const auto it = options.find(name);
        return it == options.end() ? std::nullopt : std::optional(it->second);
    }
    int fail(const Failure& failure) const {
        err << "quarvel-ctl: " << failure.message << '\n';
        return failure.status;
    }
    int usage(const std::string& sentence) const { return fail({kUsageError, sentence}); }
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
std::string planJson(const PlanValues& values, const std::string& afterPhase = {});
// Local time with its UTC offset, e.g. 2026-12-07T12:00:00+01:00.
std::string isoTime(const QDateTime& time);

int listCommand(const Invocation& in);
int statusCommand(const Invocation& in);
int watchCommand(const Invocation& in);
int setCommand(const Invocation& in);
int uploadCommand(const Invocation& in);
int simpleCommand(const Invocation& in);  // enable, identify, drive, sleep, register
int wsprCommand(const Invocation& in);

}  // namespace quarvel::ctl
