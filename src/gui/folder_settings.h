#pragma once

#include <QString>
#include <filesystem>
#include <memory>
#include <string>

class QSettings;

namespace morlane::gui {

// Where the window remembers its working folder between starts: the user's settings of
// organisation and application "Morlane" (on Linux ~/.config/Morlane/Morlane.conf), key
// "workingFolder", the folder in UTF-8.
class FolderSettings {
 public:
  FolderSettings();
  // A settings file of its own, in the same format, instead of the user's.
  explicit FolderSettings(const QString& file);
  ~FolderSettings();
  FolderSettings(const FolderSettings&) = delete;
  FolderSettings& operator=(const FolderSettings&) = delete;

  // Empty when no folder was chosen yet.
  std::string Remembered() const;
  void Remember(const std::filesystem::path& folder);
  // See StartFolder in ui/working_folder.h.
  std::filesystem::path StartFolder() const;

 private:
  std::unique_ptr<QSettings> settings_;
};

}  // namespace morlane::gui
