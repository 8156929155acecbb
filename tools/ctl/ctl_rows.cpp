// quarvel-ctl's commands and options, one row each, and the --help text made from them.

#include <array>

#include "ctl_commands.h"

namespace quarvel::ctl {

namespace {

using namespace std::chrono_literals;

// A send sequence takes milliseconds; a holder that keeps the lock longer is a running wspr.
constexpr auto kPatience = 10s;
constexpr auto kWsprPatience = 3s;

constexpr std::string_view kPlanJson =
    "command, SerNo, sent, GPS, N31, N2_HS, N2_LS, N1_HS, NC1_LS,\n"
    "NC2_LS, PhaseBox, BW, Out1Freq, OUT2 (Hz, null when no entry\n"
    "is selected), F3 (Hz, as the window cuts it), Fosc (GHz, as\n"
    "the window cuts it), F3_Hz and Fosc_Hz (exact), clamped (the\n"
    "fields validation changed), rounded (the fields the report\n"
    "carries as whole numbers; the values above are what it\n"
    "carries), warnings (e.g. Fosc outside the range the plan\n"
    "search keeps to, where the PLL may not lock)";
constexpr std::string_view kReportJson = "command, SerNo, sent, payload (the command's bytes)";

constexpr std::array<CommandRow, 12> kCommands{{
    {"list", "", 0, "", Sends::Never, 0s,
     "the attached generators (with --serial S, just that one):\n"
     "serial number, manufacturer, product, release, and whether\n"
     "each can be opened (and if not, why)",
     "SerNo, lblManuf, lblProduct, lblVersion, path, canOpen,\n"
     "reason",
     listCommand},
    {"status", "", 0, "--check", Sends::Never, 0s,
     "identity, output enables, drive strength, GPS reference,\n"
     "dividers, phase step, BW, output 1 and 2, F3, Fosc, and the\n"
     "lock state from the newest input report (waiting up to 2 s);\n"
     "with --check, one line for monitoring agents",
     "SerNo, lblManuf, lblProduct, lblVersion, OUT1EN, OUT2EN,\n"
     "Enc1 (mA), GPS, N31, N2_HS, N2_LS, N1_HS, NC1_LS, NC2_LS,\n"
     "PhaseBox (index), Phase (degrees), BW, Out1Freq, OUT2 (Hz),\n"
     "F3 (Hz), Fosc (GHz), LOS (no GPS signal), LOL (no PLL lock),\n"
     "SignalLossCount (the last three null without an input report)",
     statusCommand},
    {"watch", "", 0, "--for --summary --textfile", Sends::Never, 0s,
     "one line per change of GPS signal, PLL lock or signal-loss\n"
     "count and per loss or return of the device, with the local\n"
     "time and the serial number; reconnects; runs until Ctrl-C or\n"
     "SIGTERM, until the program reading its output goes away, or\n"
     "for --for DURATION (90, 90s, 15m, 2h); with --summary, prints\n"
     "at the end each span of lost GPS signal or unlocked PLL\n"
     "with its start, end and length, and the totals; with\n"
     "--textfile DIR, also keeps DIR/quarvel.prom current",
     "time, SerNo, event (\"state\", \"lost\", \"back\"), and for \"state\"\n"
     "LOS, LOL, SignalLossCount and changed (the fields that\n"
     "changed); with --summary a last object: event \"summary\",\n"
     "SerNo, from, to, gpsLost and pllUnlocked (lists of start,\n"
     "end, seconds, ongoing), gpsLostCount, gpsLostSeconds,\n"
     "pllUnlockedCount, pllUnlockedSeconds, signalLosses",
     watchCommand},
    {"set", "FREQ", 1, "--out2 --dry-run", Sends::UnlessDryRun, kPatience,
     "searches the plan for output 1 = FREQ Hz as \"Find\" does and\n"
     "uploads it as \"Find\" does; with --out2 F2, a plan that also\n"
     "gives output 2 = F2 Hz, sent as \"Update\" sends it with that\n"
     "output 2 entry chosen; --dry-run prints it and sends nothing\n"
     "and needs no device (--serial picks the bandwidth rule)",
     kPlanJson, setCommand},
    {"upload", "[FIELDS]", 0, kPlanFieldOptions, Sends::Always, kPatience,
     "sends what \"Update\" sends for these fields, after the same\n"
     "validation and clamping (each clamp is reported). FIELDS are\n"
     "--gps G, --n31 A, --n2hs B, --n2ls C, --n1hs D, --nc1 E,\n"
     "--nc2 F, --phase-index K (0-based, within the phase list of\n"
     "NC1_LS) and --bw W; those not given are what the window\n"
     "shows after reading the device: its values, with NC2_LS as\n"
     "the output 2 list selects it (an odd one becomes its even\n"
     "neighbour, which is reported), and the device's phase step",
     kPlanJson, uploadCommand},
    {"enable", "1|2|both|none", 1, "", Sends::Always, kPatience,
     "output enables: the outputs named on, the other off (enable 1\n"
     "turns output 2 off)",
     kReportJson, enableCommand},
    {"enable", "1|2 on|off", 2, "", Sends::Always, kPatience,
     "switches one output and leaves the other as the device has\n"
     "it (its status is read first)",
     kReportJson, enableOneCommand},
    {"identify", "1|2|off", 1, "", Sends::Always, kPatience,
     "makes an output identify itself, or stops it", kReportJson, identifyCommand},
    {"drive", "8|16|24|32", 1, "", Sends::Always, kPatience, "output drive strength in mA",
     kReportJson, driveCommand},
    {"sleep", "", 0, "", Sends::Always, kPatience, "puts the device to sleep", kReportJson,
     sleepCommand},
    {"register", "REG DATA", 2, "", Sends::Always, kPatience,
     "writes DATA (0..255) to register REG (0..255)", kReportJson, registerCommand},
    {"wspr", "", 0, "", Sends::Always, kWsprPatience,
     "a WSPR beacon trigger at second 0 of every even UTC minute\n"
     "until Ctrl-C or SIGTERM, one line per trigger (with how many\n"
     "ms after second 0 it went out) or skipped minute (a minute\n"
     "whose second 0 has passed is skipped, never triggered late);\n"
     "a generator unplugged and plugged back in is opened again\n"
     "within a second; at the end, the totals",
     "time (local, to the ms), event (\"trigger\", \"skipped\" or\n"
     "\"totals\"), minute (UTC, HH:mm), lateMs (for \"trigger\"),\n"
     "reason (for \"skipped\"); for \"totals\" triggered, skipped and\n"
     "worstLateMs (null without a trigger)",
     wsprCommand},
}};

constexpr std::array<OptionRow, 11> kOptions{{
    {"--serial", "S", Takes::Value,
     "the generator with serial number S; required when several\n"
     "are attached"},
    {"--json", "", Takes::Nothing, "one JSON object a line on standard output instead of text"},
    {"--dry-run", "", Takes::Nothing, "set: print the plan, send nothing"},
    {"--out2", "F2", Takes::Value, "set: output 2 frequency in Hz"},
    {"--for", "DURATION", Takes::Value, "watch: stop after this long"},
    {"--summary", "", Takes::Nothing, "watch: the spans and totals when it stops"},
    {"--wait", "SECONDS", Takes::MaybeValue,
     "wait for the generator (the one named by --serial, if given)\n"
     "to be attached and openable, at most SECONDS, instead of\n"
     "failing at once; watch and wspr also keep waiting whenever it\n"
     "is gone, as a service wants"},
    {"--check", "", Takes::Nothing,
     "status: one line for monitoring plugins, with performance\n"
     "data (gps_signal, pll_locked, signal_losses, output1_hz,\n"
     "output2_hz, as the device makes them); exit 0 OK with GPS\n"
     "signal and PLL lock, 2 CRITICAL when either is missing, 3\n"
     "UNKNOWN when the device is absent or cannot be read, or a\n"
     "stop came while waiting for it"},
    {"--textfile", "DIR", Takes::Value,
     "watch: keep DIR/quarvel.prom current for the Prometheus node\n"
     "exporter's textfile collector, replaced whole at each change\n"
     "and at least every 15 s, with per serial number:\n"
     "quarvel_device_present, quarvel_gps_signal,\n"
     "quarvel_pll_locked, quarvel_signal_losses_total,\n"
     "quarvel_output_frequency_hertz (label output, as the device\n"
     "makes it) and quarvel_last_report_timestamp_seconds; a watch\n"
     "that ends takes its generator's lines out"},
    {"--help", "", Takes::Help, "this text"},
    {"--version", "", Takes::Version, "the version"},
}};

constexpr std::string_view kIntro =
    R"(Usage: quarvel-ctl [--serial S] [--wait[=SECONDS]] COMMAND [ARGS] [--json]

Configures and watches the attached GPS-referenced clock generators from the command line:
everything the quarvel-config window does, with the same reports on the wire. Numbers are
read and written in the C locale (a point as the decimal separator, no digit grouping).

Commands:
)";

constexpr std::string_view kAfterCommands = R"(
After every command that sets the plan, the output enables or the drive strength, the status
report is read back; a device that does not report what was sent is an error.

One program at a time per generator: a command that sends holds the generator's lock file
(quarvel-SERIAL.lock in /run/lock, else in $XDG_RUNTIME_DIR; on Windows in
%ProgramData%\quarvel) for its sequence, wspr for as long as it runs, and the window around
each of its sends. A command that finds it held waits )";

