#include "win/folder_registry.h"

#include <vector>

#include "ui/working_folder.h"
#include "win/wide_text.h"
#include "win/win32.h"

namespace morlane::win {

namespace {

constexpr const wchar_t* kWorkingFolderValue = L"WorkingFolder";

}  // namespace

FolderRegistry::FolderRegistry(std::wstring key) : key_(std::move(key)) {}

std::string FolderRegistry::Remembered() const {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, key_.c_str(), 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) {
    return {};
  }
  std::wstring text;
  DWORD type = 0;
  DWORD bytes = 0;
  if (RegQueryValueExW(key, kWorkingFolderValue, nullptr, &type, nullptr, &bytes) ==
          ERROR_SUCCESS &&
      type == REG_SZ && bytes > 0) {
    // One more character than the value holds: a stored value need not end in a NUL.
    std::vector<wchar_t> buffer(bytes / sizeof(wchar_t) + 1, L'\0');
    DWORD size = bytes;
    if (RegQueryValueExW(key, kWorkingFolderValue, nullptr, &type,
                         reinterpret_cast<BYTE*>(buffer.data()), &size) == ERROR_SUCCESS &&
        type == REG_SZ) {
      text.assign(buffer.data());
    }
  }
  RegCloseKey(key);
  return Utf8(text);
}

bool FolderRegistry::Remember(const std::filesystem::path& folder) const {
  HKEY key = nullptr;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, key_.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                      KEY_SET_VALUE, nullptr, &key, nullptr) != ERROR_SUCCESS) {
    return false;
  }
  const std::wstring& text = folder.native();
  const auto bytes = static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t));
  const bool written =
      RegSetValueExW(key, kWorkingFolderValue, 0, REG_SZ,
                     reinterpret_cast<const BYTE*>(text.c_str()), bytes) == ERROR_SUCCESS;
  RegCloseKey(key);
  return written;
}

std::filesystem::path FolderRegistry::StartFolder() const {
  return morlane::StartFolder(Remembered());
}

}  // namespace morlane::win
