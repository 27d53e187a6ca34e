#include "win/dialog_template.h"

#include <algorithm>

namespace morlane::win {

namespace {

// The logical face every system maps to its dialog font.
constexpr const char* kShellDialogFace = "MS Shell Dlg";

short Units(int value) {
  return static_cast<short>(std::clamp(value, -32768, 32767));
}

class TemplateWriter {
 public:
  void Word(WORD value) { words_.push_back(value); }
  void Dword(DWORD value) {
    Word(LOWORD(value));
    Word(HIWORD(value));
  }
  void AlignDword() {
    if (words_.size() % 2 != 0) Word(0);
  }
  // A NUL-terminated UTF-16 string; the captions are in the ANSI code page, as every text
  // of the window is.
  void String(const std::string& text) {
    if (!text.empty()) {
      int length =
          MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
      std::wstring wide(static_cast<size_t>(std::max(length, 0)), L'\0');
      MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), wide.data(),
                          length);
      for (wchar_t c : wide) Word(static_cast<WORD>(c));
    }
    Word(0);
  }
  void WideString(const wchar_t* text) {
    for (; *text; ++text) Word(static_cast<WORD>(*text));
    Word(0);
  }
  std::vector<WORD> Take() { return std::move(words_); }

 private:
  std::vector<WORD> words_;
};

int CALLBACK FoundFamily(const LOGFONTA*, const TEXTMETRICA*, DWORD, LPARAM found) {
  *reinterpret_cast<bool*>(found) = true;
  return 0;
}

}  // namespace

DialogItem ItemFor(const ControlSpec& control) {
  DialogItem item;
  item.id = control.id == 0 ? kNoId : static_cast<WORD>(control.id);
  item.x = Units(control.x);
  item.y = Units(control.y);
  item.cx = Units(control.width);
  item.cy = Units(control.height);
  item.caption = control.caption;
  DWORD style = WS_CHILD;
  if (control.shown) style |= WS_VISIBLE;
  if (!control.enabledAtStart) style |= WS_DISABLED;
  switch (control.kind) {
    case ControlKind::GroupBox:
      item.classAtom = kButtonAtom;
      style |= BS_GROUPBOX;
      break;
    case ControlKind::ComboBox:
      // The template's height is that of the open list.
      item.classAtom = kComboBoxAtom;
      style |= CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP;
      break;
    case ControlKind::PushButton:
      item.classAtom = kButtonAtom;
      style |= BS_PUSHBUTTON | WS_TABSTOP;
      break;
    case ControlKind::CheckBox:
      item.classAtom = kButtonAtom;
      style |= BS_AUTOCHECKBOX | WS_TABSTOP;
      break;
    case ControlKind::ManualCheckBox:
      // Its click leaves the mark alone; the handler sets it.
      item.classAtom = kButtonAtom;
      style |= BS_CHECKBOX | WS_TABSTOP;
      break;
    case ControlKind::StaticText:
      item.classAtom = kStaticAtom;
      style |= SS_LEFT;
      break;
    case ControlKind::ProgressBar:
      item.className = PROGRESS_CLASSW;
      style |= PBS_SMOOTH | WS_BORDER;
      break;
    case ControlKind::ListBox:
      // The log: lines stay in the tool's own list and are drawn from it (no data in the
      // control), since a day's log reaches a million lines.
      item.classAtom = kListBoxAtom;
      style |= LBS_NOINTEGRALHEIGHT | WS_VSCROLL | WS_HSCROLL | LBS_NOTIFY | LBS_NODATA |
               LBS_OWNERDRAWFIXED | WS_BORDER | WS_TABSTOP;
      break;
    case ControlKind::Edit:
      item.classAtom = kEditAtom;
      style |= WS_BORDER | ES_AUTOHSCROLL | WS_TABSTOP;
      break;
  }
  item.style = style;
  return item;
}

std::vector<DialogItem> ItemsOf(const DialogTemplate& dialog) {
  std::vector<DialogItem> items;
  items.reserve(dialog.controls.size());
  for (const ControlSpec& control : dialog.controls) items.push_back(ItemFor(control));
  return items;
}

std::vector<WORD> EncodeDialog(DWORD style, DWORD exStyle, const DialogTemplate& dialog,
                               const std::string& face, const std::vector<DialogItem>& items) {
  TemplateWriter out;
  out.Dword(style | DS_SETFONT);
  out.Dword(exStyle);
  out.Word(static_cast<WORD>(items.size()));
  out.Word(0);  // x, y: placed by DS_CENTER or by the owner
  out.Word(0);
  out.Word(static_cast<WORD>(Units(dialog.width)));
  out.Word(static_cast<WORD>(Units(dialog.height)));
  out.Word(0);  // no menu
  out.Word(0);  // the dialog class
  out.String(dialog.caption);
  out.Word(static_cast<WORD>(dialog.fontPoints));
  out.String(face);
  for (const DialogItem& item : items) {
    out.AlignDword();
    out.Dword(item.style);
    out.Dword(0);
    out.Word(static_cast<WORD>(item.x));
    out.Word(static_cast<WORD>(item.y));
    out.Word(static_cast<WORD>(item.cx));
    out.Word(static_cast<WORD>(item.cy));
    out.Word(item.id);
    if (item.classAtom != 0) {
      out.Word(0xFFFF);
      out.Word(item.classAtom);
    } else {
      out.WideString(item.className);
    }
    out.String(item.caption);
    out.Word(0);  // no creation data
  }
  return out.Take();
}

bool FontFamilyInstalled(const std::string& face) {
  if (face.empty() || face.size() >= LF_FACESIZE) return false;
  LOGFONTA wanted{};
  wanted.lfCharSet = DEFAULT_CHARSET;
  std::copy(face.begin(), face.end(), wanted.lfFaceName);
  bool found = false;
  HDC screen = GetDC(nullptr);
  EnumFontFamiliesExA(screen, &wanted, FoundFamily, reinterpret_cast<LPARAM>(&found), 0);
  ReleaseDC(nullptr, screen);
  return found;
}

std::string DialogFace(const DialogTemplate& dialog) {
  if (FontFamilyInstalled(dialog.fontFace)) return dialog.fontFace;
  LOGFONTA gui{};
  if (GetObjectA(GetStockObject(DEFAULT_GUI_FONT), sizeof gui, &gui) == sizeof gui &&
      FontFamilyInstalled(gui.lfFaceName)) {
    return gui.lfFaceName;
  }
  return kShellDialogFace;
}

}  // namespace morlane::win
