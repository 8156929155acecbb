#include "plan_cli.h"

#include <QLocale>
#include <QString>
#include <algorithm>
#include <cstdio>
#include <istream>
#include <optional>
#include <ostream>

#include "common/number_text.h"
#include "planning/plan_search.h"

namespace quarvel::plan_cli {

namespace {

constexpr const char* kUsage = R"(Usage: quarvel-plan [--json] [FREQUENCY...]

Searches, for each output 1 frequency in hertz, the GPS reference frequency and divider set
that the configuration tool's "Find" button would choose. Frequencies come from the arguments,
or one a line from standard input when there are none (blank lines are skipped). Numbers are
read and written in the C locale: a point as the decimal separator, no digit grouping.

Each request gives one line: the plan (pass, GPS, N31, N2_HS, N2_LS, N1_HS, NC1_LS, NC2_LS,
F3 = GPS / N31, Fosc = F3 * N2_HS * N2_LS and the output 1 frequency the plan gives), or
"no plan".

  --json      one JSON object a line instead, with the fields named as in the window:
              request (the text given), found, pass ("strict" or "relaxed"), GPS, N31, N2_HS,
              N2_LS, N1_HS, NC1_LS, NC2_LS, F3, Fosc, Out1Freq; a request that is not a
              frequency also gets "error"
  --help, -h  this text
  --          the arguments that follow are frequencies even if they start with "-"

Exit status: 0 when every request has a plan, 1 when some has none, 2 when some request is
not a frequency (not a number, zero or negative) or an option is unknown.
)";

enum class Outcome { Found = kAllFound, NotFound = kSomeNotFound, NotAFrequency = kNotAFrequency };

std::string number(double value) {
    return formatNumber(value, QLocale::c()).toStdString();
}

// A JSON string literal; bytes that are not UTF-8 become U+FFFD.
std::string jsonString(const std::string& text) {
    const std::string utf8 =
        QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())).toUtf8().toStdString();
    std::string quoted = "\"";
    for (const char c : utf8) {
        if (c == '"' || c == '\\') {
            quoted += '\\';
            quoted += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned char>(c));
            quoted += escape;
        } else {
            quoted += c;
        }
    }
    return quoted + "\"";
}

Outcome report(const std::string& text, bool json, std::ostream& out) {
    const std::string request = QString::fromStdString(text).trimmed().toStdString();
    const std::optional<double> hz = parseNumber(QString::fromStdString(text), QLocale::c());
    if (!hz || !(*hz > 0)) {
        if (json) {
            out << "{\"request\":" << jsonString(request)
                << ",\"found\":false,\"error\":\"not a frequency\"}\n";
        } else {
            out << request << ": not a frequency\n";
        }
        return Outcome::NotAFrequency;
    }
    const SearchResult result = searchPlan(*hz);
    if (!result.plan) {
        if (json) {
            out << "{\"request\":" << jsonString(request) << ",\"found\":false}\n";
        } else {
            out << number(*hz) << " Hz: no plan"
                << (result.searchable ? "" : " (too low to search)") << '\n';
        }
        return Outcome::NotFound;
    }
    const FrequencyPlan& p = *result.plan;
    const char* pass = p.pass == SearchPass::Strict ? "strict" : "relaxed";
    // The window's own arithmetic, left to right (the output 1 value is what an upload shows).
    const double f3 = p.gps / p.n31;
    const double fosc = f3 * p.n2hs * p.n2ls;
    const double out1 = p.gps / p.n31 * p.n2ls * p.n2hs / p.n1hs / p.nc1ls;
    if (json) {
        out << "{\"request\":" << jsonString(request) << ",\"found\":true,\"pass\":\"" << pass
            << "\",\"GPS\":" << number(p.gps) << ",\"N31\":" << p.n31 << ",\"N2_HS\":" << p.n2hs
            << ",\"N2_LS\":" << p.n2ls << ",\"N1_HS\":" << p.n1hs << ",\"NC1_LS\":" << p.nc1ls
            << ",\"NC2_LS\":" << p.nc1ls << ",\"F3\":" << number(f3) << ",\"Fosc\":" << number(fosc)
            << ",\"Out1Freq\":" << number(out1) << "}\n";
    } else {
        out << number(*hz) << " Hz: " << pass << " pass, GPS " << number(p.gps) << ", N31 " << p.n31
            << ", N2_HS " << p.n2hs << ", N2_LS " << p.n2ls << ", N1_HS " << p.n1hs << ", NC1_LS "
            << p.nc1ls << ", NC2_LS " << p.nc1ls << ", F3 " << number(f3) << " Hz, Fosc "
            << number(fosc) << " Hz, output 1 " << number(out1) << " Hz\n";
    }
    return Outcome::Found;
}

}  // namespace

int run(const std::vector<std::string>& args, std::istream& in, std::ostream& out,
        std::ostream& err) {
    bool json = false;
    bool optionsEnded = false;
    std::vector<std::string> requests;
    for (const std::string& arg : args) {
        if (optionsEnded || arg.empty() || arg[0] != '-' || arg == "-" ||
            (arg.size() > 1 && arg[1] != '-' && arg != "-h")) {
            requests.push_back(arg);  // "-5" is a request (not a frequency), not an option
        } else if (arg == "--") {
            optionsEnded = true;
        } else if (arg == "--json") {
            json = true;
        } else if (arg == "--help" || arg == "-h") {
            out << kUsage;
            return kAllFound;
        } else {
            err << "quarvel-plan: unknown option " << arg << " (see --help)\n";
            return kNotAFrequency;
        }
    }

    int status = kAllFound;
    const auto handle = [&](const std::string& text) {
        status = std::max(status, static_cast<int>(report(text, json, out)));
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
