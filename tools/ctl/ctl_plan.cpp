// What set and upload share: the plan "Update" sends, validated and said as it went out.

#include <array>

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

namespace {

// What the plan report for the fields carries, as the decoder reads its bytes: a fraction
// travels as a whole number. The fields themselves when they cannot be encoded.
PlanRecord carried(const PlanFields& f, std::span<const std::uint8_t> sentReport) {
    std::array<std::uint8_t, kPlanReportBytes> report{};
    if (sentReport.empty() && !encodePlanReport(f.record(), report)) sentReport = report;
    return decodePlanReport(sentReport).value_or(f.record());
}

std::optional<std::string> foscWarning(const PlanReadout& r) {
    const FoscRange range = searchedFoscRange();
    if (r.foscExactHz >= range.lowHz && r.foscExactHz <= range.highHz) return std::nullopt;
    const auto gigahertz = [](double hz) { return plainNumber(hz / 1e9); };
    return "Fosc " + gigahertz(r.foscExactHz) + " GHz lies outside " + gigahertz(range.lowHz) +
           " to " + gigahertz(range.highHz) +
           " GHz, where the plan search keeps it; the PLL may not lock.";
}

}  // namespace

void printPlan(const Invocation& in, const QString& serial, const PlanFields& f,
               std::span<const std::uint8_t> sentReport, const PlanChanges& changes) {
    OutputRecord line;
    std::vector<std::string> changed, rounded;
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
    const PlanRecord typed = f.record(), bytes = carried(f, sentReport);
    for (const PlanField field : fieldsThatDiffer(typed, bytes)) {
        rounded.push_back(jsonString(planFieldName(field)));
        line.words(std::string(planFieldName(field)) + " " + plainNumber(typed[field]) +
                   " was rounded to " + plainNumber(bytes[field]) + " on the way\n");
    }
    // Output 2 as the list picked it, unless a rounding changed what the device makes of it.
    const PlanReadout readout =
        rounded.empty() ? f.readout() : planReadout(bytes, output2Frequency(bytes));
    const bool sent = !sentReport.empty();
    line.add("command", jsonString(in.command))
        .add("SerNo", serial.isEmpty() ? kJsonNull : json(serial))
        .add("sent", jsonBool(sent), sent ? "Sent to " + printable(serial) : "Would send")
        .words(": ");
    describeReadout(line, readout);
    line.add("clamped", jsonList(changed)).add("rounded", jsonList(rounded));
    std::vector<std::string> warnings;
    if (const auto warning = foscWarning(readout)) {
        in.err << "quarvel-ctl: warning: " << *warning << '\n';
        warnings.push_back(jsonString(*warning));
    }
    line.add("warnings", jsonList(warnings));
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
    printPlan(in, c.serial(), f, last, changes);
    return kOk;
}

}  // namespace quarvel::ctl
