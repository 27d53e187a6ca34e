#include "win/caption_fit.h"

#include <algorithm>
#include <string>
#include <vector>

namespace morlane::win {

namespace {

// What a widened control leaves free before its neighbour, its frame or the dialog's edge.
constexpr int kGapUnits = 2;
// A group box draws its caption this far inside each of its sides, and clears a pixel
// around it.
constexpr int kFrameInset = 7 + 1;

bool ClassIs(HWND control, const wchar_t* name) {
  wchar_t found[16] = {};
  GetClassNameW(control, found, 16);
  return lstrcmpiW(found, name) == 0;
}

// The margins a control draws around its caption; -1 for a control that draws none.
int MarginsOf(HWND control, HDC dc) {
  const auto style = static_cast<DWORD>(GetWindowLongW(control, GWL_STYLE));
  if (ClassIs(control, L"Static")) {
    switch (style & SS_TYPEMASK) {
      case SS_LEFT:
      case SS_CENTER:
      case SS_RIGHT:
      case SS_SIMPLE:
      case SS_LEFTNOWORDWRAP:
        return 0;
      default:
        return -1;  // an icon, a bitmap, a frame
    }
  }
  if (!ClassIs(control, L"Button")) return -1;
  switch (style & BS_TYPEMASK) {
    case BS_GROUPBOX:
      return 2 * kFrameInset;
    case BS_CHECKBOX:
    case BS_AUTOCHECKBOX:
    case BS_3STATE:
    case BS_AUTO3STATE:
    case BS_RADIOBUTTON:
    case BS_AUTORADIOBUTTON: {
      if (style & BS_PUSHLIKE) break;
      // The box, then a gap of half a digit before the caption.
      SIZE digit{};
      GetTextExtentPoint32W(dc, L"0", 1, &digit);
      return GetSystemMetrics(SM_CXMENUCHECK) + digit.cx / 2;
    }
    case BS_OWNERDRAW:
      return -1;
    default:
      break;
  }
  // A push button: its edge and its focus rectangle on either side.
  return 2 * (GetSystemMetrics(SM_CXEDGE) + 1);
}

RECT PlaceIn(HWND dialog, HWND control) {
  RECT place{};
  GetWindowRect(control, &place);
  MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&place), 2);
  return place;
}

bool Contains(const RECT& outer, const RECT& inner) {
  return outer.left <= inner.left && outer.right >= inner.right && outer.top <= inner.top &&
         outer.bottom >= inner.bottom;
}

// The right edge the shown control `index` of `places` may be widened to, within a client
// area whose right edge is `edge`.
LONG RoomRight(const std::vector<RECT>& places, size_t index, LONG edge, LONG gap) {
  const RECT& at = places[index];
  LONG limit = edge - gap;
  for (size_t i = 0; i < places.size(); ++i) {
    const RECT& other = places[i];
    if (i == index || other.top >= at.bottom || other.bottom <= at.top) continue;
    if (Contains(other, at)) {
      limit = std::min(limit, other.right - gap);  // the frame around it
    } else if (other.left >= at.right) {
      limit = std::min(limit, other.left - gap);  // the next control on its rows
    } else if (other.right > at.right) {
      limit = std::min(limit, at.right);  // one it overlaps already: not a pixel further
    }
  }
  return limit;
}

}  // namespace

int CaptionNeed(HWND control) {
  const int length = GetWindowTextLengthW(control);
  if (length <= 0) return 0;
  std::wstring caption(static_cast<size_t>(length) + 1, L'\0');
  caption.resize(
      static_cast<size_t>(std::max(GetWindowTextW(control, caption.data(), length + 1), 0)));
  HDC dc = GetDC(control);
  if (!dc) return 0;
  auto font = reinterpret_cast<HGDIOBJ>(SendMessageW(control, WM_GETFONT, 0, 0));
  HGDIOBJ old = SelectObject(dc, font ? font : GetStockObject(SYSTEM_FONT));
  int need = 0;
  if (const int margins = MarginsOf(control, dc); margins >= 0) {
    // As the control draws it: one line, "&" marking the letter underlined.
    RECT text{0, 0, 0, 0};
    DrawTextW(dc, caption.c_str(), static_cast<int>(caption.size()), &text,
              DT_CALCRECT | DT_SINGLELINE);
    need = text.right - text.left + margins;
  }
  SelectObject(dc, old);
  ReleaseDC(control, dc);
  return need;
}

void FitCaptions(HWND dialog) {
  std::vector<HWND> shown;
  std::vector<RECT> places;
  for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    // The style, not IsWindowVisible: the dialog itself may not be shown yet.
    if (!(GetWindowLongW(child, GWL_STYLE) & WS_VISIBLE)) continue;
    shown.push_back(child);
    places.push_back(PlaceIn(dialog, child));
  }
  RECT client{}, gap{0, 0, kGapUnits, 0};
  GetClientRect(dialog, &client);
  MapDialogRect(dialog, &gap);
  for (size_t i = 0; i < shown.size(); ++i) {
    const RECT& at = places[i];
    const LONG need = CaptionNeed(shown[i]);
    if (at.left + need <= at.right) continue;
    const LONG right = std::min(at.left + need, RoomRight(places, i, client.right, gap.right));
    if (right <= at.right) continue;
    SetWindowPos(shown[i], nullptr, 0, 0, right - at.left, at.bottom - at.top,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
}

}  // namespace morlane::win
