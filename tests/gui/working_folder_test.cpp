// The working folder: chosen from the window's menu, shown in the title, where
// "Automatic" looks, and where the next start begins.
#include <QAction>
#include <QDir>
#include <QMenu>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "gui/folder_settings.h"
#include "platform/utf8_path.h"
#include "ui/control_ids.h"
#include "ui/hscroll_listbox.h"
#include "ui/service_panel.h"
#include "window_fixture.h"

namespace morlane::gui::test {
namespace {

class WorkingFolderTest : public DialogWindowTest {
 protected:
  WorkingFolderTest() {
    // A folder the user chose earlier, with no image in it.
    chosen = PathFromUtf8(FromQ(settingsDir.filePath("units \xC3\xBC")));
    std::filesystem::create_directory(chosen);
    window.SetFolderSettings(&settings);
  }

  static std::string FromQ(const QString& text) { return text.toUtf8().toStdString(); }

  void ChooseFromMenu() {
    std::unique_ptr<QMenu> menu = window.MakeWindowMenu();
    for (QAction* action : menu->actions()) {
      if (action->text() == kWorkingFolderEntry) {
        action->trigger();
        return;
      }
    }
    ADD_FAILURE() << "no Working Folder entry";
  }

  QTemporaryDir settingsDir;
  FolderSettings settings{settingsDir.filePath("Morlane.conf")};
  std::filesystem::path chosen;
};

TEST_F(WorkingFolderTest, ChosenFolderIsSearchedShownAndRememberedForTheNextStart) {
  std::filesystem::path askedAt;
  window.SetFolderChooser([&](const std::filesystem::path& start) {
    askedAt = start;
    return std::optional<std::filesystem::path>(chosen);
  });
  ChooseFromMenu();
  EXPECT_EQ(askedAt, std::filesystem::current_path());
  EXPECT_EQ(dialog.workingDir, chosen);
  EXPECT_EQ(FromQ(window.windowTitle()), "Morlane V1.0 - " + PathToUtf8(chosen));

  // "Automatic" searches the chosen folder and names it.
  Click(ctl::kOpen);
  Click(ctl::kAutomatic);
  CHScrollListBox& log = window.LogList();
  std::vector<std::string> lines;
  for (int i = 0; i < log.GetCount(); ++i) lines.push_back(log.GetText(i));
  EXPECT_NE(std::find(lines.begin(), lines.end(),
                      "Images (*.bin) were searched for in " + PathToUtf8(chosen)),
            lines.end());

  // A new start with the same settings begins in it.
  FolderSettings later{settingsDir.filePath("Morlane.conf")};
  EXPECT_EQ(later.StartFolder(), chosen);
  QtWindow next;
  CKestrumDlg nextDialog{next, clock, ports, hid};
  nextDialog.workingDir = later.StartFolder();
  next.Attach(nextDialog);
  EXPECT_EQ(FromQ(next.windowTitle()), "Morlane V1.0 - " + PathToUtf8(chosen));

  // Gone by then, the next start falls back to the current directory.
  std::filesystem::remove(chosen);
  EXPECT_EQ(FolderSettings(settingsDir.filePath("Morlane.conf")).StartFolder(),
            std::filesystem::current_path());
}

TEST_F(WorkingFolderTest, CancelledOrBusyTheFolderStays) {
  dialog.workingDir = std::filesystem::current_path();
  window.SetFolderChooser([](const std::filesystem::path&) { return std::nullopt; });
  ChooseFromMenu();
  EXPECT_EQ(dialog.workingDir, std::filesystem::current_path());
  EXPECT_TRUE(settings.Remembered().empty());

  // While a handler runs (here: the one that pressed "Open") the entry is refused.
  int asked = 0;
  window.SetFolderChooser([&](const std::filesystem::path&) {
    ++asked;
    return std::optional<std::filesystem::path>(chosen);
  });
  window.SetCommandHandler([&](int) { window.ChooseWorkingFolder(); });
  Click(ctl::kOpen);
  EXPECT_EQ(asked, 0);
  EXPECT_EQ(dialog.workingDir, std::filesystem::current_path());
}

}  // namespace
}  // namespace morlane::gui::test
