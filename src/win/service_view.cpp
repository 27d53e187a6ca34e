#include "win/service_view.h"

#include <algorithm>

#include "ui/control_ids.h"
#include "ui/control_table.h"
#include "ui/service_panel.h"
#include "win/caption_fit.h"

namespace morlane::win {

namespace {

// A rectangle of the template in pixels, as the dialog manager places a control: the
// position and the size each converted on their own, so that a control put back lands on
// the very pixels it was created on.
RECT Pixels(HWND dialog, int x, int y, int width, int height) {
  RECT at{x, y, width, height};
  MapDialogRect(dialog, &at);
  return RECT{at.left, at.top, at.left + at.right, at.top + at.bottom};
}

void Place(HWND control, const RECT& at, bool shown) {
  if (!control) return;
  SetWindowPos(control, nullptr, at.left, at.top, at.right - at.left, at.bottom - at.top,
               SWP_NOZORDER | SWP_NOACTIVATE | (shown ? SWP_SHOWWINDOW : SWP_HIDEWINDOW));
}

// Nothing of the old place is copied: the control is drawn afresh where it now stands.
void Move(HWND control, const RECT& at) {
  if (!control) return;
  SetWindowPos(control, nullptr, at.left, at.top, at.right - at.left, at.bottom - at.top,
               SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOCOPYBITS);
}

// The client area goes from the start size `from` to the start size `to`, keeping the room
// the user gave the log: the window grows or shrinks by the panel.
void ChangeStartSize(HWND dialog, SIZE from, SIZE to) {
  const int widthChange = to.cx - from.cx;
  const int heightChange = to.cy - from.cy;
  if (IsIconic(dialog)) {
    // Minimised (the entry is reachable from the task bar), the size it comes back at
    // is changed instead; the client area of the icon says nothing.
    WINDOWPLACEMENT placement{};
    placement.length = sizeof placement;
    if (!GetWindowPlacement(dialog, &placement)) return;
    RECT& normal = placement.rcNormalPosition;
    normal.right += widthChange;
    normal.bottom += heightChange;
    SetWindowPlacement(dialog, &placement);
    return;
  }
  // Maximised, the window keeps the screen; the log gives the panel its room.
  if (IsZoomed(dialog)) return;
  RECT outer{}, inner{};
  GetWindowRect(dialog, &outer);
  GetClientRect(dialog, &inner);
  const int width = std::max<int>(to.cx, inner.right + widthChange);
  const int height = std::max<int>(to.cy, inner.bottom + heightChange);
  const int oldWidth = outer.right - outer.left;
  const int newWidth = oldWidth + width - inner.right;
  const int newHeight = outer.bottom - outer.top + height - inner.bottom;
  // Not yet shown (started with the view on), it stays centred as the template placed
  // it; shown, its left edge stays where the technician put it and it grows to the right.
  const bool shown = IsWindowVisible(dialog);
  const int x = shown ? outer.left : outer.left - (newWidth - oldWidth) / 2;
  SetWindowPos(dialog, nullptr, x, outer.top, newWidth, newHeight,
               SWP_NOZORDER | SWP_NOACTIVATE | (shown ? SWP_NOMOVE : 0));
}

}  // namespace

int ServiceFrameId(size_t index) {
  return kServiceFrameFirstId + static_cast<int>(index);
}

std::vector<DialogItem> ServiceFrameItems() {
  std::vector<DialogItem> items;
  const auto& frames = ServiceViewPanel().frames;
  for (size_t i = 0; i < frames.size(); ++i) {
    DialogItem item = ItemFor(frames[i]);
    item.id = static_cast<WORD>(ServiceFrameId(i));
    items.push_back(item);
  }
  return items;
}

void ArrangeServiceView(HWND dialog, bool on) {
  const ServicePanel& panel = ServiceViewPanel();
  HWND focus = GetFocus();
  bool focusHidden = false;
  for (const ServicePlacement& placement : panel.placements) {
    const ControlSpec* control = FindControl(placement.id);
    HWND item = GetDlgItem(dialog, placement.id);
    if (!control || !item) continue;
    const RECT at = on ? Pixels(dialog, placement.x, placement.y, placement.width, placement.height)
                       : Pixels(dialog, control->x, control->y, control->width, control->height);
    Place(item, at, on || control->shown);
    focusHidden |= !on && (focus == item || IsChild(item, focus));
  }
  for (size_t i = 0; i < panel.frames.size(); ++i) {
    const ControlSpec& frame = panel.frames[i];
    Place(GetDlgItem(dialog, ServiceFrameId(i)),
          Pixels(dialog, frame.x, frame.y, frame.width, frame.height), on);
  }
  // The keyboard would reach nothing from a control that went hidden.
  if (focusHidden) SendMessageA(dialog, WM_NEXTDLGCTL, 0, FALSE);
  ChangeStartSize(dialog, StartClientSize(dialog, !on), StartClientSize(dialog, on));
  // Moving the window has placed them already, unless its size stayed (maximised).
  FollowClientSize(dialog, on);
}

SIZE StartClientSize(HWND dialog, bool serviceView) {
  const DialogTemplate& main = MainDialogTemplate();
  const int panelWidth = serviceView ? ServiceViewPanel().width : 0;
  const RECT client = Pixels(dialog, 0, 0, main.width + panelWidth, main.height);
  return {client.right, client.bottom};
}

void FollowClientSize(HWND dialog, bool serviceView) {
  if (IsIconic(dialog)) return;
  RECT client{};
  GetClientRect(dialog, &client);
  const SIZE start = StartClientSize(dialog, serviceView);
  const int extraWidth = client.right - start.cx;
  const int extraHeight = client.bottom - start.cy;
  auto place = [&](HWND control, const RECT& at, GrowRule rule) {
    const PixelRect grown = GrownPlace({at.left, at.top, at.right - at.left, at.bottom - at.top},
                                       rule, extraWidth, extraHeight);
    Move(control, RECT{grown.x, grown.y, grown.x + grown.width, grown.y + grown.height});
  };
  for (int id : {ctl::kLogList, ctl::kClearLog}) {
    const ControlSpec* control = FindControl(id);
    if (!control) continue;
    place(GetDlgItem(dialog, id),
          Pixels(dialog, control->x, control->y, control->width, control->height),
          GrowRuleOf(id, false));
  }
  if (serviceView) {
    const ServicePanel& panel = ServiceViewPanel();
    for (const ServicePlacement& spot : panel.placements) {
      place(GetDlgItem(dialog, spot.id), Pixels(dialog, spot.x, spot.y, spot.width, spot.height),
            GrowRuleOf(spot.id, true));
    }
    for (size_t i = 0; i < panel.frames.size(); ++i) {
      const ControlSpec& frame = panel.frames[i];
      place(GetDlgItem(dialog, ServiceFrameId(i)),
            Pixels(dialog, frame.x, frame.y, frame.width, frame.height), GrowRuleOf(0, true));
    }
  }
  // Put back at the layout's sizes, a caption the font draws wider is given room again.
  FitCaptions(dialog);
  // The dialog's background is erased under its children (it does not clip them): when
  // its size stays (maximised, the view turned on or off) nothing else repaints the
  // controls, and the panel would show only where the mouse passes. All is drawn again.
  RedrawWindow(dialog, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
}

}  // namespace morlane::win
