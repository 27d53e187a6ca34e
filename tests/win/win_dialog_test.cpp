// The dialog in the native window on the simulated unit inside the process, driven
// through the window's controls as a technician drives it.
#include <gmock/gmock.h>

#include <algorithm>
#include <filesystem>

#include "app/kestrum_dlg.h"
#include "flash/test_image_maker.h"
#include "link/sha256.h"
#include "package/manifest.h"
#include "package/test_signer.h"
#include "package/zip_archive.h"
#include "platform/utf8_path.h"
#include "sim/host_platform.h"
#include "support/process.h"
#include "ui/control_ids.h"
#include "ui/log.h"
#include "win/folder_registry.h"
#include "win/wide_text.h"
#include "win/win_clock.h"
#include "win_fixture.h"

// The open dialog's control ids, after the system headers they need.
#include <dlgs.h>

namespace morlane::win::test {
namespace {

using morlane::test::ImageSection;
using morlane::test::MakeInverterImage;
using morlane::test::Words;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::StartsWith;

// Tiny images: every frame of the bootloader costs 200 ms.
const std::vector<ImageSection> kMaster = {{0x2010, Words(3, 0x4000)}, {0x9000, {0x0102}}};
const std::vector<ImageSection> kSlave = {{0x0100, Words(2, 0x6000)}};

// The window and its dialog on the simulated unit, in a working directory with an image
// for each CPU ("Automatic" takes every image there).
class WinDialogTest : public ::testing::Test {
 protected:
  WinDialogTest() {
    dir.Write("Master.bin", MakeInverterImage(kMaster));
    dir.Write("Slave.bin", MakeInverterImage(kSlave));
    std::filesystem::current_path(dir.Path());
    std::string error;
    EXPECT_TRUE(platform.Start(true, {}, &error)) << error;
    dialog = std::make_unique<CKestrumDlg>(window, clock, platform.Ports(), platform.HidDevices());
    window.Attach(*dialog);
    dialog->OnInitDialog();
    window.Show();
  }
  ~WinDialogTest() override {
    dialog.reset();
    std::filesystem::current_path(previous);
  }

  HWND List() { return window.Control(ctl::kLogList); }

  // The widest line as the list box's font draws it, and the 3 pixels of the list.
  int WidestLine() {
    HDC dc = GetDC(List());
    HGDIOBJ old =
        SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageA(List(), WM_GETFONT, 0, 0)));
    int widest = 0;
    for (int i = 0; i < window.LogList().GetCount(); ++i) {
      const std::wstring line = Wide(window.LogList().TextAt(i));
      SIZE size{};
      GetTextExtentPoint32W(dc, line.data(), static_cast<int>(line.size()), &size);
      widest = std::max(widest, static_cast<int>(size.cx) + 3);
    }
    SelectObject(dc, old);
    ReleaseDC(List(), dc);
    return widest;
  }

  morlane::test::TempDir dir;
  std::filesystem::path previous = std::filesystem::current_path();
  sim::HostPlatform platform;
  Win32Window window{InstanceTag("dialog")};
  WinClock clock;
  std::unique_ptr<CKestrumDlg> dialog;
};

TEST_F(WinDialogTest, AutomaticProgramsBothCpusOfTheSimulatedUnit) {
  EXPECT_EQ(window.GetComboText(ctl::kInterfaceCombo, 0), "COM1");
  SetFocus(window.Control(ctl::kOpen));
  Click(window, ctl::kOpen);
  ASSERT_EQ(dialog->session.sessionState, SessionState::Serial);
  // "Open" went disabled with the focus: it goes on to what comes next, never to "Clear
  // Log", where the next key would empty the log.
  EXPECT_EQ(GetFocus(), window.Control(ctl::kModeAuto));
  EXPECT_EQ(window.GetCheck(ctl::kModeAuto), 1);
  ASSERT_TRUE(window.IsControlEnabled(ctl::kAutomatic));

  // What the window shows while the procedure runs, sampled by a timer of the window.
  int highestBar = 0;
  bool percentShown = false;
  std::function<void()> sample = [&] {
    highestBar = std::max(highestBar, window.GetProgressPos(ctl::kProgressBar));
    percentShown |= window.GetControlText(ctl::kPercentText).ends_with(" %");
    if (window.Busy()) window.RunLater(10, sample);
  };
  window.RunLater(10, sample);
  Click(window, ctl::kAutomatic);

  const CHScrollListBox& log = window.LogList();
  std::vector<std::string> lines;
  for (int i = 0; i < log.GetCount(); ++i) lines.push_back(log.GetText(i));
  EXPECT_THAT(lines, Contains("File flash burn Successful!\n"));
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "Flash verified Successful!!\n"), 2);
  EXPECT_GT(highestBar, 0);
  EXPECT_TRUE(percentShown);

  // The box shows every line, the newest selected, as wide as the widest.
  EXPECT_TRUE(LogShown(window));
  EXPECT_EQ(log.GetCurSel(), log.GetCount() - 1);
  EXPECT_EQ(log.GetHorizontalExtent(), WidestLine());
  AppendLogLine(window, std::string(300, 'W'));
  EXPECT_TRUE(LogShown(window));
  EXPECT_EQ(SendMessageA(List(), LB_GETHORIZONTALEXTENT, 0, 0), WidestLine());
  // Wider than the box: the box scrolls sideways.
  EXPECT_TRUE(GetWindowLongA(List(), GWL_STYLE) & WS_HSCROLL);

  Click(window, ctl::kClearLog);
  EXPECT_TRUE(LogShown(window));
  EXPECT_EQ(SendMessageA(List(), LB_GETCOUNT, 0, 0), 0);
  EXPECT_EQ(SendMessageA(List(), LB_GETHORIZONTALEXTENT, 0, 0), 0);
  EXPECT_FALSE(GetWindowLongA(List(), GWL_STYLE) & WS_HSCROLL);
}

