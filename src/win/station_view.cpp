#include "win/station_view.h"

#include <algorithm>
#include <string_view>

#include "station/station_look.h"
#include "win/wide_text.h"

namespace morlane::win {

namespace {

constexpr wchar_t kClassName[] = L"MorlaneStation";
constexpr UINT_PTR kRefreshTimer = 1;
constexpr int kRefreshMs = 200;
constexpr int kLastRunsEvery = 10;  // refreshes: the records are read every two seconds
constexpr int kLastRuns = 8;
constexpr int kTileColumns = 4;
constexpr int kTileWidth = 230;
constexpr int kTileHeight = 210;
constexpr int kMargin = 10;
constexpr UINT kScanEntered = WM_APP + 1;

void SetText(HWND control, const std::string& text) {
  const std::wstring wide = Wide(text);
  wchar_t shown[512] = {};
  GetWindowTextW(control, shown, 512);
  // Only what changed is set again: a static control flickers on every set.
  if (wide != shown) SetWindowTextW(control, wide.c_str());
}

HFONT MakeFont(int height, bool bold) {
  return CreateFontW(-height, 0, 0, 0, bold ? FW_BOLD : FW_NORMAL, FALSE, FALSE, FALSE,
                     DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                     DEFAULT_PITCH | FF_SWISS, L"Segoe UI");
}

}  // namespace

StationView::StationView(Station& station, RecordStore& store, const std::string& title)
    : station_(station), store_(store), title_(title) {
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&controls);
  HINSTANCE instance = GetModuleHandleW(nullptr);
  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = Proc;
  windowClass.hInstance = instance;
  windowClass.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW, as a wide name
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  windowClass.lpszClassName = kClassName;
  RegisterClassExW(&windowClass);
  nameFont_ = MakeFont(22, true);
  stateFont_ = MakeFont(34, true);
  textFont_ = MakeFont(15, false);

  const size_t slots = station_.View().size();
  const int columns = static_cast<int>(std::min<size_t>(slots, kTileColumns));
  const int rows = static_cast<int>((slots + kTileColumns - 1) / kTileColumns);
  const int width = kMargin + columns * (kTileWidth + kMargin);
  const int height = kMargin + rows * (kTileHeight + kMargin) + 260;
  RECT frame{0, 0, std::max(width, 500), height};
  AdjustWindowRect(&frame, WS_OVERLAPPEDWINDOW, FALSE);
  window_ = CreateWindowExW(0, kClassName, Wide("Station " + title_).c_str(), WS_OVERLAPPEDWINDOW,
                            CW_USEDEFAULT, CW_USEDEFAULT, frame.right - frame.left,
                            frame.bottom - frame.top, nullptr, nullptr, instance, this);
  Build();
  SetTimer(window_, kRefreshTimer, kRefreshMs, nullptr);
  Refresh();
  ShowLastRuns();
}

StationView::~StationView() {
  if (window_) DestroyWindow(window_);
  for (auto& [color, brush] : brushes_) DeleteObject(brush);
  for (HFONT font : {nameFont_, stateFont_, textFont_}) DeleteObject(font);
}

