#include "ctl_cli.h"

#include <QTimeZone>
#include <cerrno>
#include <cstring>
#include <ostream>
#include <set>

#include "common/json_text.h"
#include "common/number_text.h"
#include "common/report_layout.h"
#include "ctl_commands.h"

namespace quarvel::ctl {

namespace {

constexpr const char* kUsage =
    R"(Usage: quarvel-ctl [--serial S] [--wait[=SECONDS]] COMMAND [ARGS] [--json]

Configures and watches the attached GPS-referenced clock generators from the command line:
everything the quarvel-config window does, with the same reports on the wire. Numbers are
read and written in the C locale (a point as the decimal separator, no digit grouping).

Commands:
  list                    the attached generators (with --serial S, just that one):
                          serial number, manufacturer, product, release, and whether
                          each can be opened (and if not, why)
  status                  identity, output enables, drive strength, GPS reference,
                          dividers, phase step, BW, output 1 and 2, F3, Fosc, and the
                          lock state from the newest input report (waiting up to 2 s);
                          with --check, one line for monitoring agents
  watch                   one line per change of GPS signal, PLL lock or signal-loss
                          count and per loss or return of the device, with the local
                          time and the serial number; reconnects; runs until Ctrl-C or
                          SIGTERM, until the program reading its output goes away, or
                          for --for DURATION (90, 90s, 15m, 2h); with --summary, prints
                          at the end each span of lost GPS signal or unlocked PLL
                          with its start, end and length, and the totals; with
                          --textfile DIR, also keeps DIR/quarvel.prom current
  set FREQ                searches the plan for output 1 = FREQ Hz as "Find" does and
                          uploads it as "Find" does; with --out2 F2, a plan that also
                          gives output 2 = F2 Hz, sent as "Update" sends it with that
                          output 2 entry chosen; --dry-run prints it and sends nothing
                          and needs no device (--serial picks the bandwidth rule)
  upload [FIELDS]         sends what "Update" sends for these fields, after the same
                          validation and clamping (each clamp is reported). FIELDS are
                          --gps G, --n31 A, --n2hs B, --n2ls C, --n1hs D, --nc1 E,
                          --nc2 F, --phase-index K (0-based, within the phase list of
                          NC1_LS) and --bw W; those not given are what the window
                          shows after reading the device: its values, with NC2_LS as
                          the output 2 list selects it (an odd one becomes its even
                          neighbour, which is reported), and the device's phase step
  enable 1|2|both|none    output enables: the outputs named on, the other off (enable 1
                          turns output 2 off)
  enable 1|2 on|off       switches one output and leaves the other as the device has
                          it (its status is read first)
  identify 1|2|off        makes an output identify itself, or stops it
  drive 8|16|24|32        output drive strength in mA
  sleep                   puts the device to sleep
  register REG DATA       writes DATA (0..255) to register REG (0..255)
  wspr                    a WSPR beacon trigger at second 0 of every even local minute
                          until Ctrl-C or SIGTERM, one line per trigger or skipped
                          minute (a minute whose second 0 has passed is skipped, never
                          triggered late)

After every command that sets the plan, the output enables or the drive strength, the status
report is read back; a device that does not report what was sent is an error.

One program at a time per generator: a command that sends holds the generator's lock file
(quarvel-SERIAL.lock in /run/lock, else in $XDG_RUNTIME_DIR) for its sequence, wspr for as
long as it runs, and the window around each of its sends. A command that finds it held waits
up to 10 s (wspr 3 s), then fails and names the holder.

Options:
  --serial S              the generator with serial number S; required when several
                          are attached
  --json                  one JSON object a line on standard output instead of text
  --dry-run               set: print the plan, send nothing
  --out2 F2               set: output 2 frequency in Hz
  --for DURATION          watch: stop after this long
  --summary               watch: the spans and totals when it stops
  --wait[=SECONDS]        wait for the generator (the one named by --serial, if given)
                          to be attached and openable, at most SECONDS, instead of
                          failing at once; watch and wspr also keep waiting whenever it
                          is gone, as a service wants
  --check                 status: one line for monitoring plugins, with performance
                          data (gps_signal, pll_locked, signal_losses, output1_hz,
                          output2_hz); exit 0 OK with GPS signal and PLL lock, 2
                          CRITICAL when either is missing, 3 UNKNOWN when the device is
                          absent or cannot be read
  --textfile DIR          watch: keep DIR/quarvel.prom current for the Prometheus node
                          exporter's textfile collector, replaced whole at each change
                          and at least every 15 s, with per serial number:
                          quarvel_device_present, quarvel_gps_signal,
                          quarvel_pll_locked, quarvel_signal_losses_total,
                          quarvel_output_frequency_hertz (label output) and
                          quarvel_last_report_timestamp_seconds
  --help, -h              this text
  --version               the version

JSON fields (names as in the window):
  list                    SerNo, lblManuf, lblProduct, lblVersion, path, canOpen,
                          reason
  status                  SerNo, lblManuf, lblProduct, lblVersion, OUT1EN, OUT2EN,
                          Enc1 (mA), GPS, N31, N2_HS, N2_LS, N1_HS, NC1_LS, NC2_LS,
                          PhaseBox (index), Phase (degrees), BW, Out1Freq, OUT2 (Hz),
                          F3 (Hz), Fosc (GHz), LOS (no GPS signal), LOL (no PLL lock),
                          SignalLossCount (the last three null without an input report)
  watch                   time, SerNo, event ("state", "lost", "back"), and for "state"
                          LOS, LOL, SignalLossCount and changed (the fields that
                          changed); with --summary a last object: event "summary",
                          SerNo, from, to, gpsLost and pllUnlocked (lists of start,
                          end, seconds, ongoing), gpsLostCount, gpsLostSeconds,
                          pllUnlockedCount, pllUnlockedSeconds, signalLosses
  set, upload             command, SerNo, sent, GPS, N31, N2_HS, N2_LS, N1_HS, NC1_LS,
                          NC2_LS, PhaseBox, BW, Out1Freq, F3, Fosc, clamped (the
                          fields validation changed)
  enable, identify, drive, sleep, register
                          command, SerNo, sent, payload (the command's bytes)
  wspr                    time, event ("trigger" or "skipped"), minute, reason (for
                          "skipped")

Exit status: 0 success; 1 the device is absent or cannot be opened, a transfer failed, the
read-back differs, no plan exists, another program holds the generator, or the output could
not be written; 2 bad usage, or input that is not a number or is out
of range (REG, DATA and BW 0..255, frequencies above 0). Errors go to standard error as one
sentence; nothing is sent on bad input. status --check exits 0, 2 or 3 as said above.
)";

const std::set<std::string> kFlags = {"--json", "--dry-run"};
// Besides these, each field of the plan has its option.
const std::set<std::string> kValueOptions = {"--serial", "--out2", "--for", "--textfile"};

struct CommandShape {
    int operands;
    bool (*optionAllowed)(const std::string&);
    int (*handler)(const Invocation&);
};

bool none(const std::string&) {
    return false;
}
bool out2Option(const std::string& name) {
    return name == "--out2";
}
bool watchOption(const std::string& name) {
    return name == "--for" || name == "--summary" || name == "--textfile";
}
bool uploadOption(const std::string& name) {
    return planFieldOfOption(name).has_value();
}

const std::map<std::string, CommandShape> kCommands = {
    {"list", {0, none, listCommand}},
    {"status", {0, none, statusCommand}},
    {"watch", {0, watchOption, watchCommand}},
    {"set", {1, out2Option, setCommand}},
    {"upload", {0, uploadOption, uploadCommand}},
    {"enable", {1, none, simpleCommand}},
    {"identify", {1, none, simpleCommand}},
    {"drive", {1, none, simpleCommand}},
    {"sleep", {0, none, simpleCommand}},
    {"register", {2, none, simpleCommand}},
    {"wspr", {0, none, wsprCommand}},
};

// "-5" and "-.5" are operands (to be refused as numbers), not options.
bool looksLikeOption(const std::string& arg) {
    if (arg.size() < 2 || arg[0] != '-') return false;
    const char next = arg[1];
    return !(next == '.' || (next >= '0' && next <= '9'));
}

}  // namespace

std::string number(double value) {
    return formatNumber(value, cLocale()).toStdString();
}

std::string jsonString(const QString& text) {
    return quarvel::jsonString(text.toStdString());
}

std::string isoTime(const QDateTime& time) {
    return time.toOffsetFromUtc(time.offsetFromUtc()).toString(Qt::ISODate).toStdString();
}

namespace {

int dispatch(const std::vector<std::string>& args, Invocation& in) {
    std::ostream& out = in.out;
    bool optionsEnded = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string arg = args[i];
        if (optionsEnded || !looksLikeOption(arg)) {
            (in.command.empty() ? in.command : in.operands.emplace_back()) = arg;
            continue;
        }
        std::optional<std::string> value;
        if (const auto eq = arg.find('='); eq != std::string::npos && arg.starts_with("--")) {
            value = arg.substr(eq + 1);
            arg.resize(eq);
        }
        if (arg == "--") {
            optionsEnded = true;
        } else if (arg == "--help" || arg == "-h") {
            out << kUsage;
            return kOk;
        } else if (arg == "--version") {
            out << "quarvel-ctl " << QUARVEL_VERSION << '\n';
            return kOk;
        } else if (arg == "--summary" && !value) {
            in.options[arg] = "";  // a flag for watch alone, checked with its options
        } else if (arg == "--check" && !value) {
            in.check = true;
        } else if (arg == "--wait") {
            in.wait = true;
            if (value) {
                in.waitSeconds = parseNumber(QString::fromStdString(*value), cLocale());
                if (!in.waitSeconds || !(*in.waitSeconds >= 0)) {
                    return in.usage("--wait=SECONDS takes a number of seconds, such as 30.");
                }
            }
        } else if (kFlags.contains(arg) && !value) {
            (arg == "--json" ? in.json : in.dryRun) = true;
        } else if (kValueOptions.contains(arg) || planFieldOfOption(arg)) {
            if (!value) {
                if (i + 1 >= args.size()) return in.usage(arg + " needs a value; see --help.");
                value = args[++i];
            }
            if (arg == "--serial") {
                in.serial = *value;
            } else {
                in.options[arg] = *value;
            }
        } else {
            return in.usage("Unknown option " + arg + "; see --help.");
        }
    }
    if (in.command.empty()) return in.usage("Name a command, such as status; see --help.");
    const auto shape = kCommands.find(in.command);
    if (shape == kCommands.end()) {
        return in.usage("Unknown command " + in.command + "; see --help for the commands.");
    }
    const CommandShape& s = shape->second;
    // enable 1|2 on|off is the one command with a second form.
    const bool enableOne = in.command == "enable" && in.operands.size() == 2;
    if (!enableOne && static_cast<int>(in.operands.size()) != s.operands) {
        return in.usage(in.command + " takes " + std::to_string(s.operands) +
                        (s.operands == 1 ? " argument" : " arguments") + "; see --help.");
    }
    for (const auto& [name, value] : in.options) {
        if (!s.optionAllowed(name)) {
            return in.usage(in.command + " does not take " + name + "; see --help.");
        }
    }
    if (in.dryRun && in.command != "set") {
        return in.usage("Only set takes --dry-run; see --help.");
    }
    if (in.check && (in.command != "status" || in.json)) {
        return in.usage("Only status takes --check, and not with --json; see --help.");
    }
    if (!waitForDevice(in)) return kOk;  // stopped while waiting, as Ctrl-C ends a loop
    std::optional<StationLock> lock;
    if (sendsToDevice(in) && !(lock = takeStationLock(in))) return kDeviceError;
    if (in.check) return checkCommand(in);
    return enableOne ? enableOneCommand(in) : s.handler(in);
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
