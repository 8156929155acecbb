// set FREQ: the plan "Find" chooses for output 1 (and with --out2 for output 2 too), uploaded
// as the window uploads it.

#include "common/number_text.h"
#include "ctl_commands.h"
#include "planning/pair_search.h"

namespace quarvel::ctl {

int setCommand(const Invocation& in) {
    const QString request = QString::fromStdString(in.operands[0]);
    const auto hz = parseNumber(request, cLocale());
    const auto out2 = in.option("--out2");
    if (!hz || !(*hz > 0) ||
        (out2 && !(isPairFrequencyText(in.operands[0]) && isPairFrequencyText(*out2)))) {
        return in.usage("FREQ and --out2 must be positive numbers of hertz, such as 10000000.");
    }
    // With --out2, the plan "Find" would upload with that OUT2 entry picked before "Update".
    std::optional<FrequencyPlan> plan;
    std::optional<std::int32_t> nc2ls;
    if (out2) {
        const PairSearchResult pair = searchPlanPair(in.operands[0], *out2);
        if (pair.plan) {
            plan = pair.plan->plan;
            nc2ls = pair.plan->nc2ls;
        }
    } else {
        plan = searchPlan(*hz).plan;
    }
    if (!plan) {
        return in.fail({kDeviceError, "No divider set gives " + in.operands[0] +
                                          (out2 ? " Hz and " + *out2 : std::string()) +
                                          " Hz exactly; try a nearby frequency."});
    }
    // A dry run needs no device: the serial number given picks the bandwidth rule, and without
    // one the attached generator's does, if there is one.
    Failure failure;
    Connection c;
    if (!(in.dryRun && in.serial)) {
        c = reachGenerator(in, failure);
        // Only an absent device leaves the dry run to the serial number's rule.
        const bool absent = failure.status == kDeviceError;
        if (!c.isOpen() && (!in.dryRun || !absent)) return in.fail(failure);
    }
    const QString serial =
        c.isOpen() ? c.serial() : QString::fromStdString(in.serial.value_or(std::string()));
    PlanFields f = fieldsForPlan(request, *plan, nc2ls, serial, cLocale());
    const PlanChanges changes{validate(f), std::nullopt};
    if (in.dryRun) {
        printPlan(in, serial, f, {}, changes);
        return kOk;
    }
    return sendPlan(in, c, f, changes);
}

}  // namespace quarvel::ctl