void StationView::Build() {
  HINSTANCE instance = GetModuleHandleW(nullptr);
  auto child = [&](const wchar_t* kind, DWORD style, int x, int y, int w, int h, HFONT font) {
    // A label's "&" is text, not a mnemonic: unit ids and messages are shown as they are.
    if (std::wstring_view(kind) == L"STATIC") style |= SS_NOPREFIX;
    HWND control = CreateWindowExW(0, kind, L"", WS_CHILD | WS_VISIBLE | style, x, y, w, h, window_,
                                   nullptr, instance, nullptr);
    SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
    return control;
  };
  const std::vector<SlotView> views = station_.View();
  for (size_t i = 0; i < views.size(); ++i) {
    const int x = kMargin + static_cast<int>(i % kTileColumns) * (kTileWidth + kMargin);
    const int y = kMargin + static_cast<int>(i / kTileColumns) * (kTileHeight + kMargin);
    const int inner = kTileWidth - 20;
    child(L"BUTTON", BS_GROUPBOX, x, y, kTileWidth, kTileHeight, textFont_);
    Tile tile{};
    tile.name = child(L"STATIC", SS_LEFT, x + 10, y + 14, inner, 28, nameFont_);
    SetText(tile.name, views[i].name);
    tile.unit = child(L"STATIC", SS_LEFT, x + 10, y + 44, inner, 20, textFont_);
    tile.step = child(L"STATIC", SS_LEFT, x + 10, y + 66, inner, 20, textFont_);
    tile.bar = child(PROGRESS_CLASSW, 0, x + 10, y + 90, inner, 18, textFont_);
    SendMessageW(tile.bar, PBM_SETRANGE32, 0, 100);
    tile.time = child(L"STATIC", SS_LEFT, x + 10, y + 112, inner, 20, textFont_);
    tile.state =
        child(L"STATIC", SS_CENTER | SS_CENTERIMAGE, x + 10, y + 138, inner, 60, stateFont_);
    tiles_.push_back(tile);
  }
  const int rows = static_cast<int>((views.size() + kTileColumns - 1) / kTileColumns);
  int y = kMargin + rows * (kTileHeight + kMargin);
  RECT client{};
  GetClientRect(window_, &client);
  const int width = client.right - 2 * kMargin;
  HWND label = child(L"STATIC", SS_LEFT, kMargin, y + 4, 50, 22, textFont_);
  SetWindowTextW(label, L"Scan:");
  scan_ = child(L"EDIT", WS_BORDER | ES_AUTOHSCROLL | WS_TABSTOP, kMargin + 55, y, width - 55, 26,
                textFont_);
  SetWindowSubclass(scan_, ScanProc, 1, reinterpret_cast<DWORD_PTR>(this));
  message_ = child(L"STATIC", SS_LEFT, kMargin, y + 32, width, 22, textFont_);
  counters_ = child(L"STATIC", SS_LEFT, kMargin, y + 56, width, 22, textFont_);
  lastRuns_ = child(L"LISTBOX", WS_BORDER | WS_VSCROLL | LBS_NOTIFY | LBS_NOINTEGRALHEIGHT, kMargin,
                    y + 82, width, 160, textFont_);
}

void StationView::Show(int how) {
  ShowWindow(window_, how);
  UpdateWindow(window_);
  SetFocus(scan_);
}

HBRUSH StationView::BrushOf(COLORREF color) {
  auto found = brushes_.find(color);
  if (found != brushes_.end()) return found->second;
  return brushes_[color] = CreateSolidBrush(color);
}

void StationView::Type(const std::string& line) {
  SetWindowTextW(scan_, Wide(line).c_str());
  OnScan();
}

void StationView::OnScan() {
  // Whatever its length: a label cut short would start a unit under another's id.
  std::wstring text(static_cast<size_t>(GetWindowTextLengthW(scan_)) + 1, L'\0');
  text.resize(
      static_cast<size_t>(GetWindowTextW(scan_, text.data(), static_cast<int>(text.size()))));
  SetWindowTextW(scan_, L"");
  const std::string refused = station_.Scan(Utf8(text));
  messageIsRefusal_ = !refused.empty();
  SetWindowTextW(message_, Wide(refused).c_str());
  InvalidateRect(message_, nullptr, TRUE);
  Refresh();
}

void StationView::Refresh() {
  const std::vector<SlotView> views = station_.View();
  for (size_t i = 0; i < views.size() && i < tiles_.size(); ++i) {
    const TileLook look = LookOf(views[i]);
    Tile& tile = tiles_[i];
    SetText(tile.unit, look.unit);
    SetText(tile.step, look.step);
    SendMessageW(tile.bar, PBM_SETPOS, static_cast<WPARAM>(views[i].percent), 0);
    SetText(tile.time, look.time);
    const COLORREF color =
        RGB((look.color >> 16) & 0xff, (look.color >> 8) & 0xff, look.color & 0xff);
    if (color != tile.color) {
      tile.color = color;
      InvalidateRect(tile.state, nullptr, TRUE);
    }
    SetText(tile.state, look.state);
  }
  SetText(counters_, CountersLine(station_.Tally()));
  // What the station says beside the tiles (a unit waiting for its label, the line's
  // database out of reach) replaces the last scan's answer.
  if (const Station::LastRemark remark = station_.NewestRemark(); remark.number != shownRemark_) {
    shownRemark_ = remark.number;
    messageIsRefusal_ = false;
    SetWindowTextW(message_, Wide(remark.text).c_str());
    InvalidateRect(message_, nullptr, TRUE);
  }
  if (++ticks_ % kLastRunsEvery == 0) ShowLastRuns();
  if (closing_ && !station_.Busy()) DestroyWindow(window_);
}