constexpr std::string_view kExitStatus = R"(
Exit status: 0 success; 1 the device is absent or cannot be opened, a transfer failed, the
read-back differs, no plan exists, another program holds the generator, or the output could
not be written; 2 bad usage, or input that is not a number or is out of range (REG, DATA and
BW 0..255, frequencies above 0), refused before waiting for the generator or its lock; 128 +
the signal's number (130 Ctrl-C, 143 SIGTERM) when a stop came while waiting for the
generator or its lock, and nothing was sent. Errors go to standard error as one sentence;
nothing is sent on bad input. status --check exits 0, 2 or 3 as said above; watch and wspr
end with 0 on Ctrl-C or SIGTERM, also while waiting.
)";

// "  term" padded to the text's column, the text's lines below one another in it.
std::string entry(const std::string& term, std::string_view text) {
    constexpr std::size_t kColumn = 26;
    std::string lines = "  " + term;
    lines += lines.size() < kColumn ? std::string(kColumn - lines.size(), ' ')
                                    : '\n' + std::string(kColumn, ' ');
    for (const char c : text)
        lines += c == '\n' ? '\n' + std::string(kColumn, ' ') : std::string(1, c);
    return lines + '\n';
}

std::string optionTerm(const OptionRow& o) {
    const std::string name(o.name), value(o.value);
    if (o.takes == Takes::MaybeValue) return name + "[=" + value + ']';
    if (o.takes == Takes::Help) return name + ", -h";
    return name + (value.empty() ? "" : " " + value);
}

