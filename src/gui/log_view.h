#pragma once

#include <QAbstractScrollArea>
#include <QElapsedTimer>
#include <QFontMetrics>
#include <QTimer>

#include "ui/hscroll_listbox.h"

namespace morlane::gui {

// Text widths as the list's font draws the lines.
class QtTextMeasurer : public TextMeasurer {
 public:
  explicit QtTextMeasurer(const QFont& font) : metrics_(font) {}
  int TextExtent(std::string_view text) const override;

 private:
  QFontMetrics metrics_;
};

// The log list 1005. It owns the toolkit-free list the tool appends to and draws it.
//
// Nothing here grows with the log: there is no row object, no layout of rows and no
// model between the list and the screen. Each paint draws the rows in view straight from
// the list, the scroll bars are a row count and the extent, so a pass of the event loop
// costs the same at a million lines as at ten. Changes are shown in batches (SyncNow), at
// most one every kMinSyncGapMs, however many lines came meanwhile: drawing the view once
// per line would spend the window thread on frames no one can see while a worker's lines
// come fast. Every line appended makes the newest line the selection and scrolls it into
// view, as the list box does.
class LogView : public QAbstractScrollArea, private ListBoxObserver {
  Q_OBJECT
 public:
  // One frame of a 60 Hz screen.
  static constexpr int kMinSyncGapMs = 16;

  LogView(const QFont& font, QWidget* parent);
  ~LogView() override;

  CHScrollListBox& List() { return list_; }
  // Carries out a pending update at once.
  void SyncNow();

  // What the view shows, as of the last update.
  int RowCount() const { return rows_; }
  int CurrentRow() const { return selection_; }
  int TopRow() const;
  int RowHeight() const { return rowHeight_; }
  // Where a row is drawn, in the viewport's coordinates: as wide as the extent.
  QRect RowRect(int row) const;
  // A row's text as drawn: control characters as blanks.
  QString RowText(int row) const;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void ItemInserted(int index) override;
  void ItemRemoved(int index) override;
  void ContentReset() override;
  void SelectionChanged(int index) override;
  void HorizontalExtentChanged(int extent) override;

  void Schedule();
  int FullRows() const;
  void UpdateRanges();
  void ScrollToRow(int row);
  int RowAt(int y) const;
  void Select(int row);

  CHScrollListBox list_;
  QtTextMeasurer measurer_;
  int rowHeight_;
  QTimer syncTimer_;
  QElapsedTimer sinceSync_;
  int rows_ = 0;        // rows shown
  int selection_ = -1;  // selection shown
  bool selectionMoved_ = false;
};

}  // namespace morlane::gui
