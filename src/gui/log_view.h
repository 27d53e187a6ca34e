#pragma once

#include <QAbstractItemDelegate>
#include <QAbstractListModel>
#include <QElapsedTimer>
#include <QFontMetrics>
#include <QListView>
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

// The log lines as rows, read straight from the list: no object per line. Every row has
// the same size, as wide as the list's horizontal extent and one font height tall.
//
// Lines appended at the end are shown to the view in batches (ShowPending): the view
// lays out all its rows again whenever rows come, so one batch per update, not one per
// line. Every other change is shown at once, after the batch.
class LogListModel : public QAbstractListModel, public ListBoxObserver {
  Q_OBJECT
 public:
  LogListModel(CHScrollListBox& list, int rowHeight, QObject* parent);
  ~LogListModel() override;

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  QModelIndex index(int row, int column, const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;

  // Shows the appended lines the view has not been told of yet.
  void ShowPending();
  int PendingRows() const { return pending_; }
  int Extent() const { return extent_; }
  // True while the rows change under the view; selection moves made by the view then are
  // its own bookkeeping, not the user's choice.
  bool Changing() const { return changing_; }

 signals:
  // Lines are waiting, or the list's selection moved: the view should update.
  void updateRequested();
  void extentChanged();

 private:
  void ItemInserted(int index) override;
  void ItemRemoved(int index) override;
  void ContentReset() override;
  void SelectionChanged(int index) override;
  void HorizontalExtentChanged(int extent) override;

  CHScrollListBox& list_;
  int rows_ = 0;     // rows the view knows
  int pending_ = 0;  // lines appended after them
  int rowHeight_;
  int extent_ = 0;
  bool changing_ = false;
};

// Draws a line on one row, from the left edge, without eliding.
class LogItemDelegate : public QAbstractItemDelegate {
 public:
  using QAbstractItemDelegate::QAbstractItemDelegate;
  void paint(QPainter* painter, const QStyleOptionViewItem& option,
             const QModelIndex& index) const override;
  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
};

// The log list 1005. It owns the toolkit-free list the tool appends to and shows it.
//
// An append costs the list one text measurement. The view's part (new rows, the newest
// selected and scrolled into view) is one update per pass of the event loop, however
// many lines came in it; and since an update lays out every row, updates are spaced so
// that they take at most a fifth of the window thread's time (an update is at most
// kMaxUpdateGapMs late), which keeps a log of a million lines responsive.
class LogView : public QListView {
  Q_OBJECT
 public:
  static constexpr int kMaxUpdateGapMs = 250;
  static constexpr int kUpdateShare = 5;

  LogView(const QFont& font, QWidget* parent);
  ~LogView() override;

  CHScrollListBox& List() { return list_; }
  LogListModel& Model() { return *model_; }
  // Carries out a pending update at once.
  void SyncNow();

 private:
  void ScheduleUpdate();
  void FollowExtent();
  void OnCurrentChanged(const QModelIndex& current);

  CHScrollListBox list_;
  QtTextMeasurer measurer_;
  LogListModel* model_;
  LogItemDelegate* delegate_;
  QTimer updateTimer_;
  QElapsedTimer clock_;
  qint64 nextUpdateMs_ = 0;
  bool syncing_ = false;
};

}  // namespace morlane::gui
