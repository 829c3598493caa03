// app/window/SourceListBox.cpp — the source list with whole rows.
#include "app/window/SourceListBox.h"

#include <QEvent>
#include <QStyledItemDelegate>

namespace tw {

namespace {

class TItemHeight : public QStyledItemDelegate {
  public:
    TItemHeight(int height, QObject* parent) : QStyledItemDelegate(parent), FHeight(height) {}
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        return QSize(QStyledItemDelegate::sizeHint(option, index).width(), FHeight);
    }

  private:
    int FHeight;
};

}  // namespace

TSourceListBox::TSourceListBox(int rowHeight, QWidget* parent)
    : QListWidget(parent), FRowHeight(rowHeight) {
    setUniformItemSizes(true);
    setItemDelegate(new TItemHeight(rowHeight, this));
    // The gap below the rows is the list's own area: painted as its background.
    setAutoFillBackground(true);
    setBackgroundRole(QPalette::Base);
}

bool TSourceListBox::viewportEvent(QEvent* event) {
    // The view's height changes with the list's size and with the horizontal
    // scroll bar coming and going; each change resizes the view.
    if (event->type() == QEvent::Resize) FitWholeRows();
    return QListWidget::viewportEvent(event);
}

void TSourceListBox::FitWholeRows() {
    const int room = viewport()->height() + FGap;
    const int gap = room > FRowHeight ? room % FRowHeight : 0;
    if (gap == FGap) return;
    FGap = gap;
    // Lays the view out again (a second resize that changes nothing more).
    setViewportMargins(0, 0, 0, gap);
}

}  // namespace tw
