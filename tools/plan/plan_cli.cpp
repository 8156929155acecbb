#include "plan_cli.h"

#include <QLocale>
#include <QString>
#include <algorithm>
#include <charconv>
#include <istream>
#include <optional>
#include <ostream>

#include "common/json_text.h"
#include "common/number_text.h"
#include "planning/pair_search.h"
#include "planning/plan_fields.h"

namespace quarvel::plan_cli {

namespace {

constexpr const char* kUsage =
    R"(Usage: quarvel-plan [--json] [--out2 F2 | --alternatives N] [FREQUENCY...]

Searches, for each output 1 frequency in hertz, the GPS reference frequency and divider set
that the configuration tool's "Find" button would choose. Frequencies come from the arguments,
or one a line from standard input when there are none (blank lines are skipped). Numbers are
read and written in the C locale: a point as the decimal separator, no digit grouping.

Each request gives one line: the search's pass and the fields as "Find" leaves them before
its upload (GPS, N31, N2_HS, N2_LS, N1_HS, NC1_LS, NC2_LS as the output 2 list picks it,
phase step, and BW 15 as for a serial number without the narrow loop bandwidth), the output
1 and output 2 frequencies they give, F3 and Fosc as the window shows them (F3 in whole
hertz, Fosc in GHz cut to 100 kHz), all as quarvel-ctl set --dry-run prints them; or "no
plan".

  --out2 F2         plan output 2 at F2 hertz as well, for every request: the first plan of
                    the same search whose NC1_LS also gives F2 exactly with an even NC2_LS up
                    to 1048576 (both frequencies taken as the exact decimals written, at most
                    19 significant digits), with that output 2 entry picked
  --alternatives N  the first N plans the search accepts (1 to 100) instead of the first only,
                    one line each, numbered from 1: those of the strict pass, or when it has
                    none, those of the relaxed pass
  --json            one JSON object a line instead, with the keys of quarvel-ctl set:
                    request (the text given), found, pass ("strict" or "relaxed"), GPS, N31,
                    N2_HS, N2_LS, N1_HS, NC1_LS, NC2_LS, PhaseBox, BW, Out1Freq, OUT2 (null
                    when no entry is picked), F3 and Fosc (as the window cuts them), F3_Hz
                    and Fosc_Hz (exact, in Hz); with --out2 also out2 (the text given), with
                    --alternatives also alternative; a request that is not a frequency also
                    gets "error"
  --help, -h        this text
  --                the arguments that follow are frequencies even if they start with "-"

Exit status: 0 when every request has a plan, 1 when some has none, 2 when some request is
not a frequency (not a number, zero or negative) or an option is unknown or lacks its value.
)";

enum class Outcome { Found = kAllFound, NotFound = kSomeNotFound, NotAFrequency = kNotAFrequency };

struct Options {
    bool json = false;
    std::optional<std::string> out2;  // the output 2 text
    int alternatives = 0;             // 0: the first plan only
};

struct Plans {
    std::vector<FrequencyPlan> plans;
    std::int32_t nc2 = 0;  // with --out2
    bool searchable = true;
};

Plans search(const std::string& text, double hz, const Options& o) {
    Plans found;
    if (o.out2) {
        const PairSearchResult r = searchPlanPair(text, *o.out2);
        found.searchable = r.searchable;
        if (r.plan) {
            found.plans.push_back(r.plan->plan);
            found.nc2 = r.plan->nc2ls;
        }
    } else if (o.alternatives > 0) {
        found.plans = searchPlanAlternatives(hz, o.alternatives);
        if (found.plans.empty()) found.searchable = searchPlan(hz).searchable;
    } else {
        const SearchResult r = searchPlan(hz);
        found.searchable = r.searchable;
        if (r.plan) found.plans.push_back(*r.plan);
    }
    return found;
}

// What starts each line: the request, and output 2 and the plan's number where they apply.
OutputRecord head(const std::string& request, double hz, const Options& o, int alternative) {
    OutputRecord line;
    line.add("request", jsonString(request), plainNumber(hz) + " Hz");
    if (o.out2) {
        const double out2 = *parseNumber(QString::fromStdString(*o.out2), QLocale::c());
        line.add("out2", jsonString(*o.out2), " and " + plainNumber(out2) + " Hz");
    }
    if (alternative > 0) {
        line.add("alternative", std::to_string(alternative),
                 ", plan " + std::to_string(alternative));
    }
    return line.words(": ");
}

void print(std::ostream& out, const OutputRecord& line, bool json) {
    out << (json ? line.json() : line.text()) << '\n';
}

Outcome report(const std::string& text, const Options& o, std::ostream& out) {
    const std::string request = QString::fromStdString(text).trimmed().toStdString();
    const std::optional<double> hz = parseNumber(QString::fromStdString(text), QLocale::c());
    if (!hz || !(*hz > 0) || (o.out2 && !isPairFrequencyText(text))) {
        OutputRecord line;
        line.add("request", jsonString(request), request)
            .add("found", jsonBool(false), ": not a frequency")
            .add("error", jsonString("not a frequency"));
        print(out, line, o.json);
        return Outcome::NotAFrequency;
    }
    const Plans found = search(text, *hz, o);
    if (found.plans.empty()) {
        OutputRecord line = head(request, *hz, o, 0);
        line.add("found", jsonBool(false),
                 found.searchable ? "no plan" : "no plan (too low to search)");
        print(out, line, o.json);
        return Outcome::NotFound;
    }
    const auto nc2 = o.out2 ? std::optional(found.nc2) : std::nullopt;
    for (std::size_t i = 0; i < found.plans.size(); ++i) {
        const FrequencyPlan& p = found.plans[i];
        const int alternative = o.alternatives > 0 ? static_cast<int>(i) + 1 : 0;
        const char* pass = p.pass == SearchPass::Strict ? "strict" : "relaxed";
        OutputRecord line = head(request, *hz, o, alternative);
        line.add("found", jsonBool(true))
            .add("pass", jsonString(pass), std::string(pass) + " pass, ");
        // The fields "Find" leaves (with --out2 that entry picked), as quarvel-ctl set has them.
        const QString requestText = QString::fromStdString(text);
        describeReadout(line, fieldsForPlan(requestText, p, nc2, {}, QLocale::c()).readout());
        print(out, line, o.json);
    }
    return Outcome::Found;
}

std::optional<int> alternativesCount(const std::string& text) {
    int n = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), n);
    if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    if (n < 1 || n > kMaxAlternatives) return std::nullopt;
    return n;
}

}  // namespace

