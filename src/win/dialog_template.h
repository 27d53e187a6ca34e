#pragma once

#include <string>
#include <vector>

#include "ui/control_table.h"
#include "win/win32.h"

namespace morlane::win {

// One control as the dialog manager is to create it.
struct DialogItem {
  WORD classAtom = 0;                  // a predefined class (button, edit, static, ...)
  const wchar_t* className = nullptr;  // or a class by name, when classAtom is 0
  DWORD style = 0;
  WORD id = 0;
  short x = 0, y = 0, cx = 0, cy = 0;  // dialog units
  std::string caption;
};

// Predefined window classes of the dialog manager, by their ordinals.
inline constexpr WORD kButtonAtom = 0x0080;
inline constexpr WORD kEditAtom = 0x0081;
inline constexpr WORD kStaticAtom = 0x0082;
inline constexpr WORD kListBoxAtom = 0x0083;
inline constexpr WORD kComboBoxAtom = 0x0085;
// The id of the controls the template gives none.
inline constexpr WORD kNoId = 0xFFFF;

// The class and styles a control of the table is made with. Hidden controls are created
// without WS_VISIBLE, controls disabled at start with WS_DISABLED.
DialogItem ItemFor(const ControlSpec& control);
std::vector<DialogItem> ItemsOf(const DialogTemplate& dialog);

// The template in memory as the dialog manager reads it (DLGTEMPLATE, then each
// DLGITEMTEMPLATE on a DWORD boundary), with DS_SETFONT and the given face. The buffer's
// storage is suitably aligned for the template.
std::vector<WORD> EncodeDialog(DWORD style, DWORD exStyle, const DialogTemplate& dialog,
                               const std::string& face, const std::vector<DialogItem>& items);

// Whether a font family of that name is installed (a real family, not a substitute name).
bool FontFamilyInstalled(const std::string& face);
// The template's face where it is installed; otherwise the face the system draws its
// own dialogs with (that of DEFAULT_GUI_FONT), so that the dialog units, and with them
// the layout, stay those of a dialog font at the template's size.
std::string DialogFace(const DialogTemplate& dialog);

}  // namespace morlane::win
