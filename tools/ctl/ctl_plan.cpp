// What set and upload share: the plan "Update" sends, validated and said as it went out.

#include "commands/plan_upload.h"
#include "common/number_text.h"
#include "ctl_commands.h"

namespace quarvel::ctl {

std::vector<PlanField> validate(PlanFields& f) {
    const PlanRecord before = f.record();
    f.validate();
    const PlanRecord after = f.record();
    std::vector<PlanField> clamped;
    for (const PlanFieldRow& row : kPlanTable) {
        if (row.kind == FieldKind::Divider && before[row.field] != after[row.field]) {
            clamped.push_back(row.field);
        }
    }
    return clamped;
}

void printPlan(const Invocation& in, const QString& serial, const PlanFields& f, bool sent,
               const PlanChanges& changes) {
    OutputRecord line;
    std::vector<std::string> changed;
    for (const PlanField field : changes.clamped) {
        changed.push_back(jsonString(planFieldName(field)));
        line.words(std::string(planFieldName(field)) + " was clamped to " +
                   f.texts[field].toStdString() + '\n');
    }
    if (changes.deviceNc2) {
        changed.push_back(jsonString("NC2_LS"));  // validation leaves it alone then
        line.words("NC2_LS was changed from the device's " + plainNumber(*changes.deviceNc2) +
                   " to " + plainNumber(f.value(PlanField::NC2_LS)) +
                   ", the divider the output 2 list offers for it\n");
    }
    line.add("command", jsonString(in.command))
        .add("SerNo", serial.isEmpty() ? kJsonNull : json(serial))
        .add("sent", jsonBool(sent), sent ? "Sent to " + printable(serial) : "Would send")
        .words(": ");
    describeReadout(line, f.readout());
    line.add("clamped", jsonList(changed));
    in.print(line);
}

int sendPlan(const Invocation& in, Connection& c, PlanFields f, const PlanChanges& changes) {
    if (c.featureLength() < kPlanReportBytes) {
        return in.fail({kDeviceError,
                        "This device's feature report is too short for a frequency plan; "
                        "nothing was sent."});
    }
    bool allSent = true;
    std::vector<std::uint8_t> last;
    const auto send = [&](std::span<const std::uint8_t> frame) {
        last.assign(frame.begin(), frame.end());
        const bool ok = c.send(frame);
        allSent = allSent && ok;
        return ok;
    };
    if (const auto problem = uploadPlan(c.featureLength(), f, {send, [] {}, [] { return true; }})) {
        return in.usage(std::string(planFieldName(*problem)) +
                        " cannot be sent to the device as it stands (a fraction that rounds "
                        "past its field); nothing was sent.");
    }
    if (!allSent) {
        return in.fail({kDeviceError,
                        "Sending the plan to the device failed; check the connection and try "
                        "again."});
    }
    // The status must now hold what the second report carried.
    if (const auto readBack = checkReadBack(c, last)) return in.fail(*readBack);
    printPlan(in, c.serial(), f, true, changes);
    return kOk;
}

}  // namespace quarvel::ctl
