// Settings validation runs on whatever the user left in the divider fields. Its result must be
// a divider set the device can take, and validating it again must change nothing. The phase
// and output 2 list helpers read the same fields, so they get the same texts.
//
// Input: the first byte picks the locale, the rest is the seven field texts separated by
// newlines (the seventh takes whatever follows).

#include <QLocale>
#include <QString>
#include <QStringList>
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>

#include "common/number_text.h"
#include "planning/output2_list.h"
#include "planning/phase_list.h"
#include "planning/settings_validation.h"

namespace {

using namespace quarvel;

void require(bool ok, const char* what, const QString& context = {}) {
    if (ok) return;
    std::fprintf(stderr, "settings: %s [%s]\n", what, context.toUtf8().constData());
    std::abort();
}

QString joined(const PlanTexts& t) {
    QStringList texts;
    for (const PlanFieldRow& row : kPlanTable) texts << t[row.field];
    return texts.join(QLatin1Char('|'));
}

void checkValidation(const PlanTexts& input, const QLocale& locale) {
    const PlanTexts once = validateSettings(input, locale);
    const PlanTexts twice = validateSettings(once, locale);
    const QString context = joined(input) + QStringLiteral(" -> ") + joined(once) +
                            QStringLiteral(" -> ") + joined(twice);
    for (const PlanFieldRow& f : kPlanTable) {
        if (f.kind != FieldKind::Divider) {
            require(once[f.field] == input[f.field], "other field changed", context);
            continue;
        }
        const QString& text = once[f.field];
        const auto value = parseNumber(text, locale);
        require(value.has_value(), "result not numeric", context);
        // The one exception to the bounds: an even-rule field whose fraction rounds to 3
        // (2.6) drops by one below the lower bound; the next validation lifts it to 2.
        const bool droppedBelow = f.even && *value < f.low;
        if (droppedBelow) {
            require(*value >= f.low - 0.5, "even rule went too far down", context);
            require(twice[f.field] == formatNumber(f.low, locale), "not lifted to 2", context);
        } else {
            require(*value >= f.low && *value <= f.high, "out of bounds", context);
            require(twice[f.field] == text, "not idempotent", context);
        }
        if (f.even) {
            const auto whole = toInt32(*value);
            require(whole && *whole % 2 == 0, "even rule left an odd divider", context);
        }
        // A text that was already acceptable stays exactly as typed.
        const QString& typed = input[f.field];
        const auto typedValue = parseNumber(typed, locale);
        if (!f.even && typedValue && *typedValue >= f.low && *typedValue <= f.high) {
            require(text == typed, "valid text rewritten", context);
        }
    }
}

void checkPhases(const QString& text, const QLocale& locale) {
    const QStringList entries = phaseEntries(text, locale);
    require(entries.size() <= kMaxPhaseEntries, "too many phase entries", text);
    const auto value = parseNumber(text, locale);
    const auto divider = value ? toInt32(*value) : std::nullopt;
    if (!divider || *divider == 0) {
        require(entries.isEmpty(), "phase entries without a step", text);
        return;
    }
    const double last = std::clamp(roundHalfEven(*value - 1), 0.0, kMaxPhaseEntries - 1.0);
    require(entries.size() == static_cast<qsizetype>(last) + 1, "phase entry count", text);
    require(entries.front() == QStringLiteral("0"), "first phase is not 0", text);
    for (const QString& entry : entries) {
        const auto degrees = parseNumber(entry, locale);
        require(degrees && *degrees > -360 && *degrees < 360, "phase out of range", entry);
    }
}

void checkPaging(std::int32_t count) {
    if (count <= kOut2PageStride) return;  // one page, no paging state
    const std::int16_t pages = out2PageCount(count);
    require(pages >= 2, "a long list needs pages");
    std::int32_t covered = -1;
    for (std::int16_t page = 0; page < pages; ++page) {
        const EntryRange range = out2PageRange(page, pages, count + 1);
        require(range.first >= 0 && range.first <= range.last && range.last <= count,
                "page outside the list");
        // The last page starts one entry before its stride boundary; when the count is an even
        // multiple of the stride that makes it one entry longer than the others.
        require(range.last - range.first + 1 <= kOut2PageEntries + 1, "page too long");
        require(range.first <= covered + 1, "entries skipped between pages");
        covered = std::max(covered, range.last);
    }
    require(covered == count, "the last page does not reach the end");
}

void checkOutput2(const PlanTexts& texts, const QLocale& locale, std::uint16_t raw) {
    const double fout = parseNumber(texts[PlanField::GPS], locale).value_or(10000000);
    const double nc1 = parseNumber(texts[PlanField::NC1_LS], locale).value_or(46);
    const double nc2 = parseNumber(texts[PlanField::NC2_LS], locale).value_or(46);

    if (const auto count = out2Count(nc2)) {
        require(*count >= 0 && *count <= kOut2MaxCount, "count out of range");
        checkPaging(*count);
        // Filling and formatting is linear; keep it small so that the search stays fast.
        if (*count <= 4096) {
            const std::vector<double> values = out2Frequencies(fout, nc1, *count);
            require(values.size() == static_cast<std::size_t>(*count) + 1, "entry count");
            require(formatEntries(values, locale).size() == static_cast<qsizetype>(values.size()),
                    "text count");
        }
    }
    // Arbitrary page arguments: the range stays inside the list whatever the window holds.
    const auto page = static_cast<std::int16_t>(raw);
    const auto pageCount = static_cast<std::int16_t>(raw >> 3);
    const std::int32_t length = static_cast<std::int32_t>(std::fmod(std::fabs(nc1), 1e6));
    const EntryRange range = out2PageRange(page, pageCount, length);
    if (length <= 0) {
        require(range.first == 0 && range.last == -1, "range in an empty list");
    } else {
        require(range.first >= 0 && range.last >= 0 && range.first < length && range.last < length,
                "range outside the list");
    }
    const int entries = static_cast<int>(std::fmod(std::fabs(fout), 40000));
    if (const auto selected = out2Selection(nc2, entries)) {
        require(*selected >= 0 && *selected < entries, "selection outside the list");
    }
    // The readout's list ends at the device's divider; it must stay a list a plan can give.
    if (const auto last = readoutOut2Count(nc2)) {
        require(*last >= 0 && *last <= kOut2MaxCount, "readout list longer than any plan's");
        const EntryRange shown = out2PageRange(out2PageHolding(*last, out2PageCount(*last)),
                                               out2PageCount(*last), *last + 1);
        require(shown.first <= *last && *last <= shown.last, "readout page misses the divider");
        require(shown.last - shown.first + 1 <= kOut2PageEntries + 1, "readout page too long");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 3 || size > 1024) return 0;
    static const std::array<QLocale, 3> locales{QLocale::c(),
                                                QLocale(QLocale::English, QLocale::UnitedStates),
                                                QLocale(QLocale::German, QLocale::Germany)};
    const QLocale& locale = locales[data[0] % locales.size()];
    const auto raw = static_cast<std::uint16_t>(data[1] | data[2] << 8);
    const QStringList parts =
        QString::fromUtf8(reinterpret_cast<const char*>(data + 3), static_cast<qsizetype>(size - 3))
            .split(QLatin1Char('\n'));
    const auto part = [&](qsizetype i) {
        if (i < 6) return parts.value(i);
        return parts.mid(6).join(QLatin1Char('\n'));
    };
    PlanTexts texts;
    for (qsizetype i = 0; i < 7; ++i)
        texts[kPlanTable[static_cast<std::size_t>(i)].field] = part(i);

    checkValidation(texts, locale);
    for (const PlanField f : {PlanField::N31, PlanField::NC1_LS, PlanField::NC2_LS}) {
        checkPhases(texts[f], locale);
    }
    checkOutput2(texts, locale, raw);
    return 0;
}
