// "Open Package..." in the window menu: a signed service package the user's signers file
// trusts is taken (its facts in the log, "Automatic" chosen) and programmed into the
// simulated unit over its serial line; an unsigned one is refused with its reason.
#include <QAction>
#include <QMenu>
#include <QSettings>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "flash/test_image_maker.h"
#include "gui/gui_clock.h"
#include "sim/host_platform.h"
#include "support/process.h"
#include "ui/control_ids.h"
#include "ui/hscroll_listbox.h"
#include "ui/service_panel.h"
#include "window_fixture.h"

namespace morlane::gui::test {
namespace {

using morlane::test::RunProcess;

class OpenPackageTest : public ::testing::Test {
 protected:
  OpenPackageTest() {
    dir.Write("Master.bin", morlane::test::MakeInverterImage({{0x2010, {0x1111, 0x2222}}}));
    dir.Write("Slave.bin", morlane::test::MakeInverterImage({{0x0100, {0x3333}}}));
    RunProcess(
        {"/usr/bin/env", "ssh-keygen", "-q", "-t", "ed25519", "-N", "", "-f", dir.File("release")});
    std::filesystem::create_directories(dir.File("config/morlane"));
    std::vector<uint8_t> pub = dir.Read("release.pub");
    dir.Write("config/morlane/allowed_signers",
              "release@line.example namespaces=\"morlane-package\" " +
                  std::string(pub.begin(), pub.end()));
    // The window trusts the user's signers file, found through the configuration folder.
    setenv("XDG_CONFIG_HOME", dir.File("config").c_str(), 1);
  }
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(platform.Start(true, {}, &error)) << error;
    dialog = std::make_unique<CKestrumDlg>(window, clock, platform.Ports(), platform.HidDevices());
    // A working folder without images: whatever is programmed comes from the package.
    std::filesystem::create_directories(dir.File("work"));
    dialog->workingDir = dir.File("work");
    window.Attach(*dialog);
    dialog->OnInitDialog();
    window.show();
  }
  ~OpenPackageTest() override { unsetenv("XDG_CONFIG_HOME"); }

  void Create(const std::string& name, bool signed_) {
    std::vector<std::string> argv{MORLANE_CLI, "--dir",   dir.Path(), "package",   "create",
                                  name,        "--model", "INV-5K",   "--release", "2.4.1"};
    if (signed_) argv.insert(argv.end(), {"--sign-with", dir.File("release")});
    argv.insert(argv.end(), {"Master.bin", "Slave.bin"});
    ASSERT_EQ(RunProcess(argv).status, 0);
  }

  void OpenFromMenu(const std::string& file) {
    ModalAnswers answers({ChooseFile(file)});
    std::unique_ptr<QMenu> menu = window.MakeWindowMenu();
    for (QAction* action : menu->actions()) {
      if (action->text() == kOpenPackageEntry) {
        action->trigger();
        // The file dialog keeps its last folder in the configuration folder, which is the
        // test's: written now, it is not written there again once the folder is gone.
        QSettings(QSettings::UserScope, QStringLiteral("QtProject")).sync();
        return;
      }
    }
    ADD_FAILURE() << "no Open Package entry";
  }

  std::string Log() {
    std::string text;
    for (int i = 0; i < window.LogList().GetCount(); ++i)
      text += window.LogList().GetText(i) + "\n";
    return text;
  }

  morlane::test::TempDir dir;
  sim::HostPlatform platform;
  QtWindow window;
  GuiClock clock;
  std::unique_ptr<CKestrumDlg> dialog;
};

TEST_F(OpenPackageTest, AnUnsignedPackageIsRefusedAndATrustedOneProgrammed) {
  Create("inv.mlpkg", true);
  Create("unsigned.mlpkg", false);

  OpenFromMenu(dir.File("unsigned.mlpkg"));
  EXPECT_NE(
      Log().find("Package refused: " + dir.File("unsigned.mlpkg") + ": it carries no signature"),
      std::string::npos)
      << Log();
  EXPECT_EQ(dialog->packageChoice.Taken(), nullptr);

  OpenFromMenu(dir.File("inv.mlpkg"));
  const std::string log = Log();
  EXPECT_NE(log.find("Package: " + dir.File("inv.mlpkg") +
                     ", model INV-5K, release 2.4.1, signed by release@line.example SHA256:"),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("Package image: Master.bin for the master"), std::string::npos);
  EXPECT_NE(log.find("Package image: Slave.bin for the slave"), std::string::npos);
  ASSERT_NE(dialog->packageChoice.Taken(), nullptr);
  EXPECT_EQ(dialog->flasher.imageList, (std::vector<std::string>{dir.File("inv.mlpkg/Master.bin"),
                                                                 dir.File("inv.mlpkg/Slave.bin")}));
  EXPECT_EQ(window.GetCheck(ctl::kModeAuto), 1);

  ClickControl(window.Control(ctl::kOpen));
  ClickControl(window.Control(ctl::kAutomatic));
  const std::string run = Log();
  size_t verified = 0;
  for (size_t at = 0; (at = run.find("Flash verified Successful!!", at)) != std::string::npos;
       ++at) {
    ++verified;
  }
  EXPECT_EQ(verified, 2u) << run;
}

}  // namespace
}  // namespace morlane::gui::test
