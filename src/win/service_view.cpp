#include "win/service_view.h"

#include "ui/control_table.h"
#include "ui/service_panel.h"

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

void SetClientSize(HWND dialog, int width, int height) {
  if (IsIconic(dialog)) {
    // Minimised (the entry is reachable from the task bar), the size it comes back at
    // is changed instead; the client area of the icon says nothing.
    RECT frame{0, 0, width, height};
    AdjustWindowRectEx(&frame, static_cast<DWORD>(GetWindowLongA(dialog, GWL_STYLE)), FALSE,
                       static_cast<DWORD>(GetWindowLongA(dialog, GWL_EXSTYLE)));
    WINDOWPLACEMENT placement{};
    placement.length = sizeof placement;
    if (!GetWindowPlacement(dialog, &placement)) return;
    RECT& normal = placement.rcNormalPosition;
    normal.right = normal.left + (frame.right - frame.left);
    normal.bottom = normal.top + (frame.bottom - frame.top);
    SetWindowPlacement(dialog, &placement);
    return;
  }
  RECT outer{}, inner{};
  GetWindowRect(dialog, &outer);
  GetClientRect(dialog, &inner);
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
  const DialogTemplate& main = MainDialogTemplate();
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
  const RECT client = Pixels(dialog, 0, 0, main.width + (on ? panel.width : 0), main.height);
  SetClientSize(dialog, client.right, client.bottom);
  InvalidateRect(dialog, nullptr, TRUE);
}

}  // namespace morlane::win
