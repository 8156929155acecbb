#pragma once
// A drop-down list that notifies the way the window's procedures expect: selecting an entry
// from code runs the click handler at once (only when the selection changes), a user's pick
// runs it even when the same entry is picked again, and clearing or adding entries runs
// nothing and selects nothing. A plain QComboBox selects the first entry added and signals on
// clear(), which the handlers must never see; and it chooses on a mouse wheel.

#include <QComboBox>
#include <QStringList>
#include <functional>

namespace quarvel {

class ListControl : public QComboBox {
    Q_OBJECT
  public:
    explicit ListControl(QWidget* parent = nullptr);

    void setClickHandler(std::function<void()> handler) { onClick_ = std::move(handler); }

    void clearList();
    void appendItem(const QString& text);
    void appendItems(const QStringList& texts);

    // -1 when nothing is selected.
    int listIndex() const { return currentIndex(); }
    int listCount() const { return count(); }
    // Selects index (or nothing, for -1); runs the click handler when the selection changed.
    void setListIndex(int index);

  protected:
    // A wheel over a closed list scrolls the window, never chooses: nobody means to switch
    // devices or send a command by scrolling past. An open list's popup scrolls as usual.
    void wheelEvent(QWheelEvent* event) override;

  private:
    std::function<void()> onClick_;
};

}  // namespace quarvel
