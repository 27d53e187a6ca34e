#pragma once

#include <cstddef>
#include <vector>

#include "win/dialog_template.h"
#include "win/win32.h"

namespace morlane::win {

// The ids the window gives the service panel's frames, which the shared table leaves
// without one (a group box needs an id of its own to be found again). They lie far above
// the template's ids (1000 to 1099) and the dialog manager's own (IDOK, IDCANCEL), and
// below kNoId, so no control of the template can ever answer to one of them.
inline constexpr int kServiceFrameFirstId = 0x7F00;

int ServiceFrameId(size_t index);
// The panel's frames as items of the dialog, made hidden with it: they take the dialog's
// font as the template's own group boxes do, and exist for the window's whole life.
std::vector<DialogItem> ServiceFrameItems();

// Puts the window in or out of the service view: each control of the panel is moved to
// its place there and shown, or back to its place in the template and hidden; the frames
// are shown or hidden with them; the client area grows to the right by the panel, or
// gives its room back, keeping what the user added to the start size. Nothing else of a
// control (enabled state, check mark, text) is touched.
void ArrangeServiceView(HWND dialog, bool on);

// The client area the dialog's layout is drawn for: the template's, widened by the panel
// with the service view. It is the smallest the user can make the window.
SIZE StartClientSize(HWND dialog, bool serviceView);
// Places the log, "Clear Log" and, with the service view, the panel for the client area
// the window has now (GrowRuleOf says how each follows it), and widens the captions that
// need it where there is room (FitCaptions).
void FollowClientSize(HWND dialog, bool serviceView);

}  // namespace morlane::win
