#pragma once
// The output 2 frequencies a plan allows, and how a long list is shown a page at a time.
//
// Entry i of the list is the output 2 frequency for divider out2Divider(i); the last entry, for
// the output 1 divider itself, is output 1's own frequency.

#include <QLocale>
#include <QStringList>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace quarvel {

// Entries a page shows; only the last page of a count that is an even multiple of the stride
// shows one more, since it starts one entry early and the page count rounds half to even.
inline constexpr std::int32_t kOut2PageEntries = 32701;
inline constexpr std::int32_t kOut2PageStride = 32700;  // a new page starts every stride
// The largest count a divider of at most 2^20 gives; anything beyond is not a list that a
// plan can produce, and building it would only exhaust memory.
inline constexpr std::int32_t kOut2MaxCount = 524287;

// The divider of entry i, and the other way round before any rounding: the one place that
// says which divider an entry stands for.
constexpr double out2Divider(std::int32_t entry) {
    return 2.0 * static_cast<double>(entry) + 2.0;
}
constexpr double out2EntryOf(double nc2ls) {
    return nc2ls / 2 - 1;
}

// count = round(out2EntryOf(nc2ls)), halves to even: the list has entries 0..count. Empty when
// the count is not a 32-bit integer, is negative, or exceeds kOut2MaxCount.
std::optional<std::int32_t> out2Count(double nc2ls);

// Entry i = fout * nc1 / out2Divider(i), evaluated left to right.
double out2Frequency(double fout, double nc1, std::int32_t i);

// Entries 0..count (count + 1 values). Empty when count is outside 0..kOut2MaxCount.
std::vector<double> out2Frequencies(double fout, double nc1, std::int32_t count);

// The texts of the entries in general number form.
QStringList formatEntries(std::span<const double> values, const QLocale& locale = QLocale());

// Pages for a list of entries 0..count: round(count / 32700 + 0.5), halves to even, so a
// count that is an odd multiple of the stride gets a final page of just two entries. Clamped
// to 0..32767.
std::int16_t out2PageCount(std::int32_t count);

struct EntryRange {
    std::int32_t first = 0, last = 0;  // inclusive indices in the full list
};

// Which full-list entries page `page` shows: page 0 shows 0..32700, a middle page p shows
// p*32700..p*32700+32700, and the last page starts one entry early, at p*32700-1, and runs to
// the end. Both ends are kept within 0..listLength-1; with no entries the range is {0, -1}.
EntryRange out2PageRange(std::int16_t page, std::int16_t pageCount, std::int32_t listLength);

// The row to select on a page of rowCount rows for divider nc2ls: n = out2EntryOf(nc2ls), taken
// as a row whatever page is shown; n not less than rowCount selects the last row, otherwise
// round(n) (16-bit, halves to even), never past the last row. Empty when nothing can be
// selected (no rows, n rounds below 0 or out of the 16-bit range).
std::optional<int> out2Selection(double nc2ls, int rowCount);

// A page that shows the entry (neighbouring pages share entries); the last page for an entry
// past the end, 0 when there are no pages.
std::int16_t out2PageHolding(std::int32_t entry, std::int16_t pageCount);

// The last entry of the status readout's list for the device's divider nc2ls:
// round(out2EntryOf(nc2ls)), halves to even, so the list ends at the device's own divider (an odd
// one at its even neighbour). A divider beyond any plan (a count past kOut2MaxCount) gets just the
// first page. Empty when the count is not a 32-bit integer or is negative.
std::optional<std::int32_t> readoutOut2Count(double nc2ls);

}  // namespace quarvel
