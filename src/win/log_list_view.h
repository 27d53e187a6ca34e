#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "ui/hscroll_listbox.h"
#include "win/win32.h"

namespace morlane::win {

// Text widths as the list box draws them: measured on a memory DC made like the list
// box's own, with the list box's font selected, so that a measure costs no DC of the
// screen. The font must outlive the measurer.
class GdiTextMeasurer : public TextMeasurer {
 public:
  explicit GdiTextMeasurer(HWND list);
  ~GdiTextMeasurer() override;
  GdiTextMeasurer(const GdiTextMeasurer&) = delete;
  GdiTextMeasurer& operator=(const GdiTextMeasurer&) = delete;

  int TextExtent(std::string_view text) const override;
  int TabbedTextExtent(std::string_view text) const override;
  int LineHeight() const;

 private:
  HDC dc_ = nullptr;
  HGDIOBJ previousFont_ = nullptr;
};

// A line as the list shows it: control characters (the log's line feeds) as spaces.
std::string DisplayText(std::string_view text);

// The log list box 1005 showing the tool's list. The box holds no data: its count
// follows the list's, and each visible row is drawn from the list's line when the box
// asks (WM_DRAWITEM), so a million lines cost the box nothing per line.
//
// Lines appended at the end, the selection and the horizontal extent are shown in
// batches (Sync): the box redraws its scroll bars on every change of count, selection or
// extent, which costs milliseconds per change under some window systems, so one change
// per line would hold the window thread for long when lines come fast. Syncs are spaced
// so that they take at most a fifth of the thread's time, and come at most
// kMaxSyncGapMs late. Lines removed or inserted among the shown ones are shown at once.
class LogListView : private ListBoxObserver {
 public:
  using Scheduler = std::function<void(int delayMs)>;
  static constexpr int kMaxSyncGapMs = 250;
  static constexpr int kSyncShare = 5;

  // schedule asks for Sync to run on the window thread after the given delay.
  LogListView(HWND list, CHScrollListBox& model, Scheduler schedule);
  ~LogListView() override;
  LogListView(const LogListView&) = delete;
  LogListView& operator=(const LogListView&) = delete;

  HWND Handle() const { return list_; }
  // Shows in the box what the list has now.
  void Sync();
  void Draw(const DRAWITEMSTRUCT& item) const;
  // The box's selection changed by the user (LBN_SELCHANGE).
  void UserSelectionChanged();
  // The box was made larger or smaller: its rows fill it (a taller box shows older lines
  // above the newest rather than blank rows below it), and the selection stays in view.
  void Resized();

 private:
  void Schedule();
  // Scrolls the box so that its selected line shows whole.
  void KeepSelectionInView();
  // The rows the box shows whole.
  int RowsShown() const;
  void ItemInserted(int index) override;
  void ItemRemoved(int index) override;
  void ContentReset() override;
  void SelectionChanged(int index) override;
  void HorizontalExtentChanged(int extent) override;

  HWND list_;
  CHScrollListBox& model_;
  Scheduler schedule_;
  // What the box shows.
  int shownCount_ = 0;
  int shownSelection_ = -1;
  int shownExtent_ = 0;
  bool scheduled_ = false;
  ULONGLONG nextSyncAt_ = 0;
};

}  // namespace morlane::win