// "Automatic" closes the serial port when it ends: the log says so, Open works again, and
// "Close" is in the system menu whichever view is shown, usable when the button is.
TEST_F(WinDialogTest, AfterAutomaticThePortIsClosedAndTheLogSaysHowToGoOn) {
  HMENU menu = GetSystemMenu(window.Handle(), FALSE);
  auto closeEntryEnabled = [menu] {
    return (GetMenuState(menu, ctl::kCloseLinkCommand, MF_BYCOMMAND) & MF_GRAYED) == 0;
  };
  EXPECT_FALSE(closeEntryEnabled());
  Click(window, ctl::kOpen);
  EXPECT_TRUE(closeEntryEnabled());
  Click(window, ctl::kAutomatic);
  const CHScrollListBox& log = window.LogList();
  ASSERT_GE(log.GetCount(), 3);
  EXPECT_EQ(log.GetText(log.GetCount() - 3),
            "The serial port is closed now: the update closes it when it ends.");
  EXPECT_EQ(log.GetText(log.GetCount() - 2), "Press Open to work with the unit again.");
  EXPECT_TRUE(window.IsControlEnabled(ctl::kOpen));
  EXPECT_FALSE(closeEntryEnabled());

  Click(window, ctl::kOpen);
  ASSERT_TRUE(dialog->serial.IsOpen());
  SendMessageW(window.Handle(), WM_SYSCOMMAND, ctl::kCloseLinkCommand, 0);
  EXPECT_FALSE(dialog->serial.IsOpen());
  EXPECT_EQ(log.GetText(log.GetCount() - 2), "Close Serial MCU OK!");
  EXPECT_TRUE(window.IsControlEnabled(ctl::kOpen));
}

// A working folder and images named in any script: Automatic finds, reads and burns them,
// and the log shows their names as they are, measured as they are drawn.
TEST_F(WinDialogTest, AutomaticInAFolderNamedInAnyScript) {
  const std::string folder = "d\xC3\xBCr \xE6\xB5\x8B\xE8\xAF\x95";  // "dür 测试"
  const std::string slave = "Slave_\xE6\xB5\x8B.bin";                // "Slave_测.bin"
  ASSERT_TRUE(std::filesystem::create_directory(PathFromUtf8(dir.File(folder))));
  dir.Write(folder +
                "/Master_pr\xC3\xBC"
                "f.bin",
            MakeInverterImage(kMaster));
  dir.Write(folder + "/" + slave, MakeInverterImage(kSlave));
  dialog->workingDir = PathFromUtf8(dir.File(folder));
  Click(window, ctl::kOpen);
  ASSERT_EQ(dialog->session.sessionState, SessionState::Serial);
  Click(window, ctl::kAutomatic);

  const CHScrollListBox& log = window.LogList();
  std::vector<std::string> lines;
  for (int i = 0; i < log.GetCount(); ++i) lines.push_back(log.GetText(i));
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "Flash verified Successful!!\n"), 2);
  EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [&](const std::string& line) {
    return line.find(slave) != std::string::npos;
  }));
  EXPECT_TRUE(LogShown(window));
  EXPECT_EQ(log.GetHorizontalExtent(), WidestLine());
}

