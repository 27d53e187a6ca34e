#pragma once

#include "win/win32.h"

namespace morlane::win {

// The id the icon of the About box is given (the template gives it none).
inline constexpr WORD kAboutIconId = 100;

// The About box from its template: the tool's icon and OK (the default button). Modal,
// owned by the window and centred on it.
void ShowAboutBox(HWND owner, HICON icon);

}  // namespace morlane::win
