#include "win/about_box.h"

#include "ui/control_table.h"
#include "win/dialog_template.h"

namespace morlane::win {

namespace {

void CentreOn(HWND dialog, HWND owner) {
  RECT box{}, over{};
  if (!owner || !GetWindowRect(dialog, &box) || !GetWindowRect(owner, &over)) return;
  int x = over.left + ((over.right - over.left) - (box.right - box.left)) / 2;
  int y = over.top + ((over.bottom - over.top) - (box.bottom - box.top)) / 2;
  SetWindowPos(dialog, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

INT_PTR CALLBACK AboutProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      // An icon static takes the icon's own size at its position.
      SendDlgItemMessageA(dialog, kAboutIconId, STM_SETICON, static_cast<WPARAM>(lParam), 0);
      CentreOn(dialog, GetWindow(dialog, GW_OWNER));
      return TRUE;
    case WM_COMMAND:
      if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
        EndDialog(dialog, LOWORD(wParam));
        return TRUE;
      }
      return FALSE;
    default:
      return FALSE;
  }
}

}  // namespace

void ShowAboutBox(HWND owner, HICON icon) {
  const DialogTemplate& about = AboutDialogTemplate();
  std::vector<DialogItem> items = ItemsOf(about);
  for (DialogItem& item : items) {
    if (item.classAtom == kStaticAtom && item.caption.empty()) {
      item.id = kAboutIconId;
      item.style = (item.style & ~SS_TYPEMASK) | SS_ICON;
    } else if (item.id == IDOK) {
      item.style = (item.style & ~BS_TYPEMASK) | BS_DEFPUSHBUTTON;
    }
  }
  std::vector<WORD> bytes = EncodeDialog(WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME, 0,
                                         about, DialogFace(about), items);
  DialogBoxIndirectParamW(GetModuleHandleW(nullptr),
                          reinterpret_cast<const DLGTEMPLATE*>(bytes.data()), owner, AboutProc,
                          reinterpret_cast<LPARAM>(icon));
}

}  // namespace morlane::win
