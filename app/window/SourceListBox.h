// app/window/SourceListBox.h — the window's source list: rows of one fixed
// height, and only whole rows in view.
#pragma once

#include <QListWidget>

namespace tw {

/// A list whose rows are all rowHeight pixels high and whose view is always
/// a whole number of rows high: the room left below the last whole row (at
/// any size, with or without a horizontal scroll bar) is blank list
/// background, so no row is ever shown cut off. Main thread.
class TSourceListBox : public QListWidget {
  public:
    TSourceListBox(int rowHeight, QWidget* parent);
    int RowHeight() const { return FRowHeight; }

  protected:
    bool viewportEvent(QEvent* event) override;

  private:
    void FitWholeRows();

    const int FRowHeight;
    /// The blank room kept below the rows.
    int FGap = 0;
};

}  // namespace tw
