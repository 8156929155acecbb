#include "app/list_control.h"

#include <QSignalBlocker>
#include <QWheelEvent>

namespace quarvel {

ListControl::ListControl(QWidget* parent) : QComboBox(parent) {
    setEditable(false);
    // activated is the user's choice, also of the entry already shown; programmatic changes
    // are announced by setListIndex alone.
    connect(this, &QComboBox::activated, this, [this](int) {
        if (onClick_) onClick_();
    });
}

void ListControl::clearList() {
    const QSignalBlocker blocker(this);
    clear();
}

void ListControl::appendItem(const QString& text) {
    appendItems(QStringList{text});
}

void ListControl::appendItems(const QStringList& texts) {
    if (texts.isEmpty()) return;
    const QSignalBlocker blocker(this);
    const int selected = currentIndex();
    addItems(texts);
    if (currentIndex() != selected) setCurrentIndex(selected);  // undo Qt's auto-selection
}

void ListControl::setListIndex(int index) {
    if (index < -1 || index >= count() || index == currentIndex()) return;
    {
        const QSignalBlocker blocker(this);
        setCurrentIndex(index);
    }
    if (onClick_) onClick_();
}

void ListControl::wheelEvent(QWheelEvent* event) {
    event->ignore();
}

}  // namespace quarvel
