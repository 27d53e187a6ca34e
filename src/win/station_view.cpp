#include "win/station_view.h"

#include <algorithm>
#include <optional>
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
// A tile's smallest size: the window never draws it smaller, it scrolls nothing.
constexpr int kTileWidth = 240;
constexpr int kTileHeight = 300;
constexpr int kMargin = 10;
constexpr int kBannerHeight = 56;  // two lines: a fault names its cause and what follows
// Below the tiles: the scan row, the message, the counters and the last runs.
constexpr int kLastRunsHeight = 160;
constexpr int kBelowTiles = 26 + 6 + 22 + 2 + 22 + 6 + kLastRunsHeight + kMargin;
// A tile's texts as shares of its height, each capped by its width so that the longest
// state ("OUT OF SERVICE") and a unit id of a dozen characters still fit in one line.
constexpr double kNameShare = 0.075;
constexpr double kUnitShare = 0.085;
constexpr double kStateShare = 0.13;
constexpr double kTextShare = 0.05;
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
  textFont_ = MakeFont(15, false);
  bannerFont_ = MakeFont(20, true);
  SizeFonts(kTileWidth, kTileHeight);

  const size_t slots = station_.View().size();
  const int columns = static_cast<int>(std::min<size_t>(slots, kTileColumns));
  const int rows = static_cast<int>((slots + kTileColumns - 1) / kTileColumns);
  const int width = kMargin + columns * (kTileWidth + kMargin);
  const int height = kMargin + rows * (kTileHeight + kMargin) + kBelowTiles;
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
  for (HFONT font : {nameFont_, unitFont_, stateFont_, tileFont_, textFont_, bannerFont_}) {
    DeleteObject(font);
  }
}

void StationView::SizeFonts(int tileWidth, int tileHeight) {
  const int inner = tileWidth - 20;
  const int name = std::max(22, static_cast<int>(tileHeight * kNameShare));
  const int unit = std::clamp(static_cast<int>(tileHeight * kUnitShare), 20, inner / 12);
  const int state = std::clamp(static_cast<int>(tileHeight * kStateShare), 30, inner / 9);
  const int text = std::clamp(static_cast<int>(tileHeight * kTextShare), 15, inner / 24);
  if (name == nameHeight_ && unit == unitHeight_ && state == stateHeight_ &&
      text == tileTextHeight_) {
    return;
  }
  // The new fonts are handed to the controls before the old ones go.
  const HFONT old[] = {nameFont_, unitFont_, stateFont_, tileFont_};
  nameFont_ = MakeFont(name, true);
  unitFont_ = MakeFont(unit, true);
  stateFont_ = MakeFont(state, true);
  tileFont_ = MakeFont(text, false);
  nameHeight_ = name;
  unitHeight_ = unit;
  stateHeight_ = state;
  tileTextHeight_ = text;
  auto set = [](HWND control, HFONT font) {
    SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  };
  for (const Tile& tile : tiles_) {
    set(tile.name, nameFont_);
    set(tile.unit, unitFont_);
    set(tile.state, stateFont_);
    for (HWND control : {tile.step, tile.time, tile.reason, tile.instruction}) {
      set(control, tileFont_);
    }
  }
  for (HFONT font : old) {
    if (font) DeleteObject(font);
  }
}

void StationView::Build() {
  HINSTANCE instance = GetModuleHandleW(nullptr);
  auto child = [&](const wchar_t* kind, DWORD style, HFONT font) {
    // A label's "&" is text, not a mnemonic: unit ids and messages are shown as they are.
    if (std::wstring_view(kind) == L"STATIC") style |= SS_NOPREFIX;
    HWND control = CreateWindowExW(0, kind, L"", WS_CHILD | WS_VISIBLE | style, 0, 0, 10, 10,
                                   window_, nullptr, instance, nullptr);
    SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
    return control;
  };
  banner_ = child(L"STATIC", SS_CENTER, bannerFont_);
  ShowWindow(banner_, SW_HIDE);
  const std::vector<SlotView> views = station_.View();
  for (const SlotView& view : views) {
    Tile tile{};
    tile.frame = child(L"BUTTON", BS_GROUPBOX, textFont_);
    tile.name = child(L"STATIC", SS_LEFT, nameFont_);
    SetText(tile.name, view.name);
    tile.unit = child(L"STATIC", SS_LEFT | SS_ENDELLIPSIS, unitFont_);
    tile.step = child(L"STATIC", SS_LEFT | SS_ENDELLIPSIS, tileFont_);
    tile.bar = child(PROGRESS_CLASSW, 0, textFont_);
    SendMessageW(tile.bar, PBM_SETRANGE32, 0, 100);
    tile.time = child(L"STATIC", SS_LEFT, tileFont_);
    tile.state = child(L"STATIC", SS_CENTER | SS_CENTERIMAGE, stateFont_);
    // Two lines each, wrapped at words: a reason or an instruction is a short sentence.
    tile.reason = child(L"STATIC", SS_LEFT | SS_EDITCONTROL, tileFont_);
    tile.instruction = child(L"STATIC", SS_LEFT | SS_EDITCONTROL, tileFont_);
    tiles_.push_back(tile);
  }
  scanLabel_ = child(L"STATIC", SS_LEFT, textFont_);
  SetWindowTextW(scanLabel_, L"Scan:");
  scan_ = child(L"EDIT", WS_BORDER | ES_AUTOHSCROLL | WS_TABSTOP, textFont_);
  SetWindowSubclass(scan_, ScanProc, 1, reinterpret_cast<DWORD_PTR>(this));
  // One line each: a long message ends in "..." rather than under the counters.
  message_ = child(L"STATIC", SS_LEFTNOWORDWRAP | SS_ENDELLIPSIS, textFont_);
  counters_ = child(L"STATIC", SS_LEFTNOWORDWRAP | SS_ENDELLIPSIS, textFont_);
  lastRuns_ =
      child(L"LISTBOX", WS_BORDER | WS_VSCROLL | LBS_NOTIFY | LBS_NOINTEGRALHEIGHT, textFont_);
  Layout();
}

