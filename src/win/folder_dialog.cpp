#include "win/folder_dialog.h"

#include <objbase.h>
#include <shobjidl.h>

#include "win/wide_text.h"

namespace morlane::win {

namespace {

// Releases a COM interface when it goes out of scope.
template <typename T>
struct Released {
  T* item = nullptr;
  ~Released() {
    if (item) item->Release();
  }
};

std::optional<std::string> ShowDialog(HWND owner, const std::string& start) {
  std::optional<std::string> chosen;
  Released<IFileOpenDialog> dialog;
  if (SUCCEEDED(CoCreateInstance(CLSID_FileOpenDialog, nullptr, CLSCTX_INPROC_SERVER,
                                 IID_IFileOpenDialog, reinterpret_cast<void**>(&dialog.item)))) {
    DWORD options = 0;
    dialog.item->GetOptions(&options);
    dialog.item->SetOptions(options | FOS_PICKFOLDERS | FOS_FORCEFILESYSTEM | FOS_NOCHANGEDIR |
                            FOS_PATHMUSTEXIST);
    dialog.item->SetTitle(L"Working Folder");
    Released<IShellItem> folder;
    if (!start.empty() &&
        SUCCEEDED(SHCreateItemFromParsingName(Wide(start).c_str(), nullptr, IID_IShellItem,
                                              reinterpret_cast<void**>(&folder.item)))) {
      dialog.item->SetFolder(folder.item);
    }
    Released<IShellItem> result;
    if (SUCCEEDED(dialog.item->Show(owner)) && SUCCEEDED(dialog.item->GetResult(&result.item))) {
      PWSTR path = nullptr;
      if (SUCCEEDED(result.item->GetDisplayName(SIGDN_FILESYSPATH, &path)) && path) {
        chosen = Utf8(path);
        CoTaskMemFree(path);
      }
    }
  }
  return chosen;
}

}  // namespace

std::optional<std::string> RunFolderDialog(HWND owner, const std::string& start) {
  // The window's thread may have COM already; only what is begun here is ended here,
  // after every interface of the dialog was released.
  const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
  std::optional<std::string> chosen = ShowDialog(owner, start);
  if (SUCCEEDED(com)) CoUninitialize();
  return chosen;
}

}  // namespace morlane::win
