// set and upload: a frequency plan to the device, as "Find" and "Update" send it.

#include <cmath>
#include <ostream>

#include "commands/plan_upload.h"
#include "common/number_text.h"
#include "ctl_commands.h"
#include "planning/derived_labels.h"
#include "planning/pair_search.h"
#include "planning/phase_list.h"
#include "planning/plan_search.h"

namespace quarvel::ctl {

namespace {

struct FieldOption {
    PlanField field;  // its name and option
    QString DividerTexts::*text;
};

constexpr FieldOption kDividerOptions[] = {
    {PlanField::GPS, &DividerTexts::gps},      {PlanField::N31, &DividerTexts::n31},
    {PlanField::N2_HS, &DividerTexts::n2hs},   {PlanField::N2_LS, &DividerTexts::n2ls},
    {PlanField::N1_HS, &DividerTexts::n1hs},   {PlanField::NC1_LS, &DividerTexts::nc1ls},
    {PlanField::NC2_LS, &DividerTexts::nc2ls},
};

struct Changes {
    std::vector<const FieldOption*> clamped;  // changed by the validation
    std::optional<double> deviceNc2;          // the device's NC2_LS, replaced unasked
};

// Validates as "Update" does and names the fields that validation changed.
std::vector<const FieldOption*> validate(PlanFields& f) {
    const DividerTexts before = f.dividers;
    f.validate();
    std::vector<const FieldOption*> clamped;
    for (const FieldOption& o : kDividerOptions) {
        if (f.value(before.*o.text) != f.value(f.dividers.*o.text)) clamped.push_back(&o);
    }
    return clamped;
}

std::string optionalNumber(const std::optional<double>& value, const char* none) {
    return value ? number(*value) : std::string(none);
}

// Prints what goes (or went) to the device.
void printPlan(const Invocation& in, const QString& serial, const PlanFields& f, bool sent,
               const Changes& changes) {
    const PlanValues v = planValues(f);
    const double out1 = outputFrequency(v.gps, v.n31, v.n2ls, v.n2hs, v.n1hs, v.nc1ls);
    const double f3 = f3Hertz(v.gps, v.n31);
    const double fosc = foscGigahertz(v.gps, v.n31, v.n2hs, v.n2ls);
    std::vector<const char*> changed;
    for (const FieldOption* o : changes.clamped) changed.push_back(planFieldName(o->field));
    if (changes.deviceNc2) changed.push_back("NC2_LS");  // validation leaves it alone then
    std::ostream& out = in.out;
    if (in.json) {
        out << "{\"command\":\"" << in.command
            << "\",\"SerNo\":" << (serial.isEmpty() ? "null" : jsonString(serial))
            << ",\"sent\":" << (sent ? "true" : "false") << planJson(v)
            << ",\"Out1Freq\":" << number(out1)
            << ",\"OUT2\":" << optionalNumber(f.out2Value(), "null") << ",\"F3\":" << number(f3)
            << ",\"Fosc\":" << number(fosc) << ",\"clamped\":[";
        for (std::size_t i = 0; i < changed.size(); ++i) {
            out << (i > 0 ? "," : "") << '"' << changed[i] << '"';
        }
        out << "]}\n";
        return;
    }
    for (const FieldOption* o : changes.clamped) {
        out << planFieldName(o->field) << " was clamped to " << (f.dividers.*o->text).toStdString()
            << '\n';
    }
    if (changes.deviceNc2) {
        out << "NC2_LS was changed from the device's " << number(*changes.deviceNc2) << " to "
            << number(v.nc2ls) << ", the divider the output 2 list offers for it\n";
    }
    out << (sent ? "Sent to " + printable(serial) : std::string("Would send")) << ": GPS "
        << number(v.gps) << ", N31 " << number(v.n31) << ", N2_HS " << number(v.n2hs) << ", N2_LS "
        << number(v.n2ls) << ", N1_HS " << number(v.n1hs) << ", NC1_LS " << number(v.nc1ls)
        << ", NC2_LS " << number(v.nc2ls) << ", phase step " << v.phaseIndex << ", BW "
        << number(v.bw) << "; output 1 " << number(out1) << " Hz, output 2 "
        << optionalNumber(f.out2Value(), "none") << (f.out2Value() ? " Hz" : "") << ", F3 "
        << number(f3) << " Hz, Fosc " << number(fosc) << " GHz\n";
}

// The two reports of an upload, then the read-back of the second.
int sendPlan(const Invocation& in, Connection& c, PlanFields f, const Changes& changes) {
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

}  // namespace

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
        c = Connection::open(in.env.backend, in.serial, failure);
        const bool ambiguous = failure.status == kUsageError;
        if (!c.isOpen() && (!in.dryRun || ambiguous)) return in.fail(failure);
    }
    const QString serial =
        c.isOpen() ? c.serial() : QString::fromStdString(in.serial.value_or(std::string()));

    PlanFields f(cLocale());
    f.out1 = request.trimmed();
    f.found(*plan, serial);
    if (nc2ls) f.selectOut2Divider(*nc2ls);
    const Changes changes{validate(f), std::nullopt};
    if (in.dryRun) {
        printPlan(in, serial, f, false, changes);
        return kOk;
    }
    return sendPlan(in, c, f, changes);
}

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
    Connection c = Connection::open(in.env.backend, in.serial, failure);
    if (!c.isOpen()) return in.fail(failure);
    const auto status = c.status();
    if (!status) {
        return in.fail({kDeviceError, kNoStatusReport});
    }
    // The fields as the window's status readout leaves them, then the values given.
    PlanFields f(cLocale());
    f.readout(*status);
    for (const FieldOption& o : kDividerOptions) {
        if (const auto value = in.option(std::string(planLayout(o.field).option))) {
            f.dividers.*o.text = QString::fromStdString(*value).trimmed();
        }
    }
    if (const auto bw = in.option("--bw")) f.bw = QString::fromStdString(*bw).trimmed();
    Changes changes{validate(f), std::nullopt};
    // An NC2_LS the output 2 list cannot show (an odd one) is replaced on the way; say so.
    if (!in.option("--nc2") && f.value(f.dividers.nc2ls) != status->nc2ls) {
        changes.deviceNc2 = status->nc2ls;
    }
    if (const auto k = in.option("--phase-index")) {
        // The window offers only the entries of the phase list; the index is one of them.
        const auto entries = phaseEntries(f.dividers.nc1ls, cLocale()).size();
        const double index = parseNumber(QString::fromStdString(*k), cLocale()).value_or(-1);
        if (!(index >= 0 && index < static_cast<double>(entries) && std::floor(index) == index)) {
            return in.usage("--phase-index must be a whole number from 0 to " +
                            std::to_string(entries - 1) + " for NC1_LS " +
                            f.dividers.nc1ls.toStdString() + "; nothing was sent.");
        }
        f.phaseIndex = static_cast<int>(index);
    }
    return sendPlan(in, c, f, changes);
}

}  // namespace quarvel::ctl
