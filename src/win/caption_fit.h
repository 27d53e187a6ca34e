#pragma once

#include "win/win32.h"

namespace morlane::win {

// The width in pixels a control needs to show its caption whole, in the font the control
// draws with: the caption's extent and the control's own margins (a push button's edges,
// a check box's or radio button's box and the gap after it, a group box's inset). 0 for a
// control that shows no caption (no text, or not a button or static text).
int CaptionNeed(HWND control);

// Widens each shown control of the dialog whose caption does not fit, as far as its
// caption needs and its room allows: up to the next shown control to its right on the
// same rows, the inside of the frame around it and the dialog's right edge, each less a
// gap. A control without that room keeps as much as it has; no control comes to overlap
// another, and none is made narrower. Run once the controls stand where the layout puts
// them: the dialog's font (a face in place of one the system lacks) may draw the captions
// wider than the layout's dialog units allow.
void FitCaptions(HWND dialog);

}  // namespace morlane::win