void StationView::Layout() {
  RECT client{};
  GetClientRect(window_, &client);
  const int width = client.right - 2 * kMargin;
  const int slots = static_cast<int>(tiles_.size());
  const int columns = std::max(1, std::min(slots, kTileColumns));
  const int rows = std::max(1, (slots + kTileColumns - 1) / kTileColumns);
  int top = kMargin;
  if (bannerShown_) {
    MoveWindow(banner_, kMargin, top, width, kBannerHeight, TRUE);
    top += kBannerHeight + kMargin;
  }
  // The tiles take what the lines below them leave, shared evenly.
  const int tileWidth = std::max(kTileWidth, (width - (columns - 1) * kMargin) / columns);
  const int tilesHeight = client.bottom - top - kBelowTiles;
  const int tileHeight = std::max(kTileHeight, (tilesHeight - rows * kMargin) / rows);
  SizeFonts(tileWidth, tileHeight);
  const int inner = tileWidth - 20;
  const int text = tileTextHeight_ * 14 / 10;
  for (int i = 0; i < slots; ++i) {
    const Tile& tile = tiles_[static_cast<size_t>(i)];
    const int x = kMargin + (i % kTileColumns) * (tileWidth + kMargin);
    const int y0 = top + (i / kTileColumns) * (tileHeight + kMargin);
    MoveWindow(tile.frame, x, y0, tileWidth, tileHeight, TRUE);
    int y = y0 + 14;
    auto place = [&](HWND control, int height) {
      MoveWindow(control, x + 10, y, inner, height, TRUE);
      y += height + 2;
    };
    place(tile.name, nameHeight_ * 13 / 10);
    place(tile.unit, unitHeight_ * 13 / 10);
    place(tile.step, text);
    place(tile.bar, std::max(18, tileTextHeight_ * 6 / 5));
    place(tile.time, text);
    place(tile.state, stateHeight_ * 16 / 10);
    place(tile.reason, 2 * text);
    place(tile.instruction, std::max(text, y0 + tileHeight - 8 - y));
  }
  int y = top + rows * (tileHeight + kMargin);
  MoveWindow(scanLabel_, kMargin, y + 4, 50, 22, TRUE);
  MoveWindow(scan_, kMargin + 55, y, width - 55, 26, TRUE);
  MoveWindow(message_, kMargin, y + 32, width, 22, TRUE);
  MoveWindow(counters_, kMargin, y + 56, width, 22, TRUE);
  MoveWindow(lastRuns_, kMargin, y + 84, width, kLastRunsHeight, TRUE);
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
    SetText(tile.reason, look.reason);
    SetText(tile.instruction, look.instruction.empty() ? "" : "Do: " + look.instruction);
    // Each failed unit sounds once, when its verdict is first drawn.
    if (views[i].runsEnded != tile.runsEnded) {
      tile.runsEnded = views[i].runsEnded;
      if (views[i].result == "fail") {
        if (onFailure) {
          onFailure();
        } else {
          MessageBeep(MB_ICONHAND);
        }
      }
    }
  }
  std::string counters = CountersLine(station_.Tally());
  if (const std::optional<std::string> name = station_.Operator()) {
    counters += "    Operator: " + *name;
  }
  SetText(counters_, counters);
  // A station fault holds for the shift: the banner stays until the window is closed.
  if (const std::string fault = station_.Fault(); !fault.empty() && !bannerShown_) {
    bannerShown_ = true;
    SetText(banner_, FaultBanner(fault));
    ShowWindow(banner_, SW_SHOW);
    Layout();
    InvalidateRect(window_, nullptr, TRUE);
  }
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
    case WM_SIZE:
      if (scan_) Layout();
      return 0;
    case WM_GETMINMAXINFO: {
      // Never smaller than a tile of the smallest size in each place.
      auto* limits = reinterpret_cast<MINMAXINFO*>(l);
      const int slots = static_cast<int>(std::max<size_t>(tiles_.size(), 1));
      const int columns = std::min(slots, kTileColumns);
      const int rows = (slots + kTileColumns - 1) / kTileColumns;
      RECT frame{0, 0, kMargin + columns * (kTileWidth + kMargin),
                 kMargin + rows * (kTileHeight + kMargin) + kBelowTiles +
                     (bannerShown_ ? kBannerHeight + kMargin : 0)};
      AdjustWindowRect(&frame, WS_OVERLAPPEDWINDOW, FALSE);
      limits->ptMinTrackSize.x = frame.right - frame.left;
      limits->ptMinTrackSize.y = frame.bottom - frame.top;
      return 0;
    }
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
      if (control == banner_) {
        SetTextColor(dc, RGB(255, 255, 255));
        SetBkColor(dc, RGB(185, 28, 28));
        return reinterpret_cast<LRESULT>(BrushOf(RGB(185, 28, 28)));
      }
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
