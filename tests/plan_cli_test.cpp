#include "plan_cli.h"

#include <gtest/gtest.h>

#include <QLocale>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "support/ctl_harness.h"

namespace quarvel::plan_cli {
namespace {

struct Outcome {
    int status;
    std::string out, err;
};

Outcome runWith(const std::vector<std::string>& args, const std::string& input = "") {
    std::istringstream in(input);
    std::ostringstream out, err;
    const int status = run(args, in, out, err);
    return {status, out.str(), err.str()};
}

// What follows the dividers of a 10 MHz plan.
const std::string kTenMegahertzTail =
    ", phase step 0, BW 15; output 1 10000000 Hz, output 2 10000000 Hz, F3 937500 Hz, Fosc 5.28 "
    "GHz\n";
const std::string kTenMegahertz =
    "10000000 Hz: strict pass, GPS 4687500, N31 5, N2_HS 11, N2_LS 512, N1_HS 11, NC1_LS 48, "
    "NC2_LS 48" +
    kTenMegahertzTail;

TEST(PlanCli, PrintsOneLinePerRequestAndTheWorstStatus) {
    const struct {
        std::vector<std::string> args;
        int status;
        std::string out;
    } cases[] = {
        {{"10000000"}, kAllFound, kTenMegahertz},
        {{"1e7"}, kAllFound, kTenMegahertz},
        {{"800000000"},
         kAllFound,
         "800000000 Hz: relaxed pass, GPS 4000000, N31 11, N2_HS 11, N2_LS 1600, N1_HS 4, "
         "NC1_LS 2, NC2_LS 2, phase step 0, BW 15; output 1 800000000 Hz, output 2 800000000 Hz, "
         "F3 363636 Hz, Fosc 6.4 GHz\n"},
        {{"10000019"}, kSomeNotFound, "10000019 Hz: no plan\n"},
        {{"0.5"}, kSomeNotFound, "0.5 Hz: no plan (too low to search)\n"},
        {{"10000000", "10000019"}, kSomeNotFound, kTenMegahertz + "10000019 Hz: no plan\n"},
        {{"abc"}, kNotAFrequency, "abc: not a frequency\n"},
        {{"0", "-5", "1,5"},
         kNotAFrequency,
         "0: not a frequency\n-5: not a frequency\n1,5: not a frequency\n"},
        {{"10000019", " x ", "10000000"},
         kNotAFrequency,
         "10000019 Hz: no plan\nx: not a frequency\n" + kTenMegahertz},
        {{"--", "-5"}, kNotAFrequency, "-5: not a frequency\n"},
    };
    for (const auto& c : cases) {
        const Outcome r = runWith(c.args);
        EXPECT_EQ(r.status, c.status) << c.args.front();
        EXPECT_EQ(r.out, c.out) << c.args.front();
        EXPECT_EQ(r.err, "");
    }
}

TEST(PlanCli, ReadsStandardInputWhenGivenNoRequests) {
    const Outcome r = runWith({}, "10000000\r\n\n   \n10000019\n25e6");
    EXPECT_EQ(r.status, kSomeNotFound);
    EXPECT_EQ(r.out, kTenMegahertz + "10000019 Hz: no plan\n" +
                         "25000000 Hz: strict pass, GPS 4687500, N31 5, N2_HS 11, N2_LS 480, "
                         "N1_HS 11, NC1_LS 18, NC2_LS 18, phase step 0, BW 15; output 1 25000000 "
                         "Hz, output 2 25000000 Hz, F3 937500 Hz, Fosc 4.95 GHz\n");
    // Arguments win: standard input is not read at all.
    EXPECT_EQ(runWith({"10000000"}, "abc\n").status, kAllFound);
    EXPECT_EQ(runWith({}, "").status, kAllFound);
}

TEST(PlanCli, PrintsJsonObjects) {
    const Outcome r = runWith({"--json", "10000000", "1000.5", "10000019", "a\"b\\c"});
    EXPECT_EQ(r.status, kNotAFrequency);
    EXPECT_EQ(r.out,
              "{\"request\":\"10000000\",\"found\":true,\"pass\":\"strict\",\"GPS\":4687500,"
              "\"N31\":5,\"N2_HS\":11,\"N2_LS\":512,\"N1_HS\":11,\"NC1_LS\":48,\"NC2_LS\":48,"
              "\"PhaseBox\":0,\"BW\":15,\"Out1Freq\":10000000,\"OUT2\":10000000,\"F3\":937500,"
              "\"Fosc\":5.28,\"F3_Hz\":937500,\"Fosc_Hz\":5280000000}\n"
              "{\"request\":\"1000.5\",\"found\":true,\"pass\":\"strict\",\"GPS\":3378654,"
              "\"N31\":4,\"N2_HS\":11,\"N2_LS\":522,\"N1_HS\":11,\"NC1_LS\":440694,"
              "\"NC2_LS\":65402,\"PhaseBox\":0,\"BW\":15,\"Out1Freq\":1000.5,"
              "\"OUT2\":6741.6034219137,\"F3\":844663,\"Fosc\":4.85,\"F3_Hz\":844663.5,"
              "\"Fosc_Hz\":4850057817}\n"
              "{\"request\":\"10000019\",\"found\":false}\n"
              "{\"request\":\"a\\\"b\\\\c\",\"found\":false,\"error\":\"not a frequency\"}\n");
    // Control characters are escaped; the option may come after the requests.
    EXPECT_EQ(runWith({std::string("\x01"), "--json"}).out,
              "{\"request\":\"\\u0001\",\"found\":false,\"error\":\"not a frequency\"}\n");
}

TEST(PlanCli, ReadsAndWritesTheCLocaleWhateverTheDefault) {
    const QLocale saved;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    const Outcome point = runWith({"1000.5"});
    const Outcome comma = runWith({"1000,5"});
    QLocale::setDefault(saved);
    EXPECT_EQ(point.status, kAllFound);
    EXPECT_NE(point.out.find("output 1 1000.5 Hz"), std::string::npos) << point.out;
    EXPECT_EQ(comma.status, kNotAFrequency);
}

TEST(PlanCli, HelpAndUnknownOptions) {
    const Outcome help = runWith({"10000019", "--help"});
    EXPECT_EQ(help.status, kAllFound);
    EXPECT_EQ(help.out.rfind("Usage: quarvel-plan", 0), 0u);
    EXPECT_EQ(runWith({"-h"}).out, help.out);

    const Outcome unknown = runWith({"--jsn", "10000000"});
    EXPECT_EQ(unknown.status, kNotAFrequency);
    EXPECT_EQ(unknown.out, "");
    EXPECT_NE(unknown.err.find("--jsn"), std::string::npos);
}

TEST(PlanCli, PlansOutput2AndAlternatives) {
    const struct {
        std::vector<std::string> args;
        int status;
        std::string out;
    } cases[] = {
        {{"--out2", "25e6", "10000000"},
         kAllFound,
         "10000000 Hz and 25000000 Hz: strict pass, GPS 4687500, N31 11, N2_HS 11, N2_LS 1152, "
         "N1_HS 9, NC1_LS 60, NC2_LS 24, phase step 0, BW 15; output 1 10000000 Hz, output 2 "
         "25000000 Hz, F3 426136 Hz, Fosc 5.4 GHz\n"},
        {{"1000.5", "--json", "--out2", "2001"},
         kAllFound,
         "{\"request\":\"1000.5\",\"out2\":\"2001\",\"found\":true,\"pass\":\"strict\","
         "\"GPS\":4899115,\"N31\":5,\"N2_HS\":11,\"N2_LS\":450,\"N1_HS\":11,\"NC1_LS\":440700,"
         "\"NC2_LS\":220350,\"PhaseBox\":0,\"BW\":15,\"Out1Freq\":1000.5,\"OUT2\":2001,"
         "\"F3\":979823,\"Fosc\":4.8501,\"F3_Hz\":979823,\"Fosc_Hz\":4850123850}\n"},
        {{"--out2", "25e6", "1000.5", "x"},
         kNotAFrequency,
         "1000.5 Hz and 25000000 Hz: no plan\nx: not a frequency\n"},
        {{"--alternatives", "3", "10000000", "0.5"},
         kSomeNotFound,
         "10000000 Hz, plan 1: strict pass, GPS 4687500, N31 5, N2_HS 11, N2_LS 512, N1_HS 11, "
         "NC1_LS 48, NC2_LS 48" +
             kTenMegahertzTail +
             "10000000 Hz, plan 2: strict pass, GPS 2812500, N31 3, N2_HS 11, N2_LS 512, N1_HS "
             "11, NC1_LS 48, NC2_LS 48" +
             kTenMegahertzTail +
             "10000000 Hz, plan 3: strict pass, GPS 1875000, N31 2, N2_HS 11, N2_LS 512, N1_HS "
             "11, NC1_LS 48, NC2_LS 48" +
             kTenMegahertzTail + "0.5 Hz: no plan (too low to search)\n"},
    };
    for (const auto& c : cases) {
        const Outcome r = runWith(c.args);
        EXPECT_EQ(r.status, c.status) << c.args.front();
        EXPECT_EQ(r.out, c.out) << c.args.front();
    }
    // Options without a usable value stop before any request is searched.
    for (const std::vector<std::string>& args : {std::vector<std::string>{"1e7", "--out2"},
                                                 {"--out2", "0", "1e7"},
                                                 {"--out2", "1,5", "1e7"},
                                                 {"--alternatives", "0", "1e7"},
                                                 {"--alternatives", "101", "1e7"},
                                                 {"--alternatives", "2x", "1e7"},
                                                 {"--alternatives", "2", "--out2", "5", "1e7"}}) {
        const Outcome r = runWith(args);
        EXPECT_EQ(r.status, kNotAFrequency) << args[1];
        EXPECT_EQ(r.out, "") << args[1];
        EXPECT_NE(r.err, "") << args[1];
    }
}

// The members of a one-line JSON object, each value as written (a list counts as one).
std::map<std::string, std::string> members(const std::string& object) {
    std::map<std::string, std::string> found;
    std::string key, value;
    int depth = 0;
    bool quoted = false, inKey = true;
    for (const char c : object.substr(1, object.find_last_of('}') - 1) + ',') {
        if (c == '"' && (value.empty() || value.back() != '\\')) quoted = !quoted;
        if (!quoted && (c == '[' || c == ']')) depth += c == '[' ? 1 : -1;
        if (!quoted && depth == 0 && c == ',') {
            found[key] = value;
            key.clear(), value.clear(), inKey = true;
        } else if (!quoted && inKey && c == ':') {
            inKey = false;
        } else {
            (inKey ? key : value) += c;
        }
    }
    return found;
}

// Both programs describe a plan with the same readout: every key they share has one value.
TEST(PlanCli, AgreesWithQuarvelCtlSetOnEveryKeyTheyShare) {
    const std::vector<std::string> readout = {
        "\"GPS\"",    "\"N31\"",    "\"N2_HS\"",    "\"N2_LS\"", "\"N1_HS\"",
        "\"NC1_LS\"", "\"NC2_LS\"", "\"PhaseBox\"", "\"BW\"",    "\"Out1Freq\"",
        "\"OUT2\"",   "\"F3\"",     "\"Fosc\"",     "\"F3_Hz\"", "\"Fosc_Hz\""};
    for (const std::vector<std::string>& request : {std::vector<std::string>{"10000000"},
                                                    {"1000"},
                                                    {"800000000"},
                                                    {"1000.5", "--out2", "2001"}}) {
        std::vector<std::string> planArgs = {"--json"}, ctlArgs = {"set"};
        planArgs.insert(planArgs.end(), request.begin(), request.end());
        ctlArgs.insert(ctlArgs.end(), request.begin(), request.end());
        ctlArgs.insert(ctlArgs.end(), {"--dry-run", "--json"});
        SimulatedBus noDevice;
        const auto plan = members(runWith(planArgs).out);
        const auto set = members(ctl::runCtl(noDevice, ctlArgs).out);
        for (const std::string& key : readout) {
            ASSERT_TRUE(plan.contains(key) && set.contains(key)) << key;
        }
        for (const auto& [key, value] : plan) {
            if (set.contains(key)) {
                EXPECT_EQ(value, set.at(key)) << request.front() << ' ' << key;
            }
        }
    }
    // For 1 kHz both end output 2 at the first page's last entry, as the window's Find does.
    EXPECT_NE(runWith({"--json", "1000"}).out.find("\"NC2_LS\":65402,"), std::string::npos);
}

}  // namespace
}  // namespace quarvel::plan_cli