TEST_F(WinDialogTest, ServiceViewSendsAndRunsTheCommandTest) {
  window.SetServiceView(true);
  Click(window, ctl::kOpen);
  ASSERT_EQ(dialog->session.sessionState, SessionState::Serial);
  const CHScrollListBox& log = window.LogList();
  auto lastLines = [&log](int n) {
    std::vector<std::string> lines;
    for (int i = std::max(log.GetCount() - n, 0); i < log.GetCount(); ++i) {
      lines.push_back(log.GetText(i));
    }
    return lines;
  };

  // Typed into the panel's edit box and sent with its "Send": the unit's answer comes.
  HWND edit = window.Control(ctl::kCommandEdit);
  ASSERT_TRUE(IsWindowVisible(edit));
  SetWindowTextA(edit, "V2");
  Click(window, ctl::kSend);
  EXPECT_THAT(lastLines(3), ElementsAre("Send MCU command", "V2", StartsWith("(V2 01.20")));

  // The command test from the panel, with the enable rules of the hidden controls.
  Click(window, ctl::kStart);
  EXPECT_FALSE(window.IsControlEnabled(ctl::kStart));
  EXPECT_TRUE(window.IsControlEnabled(ctl::kStop));
  auto answered = [&] {
    std::vector<std::string> lines = lastLines(log.GetCount());
    return std::any_of(lines.begin(), lines.end(),
                       [](const std::string& line) { return line.starts_with("(230.1"); });
  };
  EXPECT_TRUE(PumpUntil(window, answered, 10000));
  Click(window, ctl::kStop);
  // Over once the worker has said so and put the buttons back.
  EXPECT_TRUE(PumpUntil(
      window,
      [&] {
        std::vector<std::string> lines = lastLines(2);
        return lines.size() == 2 && lines[0] == "Stop auto send command!";
      },
      10000));
  EXPECT_TRUE(window.IsControlEnabled(ctl::kStart));
  EXPECT_FALSE(window.IsControlEnabled(ctl::kStop));
}

TEST_F(WinDialogTest, EscapeEndsTheDialogWithTheCleanUp) {
  Click(window, ctl::kOpen);
  ASSERT_TRUE(dialog->serial.IsOpen());
  // Escape, as the dialog manager hands it on: the dialog's clean-up, then no window.
  MSG escape{window.Control(ctl::kOpen), WM_KEYDOWN, VK_ESCAPE, 0, 0, {}};
  EXPECT_TRUE(window.PreTranslate(escape));
  EXPECT_TRUE(dialog->Ended());
  EXPECT_FALSE(dialog->serial.IsOpen());
  EXPECT_FALSE(window.Exists());
}

TEST_F(WinDialogTest, FirmwareFileChosenInTheOpenDialog) {
  Click(window, ctl::kOpen);
  Click(window, ctl::kModeManual);
  ASSERT_TRUE(window.IsControlEnabled(ctl::kSelectFirmware));
  const auto before = std::filesystem::current_path();
  // A name typed without its extension, in the working directory the dialog starts in.
  CloseNextModal(window, [](HWND box) {
    HWND name = GetDlgItem(box, cmb13) ? GetDlgItem(box, cmb13) : GetDlgItem(box, edt1);
    ASSERT_NE(name, nullptr);
    SetWindowTextA(name, "Master");
  });
  Click(window, ctl::kSelectFirmware);
  const CHScrollListBox& log = window.LogList();
  ASSERT_GE(log.GetCount(), 3);
  const std::string chosen = log.GetText(log.GetCount() - 3);
  EXPECT_EQ(std::filesystem::path(chosen), std::filesystem::path(dir.File("Master.bin")));
  EXPECT_EQ(log.GetText(log.GetCount() - 2), "beginning burn master cpu ...\n");
  EXPECT_TRUE(window.IsControlEnabled(ctl::kUpdateFirmware));

  // Cancelled, nothing is chosen; either way the working directory stays.
  CloseNextModal(
      window, [](HWND) {}, IDCANCEL);
  const int lines = log.GetCount();
  Click(window, ctl::kSelectFirmware);
  EXPECT_EQ(log.GetCount(), lines);
  EXPECT_EQ(std::filesystem::current_path(), before);
}

// "Working Folder..." in the system menu: the chosen folder is where "Automatic" looks,
// the title shows it, and a later start with the same registry key begins there; once
// the folder is gone, in the current directory.
TEST_F(WinDialogTest, WorkingFolderChosenFromTheSystemMenu) {
  const std::wstring key = L"Software\\Morlane\\Tests-" + std::to_wstring(GetCurrentProcessId());
  const FolderRegistry registry(key);
  window.SetFolderRegistry(&registry);
  const std::string folder = "leer \xC3\xBC";  // "leer ü", no image in it
  ASSERT_TRUE(std::filesystem::create_directory(PathFromUtf8(dir.File(folder))));
  const std::filesystem::path chosen = PathFromUtf8(dir.File(folder)).make_preferred();
  window.SetFolderChooser(
      [&](const std::filesystem::path&) { return std::optional<std::filesystem::path>(chosen); });
  SendMessageW(window.Handle(), WM_SYSCOMMAND, ctl::kWorkingFolderCommand, 0);
  EXPECT_EQ(dialog->workingDir, chosen);
  wchar_t title[1024] = {};
  GetWindowTextW(window.Handle(), title, 1024);
  EXPECT_EQ(Utf8(title), "Morlane V1.0 - " + PathToUtf8(chosen));

  Click(window, ctl::kOpen);
  Click(window, ctl::kAutomatic);
  const CHScrollListBox& log = window.LogList();
  bool named = false;
  for (int i = 0; i < log.GetCount(); ++i) {
    named = named || log.GetText(i) == "Images (*.bin) were searched for in " + PathToUtf8(chosen);
  }
  EXPECT_TRUE(named);

  EXPECT_EQ(FolderRegistry(key).StartFolder(), chosen);
  std::filesystem::remove(chosen);
  EXPECT_EQ(FolderRegistry(key).StartFolder(), std::filesystem::current_path());
  RegDeleteTreeW(HKEY_CURRENT_USER, key.c_str());
}

