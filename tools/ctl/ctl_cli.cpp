#include "ctl_cli.h"

#include <QTimeZone>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ostream>

#include "common/json_text.h"
#include "common/number_text.h"
#include "ctl_commands.h"

namespace quarvel::ctl {

std::string json(const QString& text) {
    return jsonString(text.toStdString());
}

std::string isoTime(const QDateTime& time, Qt::DateFormat format) {
    return time.toOffsetFromUtc(time.offsetFromUtc()).toString(format).toStdString();
}

namespace {

// "-5" and "-.5" are operands (to be refused as numbers), not options.
bool looksLikeOption(const std::string& arg) {
    if (arg.size() < 2 || arg[0] != '-') return false;
    const char next = arg[1];
    return !(next == '.' || (next >= '0' && next <= '9'));
}

// What an option is; a plan field's option takes a value.
std::optional<Takes> optionTakes(const std::string& name) {
    if (planFieldOfOption(name)) return Takes::Value;
    const auto rows = optionRows();
    const auto row = std::ranges::find_if(rows, [&name](const OptionRow& o) {
        return o.name == name || (o.takes == Takes::Help && name == "-h");
    });
    return row == rows.end() ? std::nullopt : std::optional(row->takes);
}

void setFlag(const std::string& name, Invocation& in) {
    if (name == "--json") {
        in.json = true;
    } else if (name == "--dry-run") {
        in.dryRun = true;
    } else if (name == "--check") {
        in.check = true;
    } else {
        in.options[name] = "";  // checked with the command's options
    }
}

// Takes one option (and its value from `next` when it needs one); an exit status when it ends
// the run.
std::optional<int> takeOption(std::string name, const std::vector<std::string>& args,
                              std::size_t& next, Invocation& in) {
    std::optional<std::string> value;
    if (const auto eq = name.find('='); eq != std::string::npos && name.starts_with("--")) {
        value = name.substr(eq + 1);
        name.resize(eq);
    }
    const auto takes = optionTakes(name);
    const std::string unknown = "Unknown option " + name + "; see --help.";
    if (!takes || (*takes == Takes::Nothing && value)) return in.usage(unknown);
    switch (*takes) {
        case Takes::Help:
            in.out << usageText();
            return kOk;
        case Takes::Version:
            in.out << "quarvel-ctl " << QUARVEL_VERSION << '\n';
            return kOk;
        case Takes::Nothing:
            setFlag(name, in);
            return std::nullopt;
        case Takes::MaybeValue:  // --wait
            in.wait = true;
            if (!value) return std::nullopt;
            in.waitSeconds = parseNumber(QString::fromStdString(*value), cLocale());
            if (in.waitSeconds && *in.waitSeconds >= 0) return std::nullopt;
            return in.usage("--wait=SECONDS takes a number of seconds, such as 30.");
        case Takes::Value:
            break;
    }
    if (!value) {
        if (next >= args.size()) return in.usage(name + " needs a value; see --help.");
        value = args[next++];
    }
    if (name == "--serial" && value->empty()) {
        return in.usage("--serial needs a serial number, such as 01234567, not an empty text.");
    }
    (name == "--serial" ? in.serial.emplace() : in.options[name]) = *value;
    return std::nullopt;
}

// The command, its operands and the options; an exit status when that ends the run.
std::optional<int> parse(const std::vector<std::string>& args, Invocation& in) {
    bool optionsEnded = false;
    for (std::size_t i = 0; i < args.size();) {
        const std::string& arg = args[i++];
        if (optionsEnded || !looksLikeOption(arg)) {
            (in.command.empty() ? in.command : in.operands.emplace_back()) = arg;
        } else if (arg == "--") {
            optionsEnded = true;
        } else if (const auto ended = takeOption(arg, args, i, in)) {
            return ended;
        }
    }
    return std::nullopt;
}

bool takes(const CommandRow& row, const std::string& option) {
    if (planFieldOfOption(option)) return row.options == kPlanFieldOptions;
    return (' ' + std::string(row.options) + ' ').find(' ' + option + ' ') != std::string::npos;
}

// The row of the command named, for its number of operands; empty after saying what is wrong.
const CommandRow* commandRow(const Invocation& in) {
    const auto usage = [&in](const std::string& sentence) {
        in.usage(sentence);
        return nullptr;
    };
    if (in.command.empty()) return usage("Name a command, such as status; see --help.");
    const auto rows = commandRows();
    const auto named = std::ranges::find(rows, in.command, &CommandRow::name);
    if (named == rows.end()) {
        // "--wait 60": the seconds belong to --wait only after an equals sign.
        const bool waitSeconds = in.wait && !in.waitSeconds &&
                                 parseNumber(QString::fromStdString(in.command), cLocale());
        return usage("Unknown command " + in.command +
                     (waitSeconds ? "; did you mean --wait=" + in.command + "?"
                                  : "; see --help for the commands."));
    }
    const auto row = std::find_if(named, rows.end(), [&in](const CommandRow& c) {
        return c.name == in.command && static_cast<std::size_t>(c.operands) == in.operands.size();
    });
    if (row == rows.end()) {
        return usage(in.command + " takes " + std::to_string(named->operands) +
                     (named->operands == 1 ? " argument" : " arguments") + "; see --help.");
    }
    for (const auto& [name, value] : in.options) {
        if (!takes(*row, name)) {
            return usage(in.command + " does not take " + name + "; see --help.");
        }
    }
    if (in.dryRun && !takes(*row, "--dry-run")) {
        return usage("Only set takes --dry-run; see --help.");
    }
    if (in.check && (!takes(*row, "--check") || in.json)) {
        return usage("Only status takes --check, and not with --json; see --help.");
    }
    return &*row;
}

int dispatch(const std::vector<std::string>& args, Invocation& in) {
    if (const auto ended = parse(args, in)) return *ended;
    const CommandRow* row = commandRow(in);
    if (row == nullptr) return kUsageError;
    if (row->sends == Sends::Always || (row->sends == Sends::UnlessDryRun && !in.dryRun)) {
        in.lockPatience = row->lockPatience;
    }
    return row->handler(in);
}

// Output lost is a failure like any other, said once on standard error; a reader that has had
// enough of `watch` ends it as Ctrl-C does.
int finishOutput(const Invocation& in, int status) {
    errno = 0;
    // Straight to the buffer: a stream that already failed would not ask it again, and the
    // buffer tells why it failed.
    const bool flushed = in.out.rdbuf() != nullptr && in.out.rdbuf()->pubsync() == 0;
    if (in.out && flushed) return status;
    const int error = in.outputErrno != 0 ? in.outputErrno : errno;
    if (in.command == "watch" && error == EPIPE) return status;
    if (status != kOk) return status;
    in.err << "quarvel-ctl: The output could not be written"
           << (error > 0 ? std::string(" (") + std::strerror(error) + ")" : std::string())
           << "; check the disk or the program reading it.\n";
    return kDeviceError;
}

}  // namespace

int run(const std::vector<std::string>& args, Environment& env, std::ostream& out,
        std::ostream& err) {
    Invocation in(env, out, err);
    return finishOutput(in, dispatch(args, in));
}

}  // namespace quarvel::ctl
