#pragma once
// The output 2 list as the window shows it: the entries a plan allows, the page on show and the
// entry selected. An entry is a place in the whole list (entry i stands for divider
// out2Divider(i)); a row is a place on the page shown. A list of more than kOut2PageStride + 1
// entries is shown a page at a time.

#include <QLocale>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <optional>
#include <vector>

namespace quarvel {

class Output2Pages {
  public:
    explicit Output2Pages(const QLocale& locale = QLocale()) : locale_(locale) {}

    // Entries 0..lastEntry for output 1 at fout and divider nc1 (none for a lastEntry below 0):
    // all at once when they fit a page, otherwise the page holding entry `shown`. Nothing is
    // selected.
    void build(double fout, double nc1, std::int32_t lastEntry, std::int32_t shown);
    void clear();
    // Whether the list was built for output 1 at fout and divider nc1.
    bool builtFor(double fout, double nc1) const { return fout_ == fout && nc1_ == nc1; }

    const QStringList& rows() const { return rows_; }
    // Entries in the whole list, over all pages.
    std::int32_t entryCount() const { return static_cast<std::int32_t>(frequencies_.size()); }
    // Changes whenever rows() does, so that a view refills only then.
    std::uint32_t revision() const { return revision_; }
    int page() const { return page_; }
    int pageCount() const { return pageCount_; }  // 0 for a list that fits one page
    bool hasPrevious() const { return pageCount_ > 0 && page_ > 0; }
    bool hasNext() const { return pageCount_ > 0 && page_ + 1 < pageCount_; }

    // The neighbouring page, with nothing selected; false when there is none.
    bool showNextPage();
    bool showPreviousPage();
    // The page of a paged list that holds the entry, with nothing selected; a list that fits
    // one page stays as it is.
    void showPageOf(std::int32_t entry);

    // Where the entry is on the page shown; outside 0..rows().size() - 1 when it is not there.
    int rowOf(std::int32_t entry) const { return entry - firstShown_; }
    // Selects a row shown; false, and nothing changes, for any other.
    bool select(int row);
    void clearSelection() { selected_ = -1; }
    int selectedRow() const { return selected_; }  // -1 for none
    std::optional<std::int32_t> selectedEntry() const;
    std::optional<double> selectedFrequency() const;
    QString selectedText() const;  // empty for none

  private:
    void showPage(int page);
    void showEntries(std::int32_t first, std::int32_t last);

    QLocale locale_;
    std::vector<double> frequencies_;  // the whole list
    double fout_ = 0, nc1_ = 0;        // what it was built for
    QStringList rows_;
    std::uint32_t revision_ = 0;
    int selected_ = -1;
    std::int32_t firstShown_ = 0;  // the entry of row 0
    int pageCount_ = 0;
    int page_ = 0;
};

}  // namespace quarvel
