// upload [FIELDS]: what "Update" sends, for the fields as the window shows them after reading
// the device, with the values given.

#include <cmath>

#include "common/number_text.h"
#include "ctl_commands.h"
#include "planning/phase_list.h"

namespace quarvel::ctl {

namespace {

// The phase entry given, within the phase list of NC1_LS; false after saying it is not one.
bool takePhaseIndex(const Invocation& in, const std::string& given, PlanFields& f) {
    // The window offers only the entries of the phase list; the index is one of them.
    const QString& nc1 = f.texts[PlanField::NC1_LS];
    const auto entries = phaseEntries(nc1, cLocale()).size();
    const double index = parseNumber(QString::fromStdString(given), cLocale()).value_or(-1);
    if (!(index >= 0 && index < static_cast<double>(entries) && std::floor(index) == index)) {
        in.usage("--phase-index must be a whole number from 0 to " + std::to_string(entries - 1) +
                 " for NC1_LS " + nc1.toStdString() + "; nothing was sent.");
        return false;
    }
    f.phaseIndex = static_cast<int>(index);
    return true;
}

}  // namespace

int uploadCommand(const Invocation& in) {
    // Checked before the device is touched: bad input sends nothing.
    for (const auto& [option, value] : in.options) {
        if (!parseNumber(QString::fromStdString(value), cLocale())) {
            return in.usage(option + " must be a number, not '" + value + "'.");
        }
    }
    if (const auto bw = in.option("--bw");
        bw && !toByte(*parseNumber(QString::fromStdString(*bw), cLocale()))) {
        return in.usage("BW must be a number from 0 to 255; nothing was sent.");
    }
    Failure failure;
    Connection c = reachGenerator(in, failure);
    if (!c.isOpen()) return in.fail(failure);
    const auto status = c.status();
    if (!status) return in.fail({kDeviceError, kNoStatusReport});
    // The fields as the window's status readout leaves them, then the values given.
    PlanFields f(cLocale());
    f.fillFromDevice(status->plan);
    for (const PlanFieldRow& row : kPlanTable) {
        const auto value = in.option(std::string(row.option));
        if (value && row.kind != FieldKind::Pick) {
            f.texts[row.field] = QString::fromStdString(*value).trimmed();
        }
    }
    PlanChanges changes{validate(f), std::nullopt};
    // An NC2_LS the output 2 list cannot show (an odd one) is replaced on the way; say so.
    const double deviceNc2 = status->plan[PlanField::NC2_LS];
    if (!in.option("--nc2") && f.value(PlanField::NC2_LS) != deviceNc2) {
        changes.deviceNc2 = deviceNc2;
    }
    if (const auto k = in.option("--phase-index"); k && !takePhaseIndex(in, *k, f)) {
        return kUsageError;
    }
    return sendPlan(in, c, f, changes);
}

}  // namespace quarvel::ctl
