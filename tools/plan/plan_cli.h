#pragma once
// quarvel-plan: searches frequency plans for output 1 frequencies given as arguments or one a
// line on standard input, and prints each plan as text or as one JSON object a line.

#include <iosfwd>
#include <string>
#include <vector>

namespace quarvel::plan_cli {

inline constexpr int kAllFound = 0;       // every request has a plan
inline constexpr int kSomeNotFound = 1;   // some request has none
inline constexpr int kNotAFrequency = 2;  // some request is not a frequency, or a bad option

// args excludes the program name. Requests come from args, or from `in` when args name none.
// Results go to `out`, one line per request; usage problems go to `err`.
int run(const std::vector<std::string>& args, std::istream& in, std::ostream& out,
        std::ostream& err);

}  // namespace quarvel::plan_cli
