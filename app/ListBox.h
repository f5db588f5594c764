#pragma once

#include <QListWidget>

// A list box of the window: while no row is selected it has no current row either, so it
// shows no current-row frame and the first navigation key selects the first row, as users
// of list boxes expect. Qt would make the first row current on focus, and the
// first Down would then select the second row.
class ListBox : public QListWidget {
  public:
    using QListWidget::QListWidget;

  protected:
    void focusInEvent(QFocusEvent* event) override;
};
