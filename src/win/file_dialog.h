#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "ui/window.h"
#include "win/win32.h"

namespace morlane::win {

// The dialog's filter "Name (*.x)|*.x|Other (*.*)|*.*|" as the open dialog takes it:
// every field ended by a NUL, the list by one more. A name without its pattern is
// dropped, an empty name is the pattern itself; with nothing left, every file is offered.
std::string OpenDialogFilter(std::string_view filter);

// The extension added to a name typed without one: "*.bin" gives "bin"; a pattern that
// names no single extension ("*.*") gives none.
std::string DefaultExtension(std::string_view pattern);

// The open dialog, owned by the window; nullopt when cancelled. It starts in the folder
// given (UTF-8), else in the current directory, and leaves the current directory as it
// was.
std::optional<std::string> RunOpenFileDialog(HWND owner, const FileDialogRequest& request,
                                             const std::string& startFolder = {});

}  // namespace morlane::win
