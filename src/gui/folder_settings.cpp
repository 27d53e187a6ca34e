#include "gui/folder_settings.h"

#include <QSettings>

#include "gui/text_convert.h"
#include "platform/utf8_path.h"
#include "ui/working_folder.h"

namespace morlane::gui {

namespace {

const QString kWorkingFolderKey = QStringLiteral("workingFolder");

}  // namespace

FolderSettings::FolderSettings()
    : settings_(std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope,
                                            QStringLiteral("Morlane"), QStringLiteral("Morlane"))) {
}

FolderSettings::FolderSettings(const QString& file)
    : settings_(std::make_unique<QSettings>(file, QSettings::NativeFormat)) {}

FolderSettings::~FolderSettings() = default;

std::string FolderSettings::Remembered() const {
  return FromQString(settings_->value(kWorkingFolderKey).toString());
}

void FolderSettings::Remember(const std::filesystem::path& folder) {
  settings_->setValue(kWorkingFolderKey, ToQString(PathToUtf8(folder)));
  // Written now: a window that is killed rather than closed keeps the choice too.
  settings_->sync();
}

std::filesystem::path FolderSettings::StartFolder() const {
  return morlane::StartFolder(Remembered());
}

}  // namespace morlane::gui
