#include "plan_cli.h"

#include <gtest/gtest.h>

#include <QLocale>
#include <sstream>
#include <string>
#include <vector>

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

const std::string kTenMegahertz =
    "10000000 Hz: strict pass, GPS 4687500, N31 5, N2_HS 11, N2_LS 512, N1_HS 11, NC1_LS 48, "
    "NC2_LS 48, F3 937500 Hz, Fosc 5280000000 Hz, output 1 10000000 Hz\n";

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
         "NC1_LS 2, NC2_LS 2, F3 363636.363636364 Hz, Fosc 6400000000 Hz, output 1 800000000 Hz\n"},
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
                         "N1_HS 11, NC1_LS 18, NC2_LS 18, F3 937500 Hz, Fosc 4950000000 Hz, "
                         "output 1 25000000 Hz\n");
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
              "\"F3\":937500,\"Fosc\":5280000000,\"Out1Freq\":10000000}\n"
              "{\"request\":\"1000.5\",\"found\":true,\"pass\":\"strict\",\"GPS\":3378654,"
              "\"N31\":4,\"N2_HS\":11,\"N2_LS\":522,\"N1_HS\":11,\"NC1_LS\":440694,"
              "\"NC2_LS\":440694,\"F3\":844663.5,\"Fosc\":4850057817,\"Out1Freq\":1000.5}\n"
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
    EXPECT_NE(point.out.find("F3 844663.5 Hz"), std::string::npos) << point.out;
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
         "N1_HS 9, NC1_LS 60, NC2_LS 24, F3 426136.363636364 Hz, Fosc 5400000000 Hz, output 1 "
         "10000000 Hz, output 2 25000000 Hz\n"},
        {{"1000.5", "--json", "--out2", "2001"},
         kAllFound,
         "{\"request\":\"1000.5\",\"out2\":\"2001\",\"found\":true,\"pass\":\"strict\","
         "\"GPS\":4899115,\"N31\":5,\"N2_HS\":11,\"N2_LS\":450,\"N1_HS\":11,\"NC1_LS\":440700,"
         "\"NC2_LS\":220350,\"F3\":979823,\"Fosc\":4850123850,\"Out1Freq\":1000.5,\"OUT2\":2001}"
         "\n"},
        {{"--out2", "25e6", "1000.5", "x"},
         kNotAFrequency,
         "1000.5 Hz and 25000000 Hz: no plan\nx: not a frequency\n"},
        {{"--alternatives", "3", "10000000", "0.5"},
         kSomeNotFound,
         "10000000 Hz, plan 1: strict pass, GPS 4687500, N31 5, N2_HS 11, N2_LS 512, N1_HS 11, "
         "NC1_LS 48, NC2_LS 48, F3 937500 Hz, Fosc 5280000000 Hz, output 1 10000000 Hz\n"
         "10000000 Hz, plan 2: strict pass, GPS 2812500, N31 3, N2_HS 11, N2_LS 512, N1_HS 11, "
         "NC1_LS 48, NC2_LS 48, F3 937500 Hz, Fosc 5280000000 Hz, output 1 10000000 Hz\n"
         "10000000 Hz, plan 3: strict pass, GPS 1875000, N31 2, N2_HS 11, N2_LS 512, N1_HS 11, "
         "NC1_LS 48, NC2_LS 48, F3 937500 Hz, Fosc 5280000000 Hz, output 1 10000000 Hz\n"
         "0.5 Hz: no plan (too low to search)\n"},
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

}  // namespace
}  // namespace quarvel::plan_cli