void StationView::ShowLastRuns() {
  RunFilter newest;
  newest.limit = kLastRuns;
  std::string why;
  const std::vector<RunRecord> runs = store_.Summaries(newest, &why);
  SendMessageW(lastRuns_, LB_RESETCONTENT, 0, 0);
  for (const RunRecord& run : runs) {
    const std::wstring line = Wide(LastRunLine(run));
    SendMessageW(lastRuns_, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(line.c_str()));
  }
}

void StationView::RunLater(int ms, std::function<void()> action) {
  const UINT_PTR id = nextTimer_++;
  later_[id] = std::move(action);
  SetTimer(window_, id, static_cast<UINT>(ms), nullptr);
}

void StationView::RequestClose() {
  PostMessageW(window_, WM_CLOSE, 0, 0);
}

int StationView::RunMessageLoop() {
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  return 0;
}

LRESULT CALLBACK StationView::ScanProc(HWND edit, UINT message, WPARAM w, LPARAM l, UINT_PTR,
                                       DWORD_PTR self) {
  // Enter ends a scan; the edit control itself would only beep at it.
  if (message == WM_CHAR && (w == L'\r' || w == L'\n')) {
    PostMessageW(reinterpret_cast<StationView*>(self)->window_, kScanEntered, 0, 0);
    return 0;
  }
  return DefSubclassProc(edit, message, w, l);
}

LRESULT CALLBACK StationView::Proc(HWND window, UINT message, WPARAM w, LPARAM l) {
  if (message == WM_NCCREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTW*>(l);
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* self = reinterpret_cast<StationView*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (!self || !self->window_) return DefWindowProcW(window, message, w, l);
  return self->OnMessage(message, w, l);
}

LRESULT StationView::OnMessage(UINT message, WPARAM w, LPARAM l) {
  switch (message) {
    case kScanEntered:
      OnScan();
      return 0;
    case WM_TIMER:
      if (w == kRefreshTimer) {
        Refresh();
      } else if (auto found = later_.find(w); found != later_.end()) {
        KillTimer(window_, w);
        std::function<void()> action = std::move(found->second);
        later_.erase(found);
        action();
      }
      return 0;
    case WM_ACTIVATE:
      // Keyboard only: whatever was clicked, the scanner's keys go to the scan field.
      if (LOWORD(w) != WA_INACTIVE && scan_) SetFocus(scan_);
      break;
    case WM_SETFOCUS:
      if (scan_) SetFocus(scan_);
      return 0;
    case WM_COMMAND:
      if (reinterpret_cast<HWND>(l) == lastRuns_ && HIWORD(w) == LBN_SETFOCUS) SetFocus(scan_);
      return 0;
    case WM_CTLCOLORSTATIC: {
      const HWND control = reinterpret_cast<HWND>(l);
      const HDC dc = reinterpret_cast<HDC>(w);
      for (const Tile& tile : tiles_) {
        if (tile.state != control) continue;
        SetTextColor(dc, RGB(255, 255, 255));
        SetBkColor(dc, tile.color);
        return reinterpret_cast<LRESULT>(BrushOf(tile.color));
      }
      if (control == message_ && messageIsRefusal_) SetTextColor(dc, RGB(185, 28, 28));
      SetBkMode(dc, TRANSPARENT);
      return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
    }
    case WM_QUERYENDSESSION:
      // A unit may be mid-burn: the session is asked to wait for the running units, and
      // none starts meanwhile; the window goes once they are done.
      station_.Finish();
      if (!station_.Busy()) return TRUE;
      closing_ = true;
      SetWindowTextW(message_, L"Stopping: the running units finish first");
      return FALSE;
    case WM_ENDSESSION:
      // The session ends all the same, and the process with it once this returns: the
      // running units are stopped within their own waits and every run is kept first.
      if (w) {
        station_.StopNow();
        station_.Join();
        DestroyWindow(window_);
      }
      return 0;
    case WM_CLOSE:
      // No unit starts any more; the window goes once the running ones have finished.
      station_.Finish();
      if (station_.Busy()) {
        closing_ = true;
        SetWindowTextW(message_, L"Stopping: the running units finish first");
        return 0;
      }
      DestroyWindow(window_);
      return 0;
    case WM_DESTROY:
      KillTimer(window_, kRefreshTimer);
      window_ = nullptr;
      PostQuitMessage(0);
      return 0;
    default:
      break;
  }
  return DefWindowProcW(window_, message, w, l);
}

}  // namespace morlane::win
