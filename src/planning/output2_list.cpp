#include "planning/output2_list.h"

#include <algorithm>
#include <limits>

#include "common/number_text.h"

namespace quarvel {

std::optional<std::int32_t> out2Count(double nc2ls) {
    const auto count = toInt32(out2EntryOf(nc2ls));
    if (!count || *count < 0 || *count > kOut2MaxCount) return std::nullopt;
    return count;
}

double out2Frequency(double fout, double nc1, std::int32_t i) {
    return fout * nc1 / out2Divider(i);
}

std::vector<double> out2Frequencies(double fout, double nc1, std::int32_t count) {
    if (count < 0 || count > kOut2MaxCount) return {};
    std::vector<double> values;
    values.reserve(static_cast<std::size_t>(count) + 1);
    for (std::int32_t i = 0; i <= count; ++i) values.push_back(out2Frequency(fout, nc1, i));
    return values;
}

QStringList formatEntries(std::span<const double> values, const QLocale& locale) {
    QStringList texts;
    texts.reserve(static_cast<qsizetype>(values.size()));
    for (const double v : values) texts.append(formatNumber(v, locale));
    return texts;
}

std::int16_t out2PageCount(std::int32_t count) {
    const double pages = roundHalfEven(static_cast<double>(count) / kOut2PageStride + 0.5);
    return static_cast<std::int16_t>(
        std::clamp(pages, 0.0, static_cast<double>(std::numeric_limits<std::int16_t>::max())));
}

EntryRange out2PageRange(std::int16_t page, std::int16_t pageCount, std::int32_t listLength) {
    if (listLength <= 0) return {0, -1};
    const std::int64_t count = listLength - 1;
    const std::int64_t base = std::int64_t{page} * kOut2PageStride;
    std::int64_t first = base;
    std::int64_t last = base + kOut2PageStride;
    if (page > 0 && page == pageCount - 1) {
        // The last page starts one entry before its stride boundary and ends at the list's end.
        first = base - 1;
        last = count;
    }
    const auto clampToList = [count](std::int64_t index) {
        return static_cast<std::int32_t>(std::clamp<std::int64_t>(index, 0, count));
    };
    return {clampToList(first), clampToList(last)};
}

std::optional<int> out2Selection(double nc2ls, int rowCount) {
    if (rowCount <= 0) return std::nullopt;
    const double n = out2EntryOf(nc2ls);
    if (n >= rowCount) return rowCount - 1;
    const auto row = toInt16(n);
    if (!row || *row < 0) return std::nullopt;
    // n just below rowCount rounds up to rowCount; that is the last row too.
    return std::min<int>(*row, rowCount - 1);
}

std::int16_t out2PageHolding(std::int32_t entry, std::int16_t pageCount) {
    if (pageCount <= 0) return 0;
    // Page p starts at p * stride (the last one an entry earlier), so entry / stride is a
    // page that holds it; an entry at a page's first place is also the previous page's last.
    const std::int32_t page = std::max(entry, 0) / kOut2PageStride;
    return static_cast<std::int16_t>(std::min<std::int32_t>(page, pageCount - 1));
}

std::optional<std::int32_t> readoutOut2Count(double nc2ls) {
    const auto count = toInt32(out2EntryOf(nc2ls));
    if (!count || *count < 0) return std::nullopt;
    return *count <= kOut2MaxCount ? *count : kOut2PageStride;
}

}  // namespace quarvel