int run(const std::vector<std::string>& args, std::istream& in, std::ostream& out,
        std::ostream& err) {
    Options o;
    bool optionsEnded = false;
    std::vector<std::string> requests;
    const auto usageError = [&](const std::string& message) {
        err << "quarvel-plan: " << message << " (see --help)\n";
        return kNotAFrequency;
    };
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (optionsEnded || arg.empty() || arg[0] != '-' || arg == "-" ||
            (arg.size() > 1 && arg[1] != '-' && arg != "-h")) {
            requests.push_back(arg);  // "-5" is a request (not a frequency), not an option
        } else if (arg == "--") {
            optionsEnded = true;
        } else if (arg == "--json") {
            o.json = true;
        } else if (arg == "--help" || arg == "-h") {
            out << kUsage;
            return kAllFound;
        } else if (arg == "--out2") {
            if (i + 1 == args.size() || !isPairFrequencyText(args[i + 1])) {
                return usageError("--out2 needs a frequency in hertz");
            }
            o.out2 = args[++i];
        } else if (arg == "--alternatives") {
            const auto n = i + 1 < args.size() ? alternativesCount(args[i + 1]) : std::nullopt;
            if (!n) return usageError("--alternatives needs a count from 1 to 100");
            o.alternatives = *n;
            ++i;
        } else {
            return usageError("unknown option " + arg);
        }
    }
    if (o.out2 && o.alternatives > 0) {
        return usageError("--out2 and --alternatives do not go together");
    }

    int status = kAllFound;
    const auto handle = [&](const std::string& text) {
        status = std::max(status, static_cast<int>(report(text, o, out)));
        out.flush();  // a script may wait for each answer before sending the next request
    };
    if (!requests.empty()) {
        for (const std::string& r : requests) handle(r);
        return status;
    }
    for (std::string line; std::getline(in, line);) {
        if (QString::fromStdString(line).trimmed().isEmpty()) continue;
        handle(line);
    }
    return status;
}

}  // namespace quarvel::plan_cli
