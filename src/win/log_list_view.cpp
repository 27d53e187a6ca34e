#include "win/log_list_view.h"

#include "win/wide_text.h"

#include <algorithm>
#include <climits>

namespace morlane::win {

namespace {

int Length(std::wstring_view text) {
  return static_cast<int>(std::min<size_t>(text.size(), INT_MAX));
}

}  // namespace

GdiTextMeasurer::GdiTextMeasurer(HWND list) {
  HDC listDc = GetDC(list);
  dc_ = CreateCompatibleDC(listDc);
  ReleaseDC(list, listDc);
  auto font = reinterpret_cast<HGDIOBJ>(SendMessageA(list, WM_GETFONT, 0, 0));
  if (dc_) previousFont_ = SelectObject(dc_, font ? font : GetStockObject(DEFAULT_GUI_FONT));
}

GdiTextMeasurer::~GdiTextMeasurer() {
  if (!dc_) return;
  if (previousFont_) SelectObject(dc_, previousFont_);
  DeleteDC(dc_);
}

int GdiTextMeasurer::TextExtent(std::string_view text) const {
  SIZE size{};
  const std::wstring wide = Wide(text);
  if (!dc_ || !GetTextExtentPoint32W(dc_, wide.data(), Length(wide), &size)) return 0;
  return size.cx;
}

int GdiTextMeasurer::TabbedTextExtent(std::string_view text) const {
  if (!dc_) return 0;
  const std::wstring wide = Wide(text);
  return LOWORD(GetTabbedTextExtentW(dc_, wide.data(), Length(wide), 0, nullptr));
}

int GdiTextMeasurer::LineHeight() const {
  TEXTMETRICA metrics{};
  if (!dc_ || !GetTextMetricsA(dc_, &metrics)) return 16;
  return metrics.tmHeight;
}

std::string DisplayText(std::string_view text) {
  std::string shown(text);
  for (char& c : shown) {
    auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) c = ' ';
  }
  return shown;
}

LogListView::LogListView(HWND list, CHScrollListBox& model, Scheduler schedule)
    : list_(list), model_(model), schedule_(std::move(schedule)) {
  model_.SetObserver(this);
  SendMessageA(list_, LB_RESETCONTENT, 0, 0);
  Sync();
}

LogListView::~LogListView() {
  model_.SetObserver(nullptr);
}

void LogListView::Sync() {
  scheduled_ = false;
  const ULONGLONG started = GetTickCount64();
  const int count = model_.GetCount();
  const int selection = model_.GetCurSel();
  const int extent = std::max(model_.GetHorizontalExtent(), 0);
  if (count == shownCount_ && selection == shownSelection_ && extent == shownExtent_) return;
  // Each request below makes the box bring its scroll bars up to date at once (and
  // scroll its rows), which under Wine costs a round trip to the display server each,
  // several milliseconds on a busy machine: one batch then held the window for several
  // frames. With redrawing off the box takes the new count, selection and extent, and
  // updates its scroll bars once when redrawing is turned on again; its rows are painted
  // in a pass of the message loop of their own.
  SendMessageA(list_, WM_SETREDRAW, FALSE, 0);
  if (count != shownCount_) {
    SendMessageA(list_, LB_SETCOUNT, static_cast<WPARAM>(count), 0);
    shownCount_ = count;
    shownSelection_ = -2;  // the box may have moved its selection with the count
  }
  if (selection != shownSelection_) {
    // Selecting scrolls the line into view.
    SendMessageA(list_, LB_SETCURSEL, static_cast<WPARAM>(selection), 0);
    shownSelection_ = selection;
  }
  if (extent != shownExtent_) {
    SendMessageA(list_, LB_SETHORIZONTALEXTENT, static_cast<WPARAM>(extent), 0);
    shownExtent_ = extent;
  }
  SendMessageA(list_, WM_SETREDRAW, TRUE, 0);
  KeepSelectionInView();
  // Painted now, so that the cost below is all that showing the batch took.
  InvalidateRect(list_, nullptr, TRUE);
  UpdateWindow(list_);
  // Showing costs what the box takes to redraw; the next sync waits so that showing
  // stays a small share of the thread's time.
  const ULONGLONG now = GetTickCount64();
  nextSyncAt_ = now + std::min<ULONGLONG>((now - started) * (kSyncShare - 1), kMaxSyncGapMs);
}

