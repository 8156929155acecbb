#include "planning/output2_pages.h"

#include <algorithm>
#include <span>

#include "planning/output2_list.h"

namespace quarvel {

void Output2Pages::build(double fout, double nc1, std::int32_t lastEntry, std::int32_t shown) {
    fout_ = fout;
    nc1_ = nc1;
    frequencies_ = out2Frequencies(fout, nc1, lastEntry);
    if (lastEntry <= kOut2PageStride) {
        pageCount_ = 0;
        page_ = 0;
        showEntries(0, lastEntry);
        return;
    }
    pageCount_ = out2PageCount(lastEntry);
    showPage(out2PageHolding(shown, static_cast<std::int16_t>(pageCount_)));
}

void Output2Pages::clear() {
    frequencies_.clear();
    pageCount_ = 0;
    page_ = 0;
    showEntries(0, -1);
}

bool Output2Pages::showNextPage() {
    if (!hasNext()) return false;
    showPage(page_ + 1);
    return true;
}

bool Output2Pages::showPreviousPage() {
    if (!hasPrevious()) return false;
    showPage(page_ - 1);
    return true;
}

void Output2Pages::showPageOf(std::int32_t entry) {
    if (pageCount_ > 0) showPage(out2PageHolding(entry, static_cast<std::int16_t>(pageCount_)));
}

void Output2Pages::showPage(int page) {
    page_ = page;
    const EntryRange range =
        out2PageRange(static_cast<std::int16_t>(page), static_cast<std::int16_t>(pageCount_),
                      static_cast<std::int32_t>(frequencies_.size()));
    showEntries(range.first, range.last);
}

void Output2Pages::showEntries(std::int32_t first, std::int32_t last) {
    const auto size = static_cast<std::int32_t>(frequencies_.size());
    first = std::clamp<std::int32_t>(first, 0, size);
    last = std::clamp<std::int32_t>(last, -1, size - 1);
    firstShown_ = first;
    selected_ = -1;
    rows_ = last < first ? QStringList()
                         : formatEntries(std::span(frequencies_)
                                             .subspan(static_cast<std::size_t>(first),
                                                      static_cast<std::size_t>(last - first + 1)),
                                         locale_);
    ++revision_;
}

bool Output2Pages::select(int row) {
    if (row < 0 || row >= rows_.size()) return false;
    selected_ = row;
    return true;
}

std::optional<std::int32_t> Output2Pages::selectedEntry() const {
    if (selected_ < 0) return std::nullopt;
    return firstShown_ + selected_;
}

std::optional<double> Output2Pages::selectedFrequency() const {
    const auto entry = selectedEntry();
    if (!entry) return std::nullopt;
    return frequencies_[static_cast<std::size_t>(*entry)];
}

QString Output2Pages::selectedText() const {
    return selected_ >= 0 ? rows_[selected_] : QString();
}

}  // namespace quarvel
