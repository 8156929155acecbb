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
#include "planning/output2_list.h"
#include "planning/pair_search.h"
#include "planning/plan_search.h"

namespace quarvel::plan_cli {

namespace {

constexpr const char* kUsage =
    R"(Usage: quarvel-plan [--json] [--out2 F2 | --alternatives N] [FREQUENCY...]

Searches, for each output 1 frequency in hertz, the GPS reference frequency and divider set
that the configuration tool's "Find" button would choose. Frequencies come from the arguments,
or one a line from standard input when there are none (blank lines are skipped). Numbers are
read and written in the C locale: a point as the decimal separator, no digit grouping.

Each request gives one line: the plan (pass, GPS, N31, N2_HS, N2_LS, N1_HS, NC1_LS, NC2_LS,
F3 = GPS / N31, Fosc = F3 * N2_HS * N2_LS and the output 1 frequency the plan gives), or
"no plan".

  --out2 F2         plan output 2 at F2 hertz as well, for every request: the first plan of
                    the same search whose NC1_LS also gives F2 exactly with an even NC2_LS up
                    to 1048576 (both frequencies taken as the exact decimals written, at most
                    19 significant digits); the line adds output 2 as the window's OUT2 list
                    shows it
  --alternatives N  the first N plans the search accepts (1 to 100) instead of the first only,
                    one line each, numbered from 1: those of the strict pass, or when it has
                    none, those of the relaxed pass
  --json            one JSON object a line instead, with the fields named as in the window:
                    request (the text given), found, pass ("strict" or "relaxed"), GPS, N31,
                    N2_HS, N2_LS, N1_HS, NC1_LS, NC2_LS, F3, Fosc, Out1Freq; with --out2 also
                    out2 (the text given) and OUT2, with --alternatives also alternative; a
                    request that is not a frequency also gets "error"
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

std::string number(double value) {
    return formatNumber(value, QLocale::c()).toStdString();
}

// One line's plan: after the request's head, as text or as the rest of a JSON object.
// out2Hz: output 2 as the window's OUT2 list computes it, when output 2 was asked for.
void printPlan(std::ostream& out, const FrequencyPlan& p, std::int32_t nc2,
               std::optional<double> out2Hz, bool json) {
    const char* pass = p.pass == SearchPass::Strict ? "strict" : "relaxed";
    // The window's own arithmetic, left to right (the output 1 value is what an upload shows).
    const double f3 = p.gps / p.n31;
    const double fosc = f3 * p.n2hs * p.n2ls;
    const double out1 = p.gps / p.n31 * p.n2ls * p.n2hs / p.n1hs / p.nc1ls;
    if (json) {
        out << "\"found\":true,\"pass\":\"" << pass << "\",\"GPS\":" << number(p.gps)
            << ",\"N31\":" << p.n31 << ",\"N2_HS\":" << p.n2hs << ",\"N2_LS\":" << p.n2ls
            << ",\"N1_HS\":" << p.n1hs << ",\"NC1_LS\":" << p.nc1ls << ",\"NC2_LS\":" << nc2
            << ",\"F3\":" << number(f3) << ",\"Fosc\":" << number(fosc)
            << ",\"Out1Freq\":" << number(out1);
        if (out2Hz) out << ",\"OUT2\":" << number(*out2Hz);
        out << "}\n";
    } else {
        out << pass << " pass, GPS " << number(p.gps) << ", N31 " << p.n31 << ", N2_HS " << p.n2hs
            << ", N2_LS " << p.n2ls << ", N1_HS " << p.n1hs << ", NC1_LS " << p.nc1ls << ", NC2_LS "
            << nc2 << ", F3 " << number(f3) << " Hz, Fosc " << number(fosc) << " Hz, output 1 "
            << number(out1) << " Hz";
        if (out2Hz) out << ", output 2 " << number(*out2Hz) << " Hz";
        out << '\n';
    }
}

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

Outcome report(const std::string& text, const Options& o, std::ostream& out) {
    const std::string request = QString::fromStdString(text).trimmed().toStdString();
    const std::optional<double> hz = parseNumber(QString::fromStdString(text), QLocale::c());
    const bool pair = o.out2.has_value();
    if (!hz || !(*hz > 0) || (pair && !isPairFrequencyText(text))) {
        if (o.json) {
            out << "{\"request\":" << jsonString(request)
                << ",\"found\":false,\"error\":\"not a frequency\"}\n";
        } else {
            out << request << ": not a frequency\n";
        }
        return Outcome::NotAFrequency;
    }
    // Each line starts with the request; the plan or "no plan" follows.
    const auto head = [&](int alternative) {
        if (o.json) {
            out << "{\"request\":" << jsonString(request);
            if (pair) out << ",\"out2\":" << jsonString(*o.out2);
            if (alternative > 0) out << ",\"alternative\":" << alternative;
            out << ',';
        } else {
            out << number(*hz) << " Hz";
            if (pair)
                out << " and "
                    << number(*parseNumber(QString::fromStdString(*o.out2), QLocale::c())) << " Hz";
            if (alternative > 0) out << ", plan " << alternative;
            out << ": ";
        }
    };
    const Plans found = search(text, *hz, o);
    const std::vector<FrequencyPlan>& plans = found.plans;
    if (plans.empty()) {
        head(0);
        if (o.json) {
            out << "\"found\":false}\n";
        } else {
            out << "no plan" << (found.searchable ? "" : " (too low to search)") << '\n';
        }
        return Outcome::NotFound;
    }
    for (std::size_t i = 0; i < plans.size(); ++i) {
        head(o.alternatives > 0 ? static_cast<int>(i) + 1 : 0);
        const FrequencyPlan& p = plans[i];
        if (!pair) {
            printPlan(out, p, p.nc1ls, std::nullopt, o.json);
            continue;
        }
        // Entry NC2_LS / 2 - 1 of the list built from the request and NC1_LS.
        printPlan(out, p, found.nc2, out2Frequency(*hz, p.nc1ls, found.nc2 / 2 - 1), o.json);
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