// Neighbours with the same members share one entry.
std::string jsonEntries() {
    std::string text;
    std::string names;
    for (std::size_t i = 0; i < kCommands.size(); ++i) {
        const CommandRow& c = kCommands[i];
        if (!names.ends_with(c.name)) names += (names.empty() ? "" : ", ") + std::string(c.name);
        if (i + 1 < kCommands.size() && kCommands[i + 1].json == c.json) continue;
        text += entry(names, c.json);
        names.clear();
    }
    return text;
}

}  // namespace

std::span<const CommandRow> commandRows() {
    return kCommands;
}

std::span<const OptionRow> optionRows() {
    return kOptions;
}

std::string usageText() {
    std::string text(kIntro);
    for (const CommandRow& c : kCommands) {
        text +=
            entry(std::string(c.name) + (c.arguments.empty() ? "" : " ") + std::string(c.arguments),
                  c.help);
    }
    text += std::string(kAfterCommands) + "up to " + std::to_string(kPatience.count()) +
            " s (wspr " + std::to_string(kWsprPatience.count()) +
            " s), then fails and names the holder.\n\nOptions:\n";
    for (const OptionRow& o : kOptions) text += entry(optionTerm(o), o.help);
    text += "\nJSON fields (names as in the window):\n" + jsonEntries();
    return text + std::string(kExitStatus);
}

}  // namespace quarvel::ctl