// "Open Package..." in the system menu: a package signed by a key the user's signers file
// (under %APPDATA%) trusts is taken, and "Automatic" programs both CPUs from it.
TEST_F(WinDialogTest, PackageOpenedFromTheSystemMenuIsProgrammed) {
  package::Ed25519Signer signer;
  package::Manifest manifest;
  manifest.model = "INV-5K";
  manifest.release = "2.4.1";
  std::vector<package::ZipEntry> images;
  for (const char* name : {"Slave.bin", "Master.bin"}) {
    const std::vector<uint8_t> bytes = dir.Read(name);
    Sha256 digest;
    digest.Update(bytes.data(), bytes.size());
    manifest.images.push_back(
        {name, name[0] == 'M' ? "master" : "slave", digest.HexDigest(), bytes.size()});
    images.push_back({name, bytes});
  }
  const std::string text = package::ManifestText(manifest);
  const std::string signature = package::Armor(signer.SignBody(text, "morlane-package"));
  std::vector<package::ZipEntry> entries = {
      {"manifest.json", {text.begin(), text.end()}},
      {"manifest.json.sig", {signature.begin(), signature.end()}}};
  entries.insert(entries.end(), images.begin(), images.end());
  std::string why;
  std::optional<std::vector<uint8_t>> zip =
      package::WriteZip(entries, LocalTime{2026, 12, 9}, &why);
  ASSERT_TRUE(zip) << why;
  dir.Write("inv.mlpkg", *zip);
  ASSERT_TRUE(std::filesystem::create_directories(PathFromUtf8(dir.File("appdata/Morlane"))));
  dir.Write("appdata/Morlane/allowed_signers",
            "release@line.example namespaces=\"morlane-package\" ssh-ed25519 " +
                package::wire::Base64Encode(signer.Key().blob, true) + "\n");
  SetEnvironmentVariableW(L"APPDATA", PathFromUtf8(dir.File("appdata")).wstring().c_str());

  Click(window, ctl::kOpen);
  CloseNextModal(window, [](HWND box) {
    HWND name = GetDlgItem(box, cmb13) ? GetDlgItem(box, cmb13) : GetDlgItem(box, edt1);
    ASSERT_NE(name, nullptr);
    SetWindowTextA(name, "inv.mlpkg");
  });
  SendMessageW(window.Handle(), WM_SYSCOMMAND, ctl::kOpenPackageCommand, 0);
  SetEnvironmentVariableW(L"APPDATA", nullptr);
  const CHScrollListBox& log = window.LogList();
  std::string shown;
  for (int i = 0; i < log.GetCount(); ++i) shown += log.GetText(i) + "|";
  EXPECT_THAT(shown, ::testing::HasSubstr(", model INV-5K, release 2.4.1, signed by "
                                          "release@line.example SHA256:"));
  // Master first, whatever order the manifest lists them in.
  EXPECT_THAT(shown, ::testing::HasSubstr("Package image: Master.bin for the master, "));
  ASSERT_EQ(window.GetCheck(ctl::kModeAuto), 1);

  Click(window, ctl::kAutomatic);
  shown.clear();
  for (int i = 0; i < log.GetCount(); ++i) shown += log.GetText(i) + "|";
  EXPECT_THAT(shown, ::testing::HasSubstr("inv.mlpkg\\Master.bin|bin file OK"));
  EXPECT_THAT(shown, ::testing::HasSubstr("File flash burn Successful!"));
}

TEST_F(WinDialogTest, CloseBoxEndsTheDialogWithTheCleanUp) {
  Click(window, ctl::kOpen);
  ASSERT_TRUE(dialog->serial.IsOpen());
  SendMessageA(window.Handle(), WM_SYSCOMMAND, SC_CLOSE, 0);
  EXPECT_TRUE(dialog->Ended());
  EXPECT_FALSE(dialog->serial.IsOpen());
  EXPECT_FALSE(window.Exists());
}

}  // namespace
}  // namespace morlane::win::test
