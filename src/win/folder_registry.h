#pragma once

#include <filesystem>
#include <string>

namespace morlane::win {

// Where the window remembers its working folder between starts: the user's registry,
// HKEY_CURRENT_USER\Software\Morlane\Morlane, string value "WorkingFolder".
class FolderRegistry {
 public:
  // The key under HKEY_CURRENT_USER; another one keeps the user's choice out of the way.
  explicit FolderRegistry(std::wstring key = L"Software\\Morlane\\Morlane");

  // Empty when no folder was chosen yet (UTF-8).
  std::string Remembered() const;
  // False when the key cannot be written; the folder is then kept for this start only.
  bool Remember(const std::filesystem::path& folder) const;
  // See StartFolder in ui/working_folder.h.
  std::filesystem::path StartFolder() const;
  const std::wstring& Key() const { return key_; }

 private:
  std::wstring key_;
};

}  // namespace morlane::win