void LogListView::KeepSelectionInView() {
  // The box scrolls a line it selects only until part of it shows, and the horizontal
  // scroll bar that a wider line brings takes the bottom row's room: the newest line
  // would stand half under the bar.
  if (shownSelection_ < 0) return;
  const auto top = static_cast<int>(SendMessageA(list_, LB_GETTOPINDEX, 0, 0));
  const int rows = RowsShown();
  if (shownSelection_ >= top && shownSelection_ < top + rows) return;
  const int wanted = shownSelection_ < top ? shownSelection_ : shownSelection_ - rows + 1;
  SendMessageA(list_, LB_SETTOPINDEX, static_cast<WPARAM>(wanted), 0);
}

int LogListView::RowsShown() const {
  const auto height = static_cast<int>(SendMessageA(list_, LB_GETITEMHEIGHT, 0, 0));
  RECT client{};
  GetClientRect(list_, &client);
  return height > 0 ? std::max<int>(client.bottom / height, 1) : 1;
}

void LogListView::Resized() {
  const auto top = static_cast<int>(SendMessageA(list_, LB_GETTOPINDEX, 0, 0));
  const int filled = std::max(shownCount_ - RowsShown(), 0);
  if (top > filled) SendMessageA(list_, LB_SETTOPINDEX, static_cast<WPARAM>(filled), 0);
  KeepSelectionInView();
}

void LogListView::Schedule() {
  if (scheduled_) return;
  scheduled_ = true;
  const ULONGLONG now = GetTickCount64();
  schedule_(nextSyncAt_ > now ? static_cast<int>(nextSyncAt_ - now) : 0);
}

void LogListView::ItemInserted(int index) {
  if (index >= shownCount_) {
    Schedule();
    return;
  }
  // Shown rows moved down.
  Sync();
  InvalidateRect(list_, nullptr, TRUE);
}

void LogListView::ItemRemoved(int) {
  Sync();
  InvalidateRect(list_, nullptr, TRUE);
}

void LogListView::ContentReset() {
  SendMessageA(list_, LB_RESETCONTENT, 0, 0);
  shownCount_ = 0;
  shownSelection_ = -1;
  Sync();
}

void LogListView::SelectionChanged(int) {
  Schedule();
}

void LogListView::HorizontalExtentChanged(int) {
  Schedule();
}

void LogListView::UserSelectionChanged() {
  auto index = static_cast<int>(SendMessageA(list_, LB_GETCURSEL, 0, 0));
  // The box shows it already.
  shownSelection_ = index;
  model_.SetCurSel(index);
}

void LogListView::Draw(const DRAWITEMSTRUCT& item) const {
  HDC dc = item.hDC;
  const RECT& row = item.rcItem;
  if (item.itemID == static_cast<UINT>(-1) || static_cast<int>(item.itemID) >= model_.GetCount()) {
    // An empty list with the focus shows where the focus is.
    if (item.itemState & ODS_FOCUS) DrawFocusRect(dc, &row);
    return;
  }
  const bool selected = item.itemState & ODS_SELECTED;
  COLORREF text = GetSysColor(selected ? COLOR_HIGHLIGHTTEXT : COLOR_WINDOWTEXT);
  if (item.itemState & ODS_DISABLED) text = GetSysColor(COLOR_GRAYTEXT);
  COLORREF previousText = SetTextColor(dc, text);
  COLORREF previousBack = SetBkColor(dc, GetSysColor(selected ? COLOR_HIGHLIGHT : COLOR_WINDOW));
  // The extent is the text's width plus 3 pixels: the text starts 2 pixels in.
  const std::wstring shown = Wide(DisplayText(model_.TextAt(static_cast<int>(item.itemID))));
  ExtTextOutW(dc, row.left + 2, row.top, ETO_OPAQUE | ETO_CLIPPED, &row, shown.data(),
              static_cast<UINT>(Length(shown)), nullptr);
  if (item.itemState & ODS_FOCUS) DrawFocusRect(dc, &row);
  SetBkColor(dc, previousBack);
  SetTextColor(dc, previousText);
}

}  // namespace morlane::win
