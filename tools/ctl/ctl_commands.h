#pragma once
// The commands of quarvel-ctl, one row each (ctl_rows.cpp), and the parsed command line that a
// command's handler is given. The help text and the parsing come from the rows; each handler
// lives in the file named after its command.

#include <QLocale>
#include <cerrno>
#include <chrono>
#include <map>
#include <optional>
#include <ostream>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "commands/reports.h"
#include "commands/station_lock.h"
#include "common/json_text.h"
#include "ctl_cli.h"
#include "planning/plan_fields.h"

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
    // For a command that sends: how long it waits for another program's lock on the generator,
    // which it then holds until it ends.
    std::optional<std::chrono::seconds> lockPatience;
    mutable std::optional<StationLock> lock;

    std::optional<std::string> option(const std::string& name) const {
        const auto it = options.find(name);
        return it == options.end() ? std::nullopt : std::optional(it->second);
    }
    int fail(const Failure& failure) const {
        err << "quarvel-ctl: " << failure.message << '\n';
        return failure.status;
    }
    int usage(const std::string& sentence) const { return fail({kUsageError, sentence}); }
    // One line of output: the record as JSON or as text, as the command line asked.
    void print(const OutputRecord& record) const {
        out << (json ? record.json() : record.text()) << '\n';
    }
    // A line of a loop's output goes out at once, and a failed write is noticed at once.
    void printNow(const OutputRecord& record) const {
        print(record);
        out.flush();
        outputWritable();
    }
    // False once a write to out has failed (noting why), so that a loop stops.
    bool outputWritable() const {
        if (!out && outputErrno == 0) outputErrno = errno != 0 ? errno : -1;
        return static_cast<bool>(out);
    }
};

using Handler = int (*)(const Invocation&);

// Whether a command sends to the device, and so holds the generator's lock while it runs.
enum class Sends { Never, Always, UnlessDryRun };

struct CommandRow {
    std::string_view name;
    std::string_view arguments;  // as --help shows them after the name
    int operands;
    // The options it takes besides those every command takes; kPlanFieldOptions stands for
    // each plan field's.
    std::string_view options;
    Sends sends;
    std::chrono::seconds lockPatience;  // how long it waits for another program's lock
    std::string_view help;              // its lines in --help, one line a \n
    std::string_view json;              // its JSON members in --help; shared by equal neighbours
    Handler handler;
};

inline constexpr std::string_view kPlanFieldOptions = "FIELDS";

// What an option takes after its name.
enum class Takes { Nothing, Value, MaybeValue, Help, Version };

struct OptionRow {
    std::string_view name;
    std::string_view value;  // what --help calls its value
    Takes takes;
    std::string_view help;
};

// Every command, in the order --help lists them; enable has a row for each form.
std::span<const CommandRow> commandRows();
// Every option but the plan fields' (see kPlanFieldOptions), in the order --help lists them.
std::span<const OptionRow> optionRows();
// The text of --help.
std::string usageText();

// Numbers on the command line are in the C locale.
inline const QLocale& cLocale() {
    static const QLocale c = QLocale::c();
    return c;
}
inline constexpr const char* kNoStatusReport =
    "The device did not send its status report; check the connection and try again.";
std::string json(const QString& text);
// Local time with its UTC offset, e.g. 2026-12-07T12:00:00+01:00 (with Qt::ISODateWithMs,
// 2026-12-07T12:00:00.004+01:00).
std::string isoTime(const QDateTime& time, Qt::DateFormat format = Qt::ISODate);
// The first input report within 2 s, as the newest of those waiting.
std::optional<LockState> waitForLock(Connection& c, const Environment& env);
// Sends a one-report command (the generator opened, unless given), checks what the status
// mirrors of it and says so; `note` ends the text line.
int sendOneReport(const Invocation& in, Connection& c, Command command,
                  std::span<const std::uint8_t> payload, const std::string& note = {});
int sendOneReport(const Invocation& in, Command command, std::span<const std::uint8_t> payload);
// The one-report command whose payload the operand names, or the names it takes.
using Choice = std::pair<std::string, int>;
int sendChosen(const Invocation& in, Command command, const std::vector<Choice>& choices);

// What set and upload share: the plan "Update" sends, validated and said as it went out.
struct PlanChanges {
    std::vector<PlanField> clamped;   // changed by the validation
    std::optional<double> deviceNc2;  // the device's NC2_LS, replaced unasked
};
// Validates as "Update" does and names the fields that validation changed.
std::vector<PlanField> validate(PlanFields& fields);
// Says what goes to the device, or with the plan report sent, what went: the values its bytes
// carry, each field the report rounds named as a clamp is, and a warning for an oscillator
// frequency the PLL is not expected to lock on.
void printPlan(const Invocation& in, const QString& serial, const PlanFields& fields,
               std::span<const std::uint8_t> sentReport, const PlanChanges& changes);
// The two reports of an upload, then the read-back of the second, then what was sent.
int sendPlan(const Invocation& in, Connection& c, PlanFields fields, const PlanChanges& changes);

int listCommand(const Invocation& in);
int statusCommand(const Invocation& in);  // also status --check
int watchCommand(const Invocation& in);
int setCommand(const Invocation& in);
int uploadCommand(const Invocation& in);
int enableCommand(const Invocation& in);     // enable 1|2|both|none
int enableOneCommand(const Invocation& in);  // enable 1|2 on|off
int identifyCommand(const Invocation& in);
int driveCommand(const Invocation& in);
int sleepCommand(const Invocation& in);
int registerCommand(const Invocation& in);
int wsprCommand(const Invocation& in);

// Waits for the generator as --wait asks; the failure when a stop came first.
std::optional<Failure> waitForDevice(const Invocation& in);
// The generator for a command that has checked its input: waited for (--wait), locked for a
// command that sends (held in `in.lock` until the command ends), then opened. Bad input is
// refused before this, so it never waits for the device or another program's lock.
Connection reachGenerator(const Invocation& in, Failure& failure);

}  // namespace quarvel::ctl
