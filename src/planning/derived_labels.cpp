#include "planning/derived_labels.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <optional>

#include "common/number_text.h"
#include "planning/plan_search.h"

namespace quarvel {

namespace {

// The phase-detector frequency in whole hertz, as the F3 caption shows it.
double f3Hertz(double gps, double n31) {
    return std::floor(gps / n31);
}

double cutToGigahertz(double oscillatorHz) {
    return std::floor(oscillatorHz / 100000) / 10000;
}

QString foscText(double gigahertz, const QLocale& locale) {
    return QStringLiteral("Fosc = ") + formatNumber(gigahertz, locale) + QStringLiteral(" GHz ");
}

// For whole dividers the oscillator frequency is a fraction of integers, so it is cut to
// 100 kHz exactly: double arithmetic lands a hair below a whole multiple often enough (about
// one plan in fourteen, e.g. 2960000 / 3 * 11 * 450) to show 100 kHz too little.
std::optional<double> exactFoscGigahertz(double gps, double n31, double n2hs, double n2ls) {
    const auto whole = [](double v, double limit) {
        return v >= 1 && v <= limit && std::floor(v) == v;
    };
    constexpr double k24Bits = 16777216.0;
    if (!whole(gps, k24Bits) || !whole(n31, k24Bits) || !whole(n2hs, 1024.0) ||
        !whole(n2ls, k24Bits)) {
        return std::nullopt;
    }
    const auto product = static_cast<std::int64_t>(gps) * static_cast<std::int64_t>(n2hs) *
                         static_cast<std::int64_t>(n2ls);  // below 2^58
    const std::int64_t steps = product / (static_cast<std::int64_t>(n31) * 100000);
    return static_cast<double>(steps) / 10000;
}

// The oscillator frequency cut down to 100 kHz, in GHz, as the Fosc caption shows it.
double foscGigahertz(double gps, double n31, double n2hs, double n2ls) {
    return exactFoscGigahertz(gps, n31, n2hs, n2ls)
        .value_or(cutToGigahertz(gps / n31 * n2hs * n2ls));
}

}  // namespace

QString f3Caption(double gps, double n31, const QLocale& locale) {
    return QStringLiteral("F3 = ") + formatNumber(f3Hertz(gps, n31), locale) +
           QStringLiteral(" Hz ");
}

QString foscCaption(double gps, double n31, double n2hs, double n2ls, const QLocale& locale) {
    return foscText(foscGigahertz(gps, n31, n2hs, n2ls), locale);
}

QString foscCaptionAfterSearch(double gps, double n31, double n2hs, double n2ls,
                               const QLocale& locale) {
    return foscText(exactFoscGigahertz(gps, n31, n2hs, n2ls)
                        .value_or(cutToGigahertz(n2ls * (n2hs * (gps / n31)))),
                    locale);
}

double outputFrequency(double gps, double n31, double n2ls, double n2hs, double n1hs,
                       double nc1ls) {
    return ((((gps / n31) * n2ls) * n2hs) / n1hs) / nc1ls;
}

double outputFrequency(const PlanRecord& p) {
    return outputFrequency(p[PlanField::GPS], p[PlanField::N31], p[PlanField::N2_LS],
                           p[PlanField::N2_HS], p[PlanField::N1_HS], p[PlanField::NC1_LS]);
}

double output2Frequency(const PlanRecord& p) {
    return outputFrequency(p) * p[PlanField::NC1_LS] / p[PlanField::NC2_LS];
}

FoscRange searchedFoscRange() {
    return {std::min(kStrictLimits.foscMin, kRelaxedLimits.foscMin),
            std::max(kStrictLimits.foscMax, kRelaxedLimits.foscMax)};
}

int bandwidthForSerial(const QString& serial) {
    if (serial.size() < 2) return 15;
    const QChar second = serial.at(1);
    return second == u'1' || second == u'3' || second == u'5' ? 6 : 15;
}

PlanReadout planReadout(const PlanRecord& fields, std::optional<double> output2Hz) {
    const double gps = fields[PlanField::GPS], n31 = fields[PlanField::N31];
    const double n2hs = fields[PlanField::N2_HS], n2ls = fields[PlanField::N2_LS];
    return {.fields = fields,
            .output1Hz = outputFrequency(fields),
            .output2Hz = output2Hz,
            .f3Hz = f3Hertz(gps, n31),
            .foscGHz = foscGigahertz(gps, n31, n2hs, n2ls),
            .f3ExactHz = gps / n31,
            .foscExactHz = gps / n31 * n2hs * n2ls};
}

void describeReadout(OutputRecord& record, const PlanReadout& r) {
    const auto hertz = [](double value) { return plainNumber(value) + " Hz"; };
    for (const PlanFieldRow& row : kPlanTable) {
        const double value = r.fields[row.field];
        record.add(row.name, jsonNumber(value),
                   (row.field == kPlanTable.front().field ? "" : ", ") + std::string(row.spoken) +
                       ' ' + plainNumber(value));
    }
    record.add("Out1Freq", jsonNumber(r.output1Hz), "; output 1 " + hertz(r.output1Hz))
        .add("OUT2", r.output2Hz ? jsonNumber(*r.output2Hz) : kJsonNull,
             ", output 2 " + (r.output2Hz ? hertz(*r.output2Hz) : "none"))
        .add("F3", jsonNumber(r.f3Hz), ", F3 " + hertz(r.f3Hz))
        .add("Fosc", jsonNumber(r.foscGHz), ", Fosc " + plainNumber(r.foscGHz) + " GHz")
        .add("F3_Hz", jsonNumber(r.f3ExactHz))
        .add("Fosc_Hz", jsonNumber(r.foscExactHz));
}

}  // namespace quarvel
