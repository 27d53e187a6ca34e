// The native window's port list from the system's serial device map, its title with the
// simulated unit, and the CPU question of a firmware file whose path does not say.
#include <gmock/gmock.h>

#include <algorithm>
#include <filesystem>
#include <functional>

#include "app/kestrum_dlg.h"
#include "flash/test_image_maker.h"
#include "platform/utf8_path.h"
#include "sim/host_platform.h"
#include "support/process.h"
#include "ui/control_ids.h"
#include "ui/listed_ports.h"
#include "win/single_instance.h"
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

const std::vector<ImageSection> kImage = {{0x0100, Words(2, 0x6000)}};

// Ports entered in the system's serial device map for the test, as a driver enters
// them, and taken out again.
class DeviceMapEntries {
 public:
  explicit DeviceMapEntries(const std::vector<std::wstring>& names) {
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, nullptr,
                        REG_OPTION_VOLATILE, KEY_SET_VALUE, nullptr, &key_,
                        nullptr) != ERROR_SUCCESS) {
      key_ = nullptr;
      return;
    }
    for (const std::wstring& name : names) {
      const std::wstring value =
          L"\\Device\\MorlaneTest" + name + L"." + std::to_wstring(GetCurrentProcessId());
      if (RegSetValueExW(
              key_, value.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(name.c_str()),
              static_cast<DWORD>((name.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS) {
        values_.push_back(value);
      }
    }
  }
  ~DeviceMapEntries() {
    for (const std::wstring& value : values_) RegDeleteValueW(key_, value.c_str());
    if (key_) RegCloseKey(key_);
  }
  size_t Entered() const { return values_.size(); }

 private:
  HKEY key_ = nullptr;
  std::vector<std::wstring> values_;
};

// Answers the next message box whose Yes button reads "Master", pressing the button of
// that id; the buttons' captions are noted.
void AnswerCpuBox(Win32Window& window, WORD answer, std::vector<std::string>* captions) {
  window.RunLater(50, [&window, answer, captions] {
    HWND box = GetLastActivePopup(window.Handle());
    HWND master = box != window.Handle() ? GetDlgItem(box, IDYES) : nullptr;
    if (!master || !IsWindowVisible(box) || TextOf(master) != "Master") {
      AnswerCpuBox(window, answer, captions);
      return;
    }
    for (int id : {IDYES, IDNO, IDCANCEL}) captions->push_back(TextOf(GetDlgItem(box, id)));
    PostMessageA(box, WM_COMMAND, answer, 0);
  });
}

// Types the name into the open dialog and takes it.
void ChooseFile(Win32Window& window, const std::wstring& name) {
  CloseNextModal(window, [name](HWND box) {
    HWND field = GetDlgItem(box, cmb13) ? GetDlgItem(box, cmb13) : GetDlgItem(box, edt1);
    ASSERT_NE(field, nullptr);
    SetWindowTextW(field, name.c_str());
  });
}

class WinPortCpuTest : public ::testing::Test {
 protected:
  void Make(bool simulate) {
    std::string error;
    ASSERT_TRUE(platform.Start(simulate, {}, &error)) << error;
    listed = WithSystemPorts(platform.Ports());
    dialog = std::make_unique<CKestrumDlg>(window, clock, *listed, platform.HidDevices());
    dialog->listedPorts = listed->Listed();
    dialog->simulatedUnit = simulate;
    dialog->workingDir = PathFromUtf8(dir.Path());
    window.Attach(*dialog);
    dialog->OnInitDialog();
    window.Show();
  }
  ~WinPortCpuTest() override { dialog.reset(); }

  std::vector<std::string> ComboItems() {
    std::vector<std::string> items;
    HWND combo = window.Control(ctl::kInterfaceCombo);
    const auto count = static_cast<int>(SendMessageA(combo, CB_GETCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) items.push_back(window.GetComboText(ctl::kInterfaceCombo, i));
    return items;
  }
  std::vector<std::string> Log() {
    std::vector<std::string> lines;
    for (int i = 0; i < window.LogList().GetCount(); ++i)
      lines.push_back(window.LogList().GetText(i));
    return lines;
  }

  morlane::test::TempDir dir;
  sim::HostPlatform platform;
  Win32Window window{InstanceTag("ports")};
  WinClock clock;
  std::unique_ptr<ListedPortFactory> listed;
  std::unique_ptr<CKestrumDlg> dialog;
};

TEST_F(WinPortCpuTest, EveryPortOfTheDeviceMapIsListedAndOpensAsChosen) {
  DeviceMapEntries mapped({L"COM5", L"COM40"});
  ASSERT_EQ(mapped.Entered(), 2u);
  Make(false);
  const std::vector<std::string> items = ComboItems();
  ASSERT_GE(items.size(), 3u);
  EXPECT_EQ(items[0].rfind("COM", 0), 0u);
  EXPECT_EQ(items[1], "USB");
  EXPECT_EQ(SendMessageA(window.Control(ctl::kInterfaceCombo), CB_GETCURSEL, 0, 0), 0);
  const std::vector<std::string> others(items.begin() + 2, items.end());
  if (items[0] != "COM5") {
    EXPECT_THAT(others, Contains("COM5"));
  }
  EXPECT_THAT(others, Contains("COM40"));
  EXPECT_EQ(TextOf(window.Handle()).find("SIMULATED UNIT"), std::string::npos);

  // COM40 is tried, not the port the search finds; nothing is behind it here.
  const auto chosen = std::find(items.begin(), items.end(), "COM40") - items.begin();
  SendMessageA(window.Control(ctl::kInterfaceCombo), CB_SETCURSEL, static_cast<WPARAM>(chosen), 0);
  Click(window, ctl::kOpen);
  EXPECT_EQ(dialog->session.comPortNumber, 40);
  EXPECT_THAT(Log(), Contains("Can Not Open Com40,Please Modify The INI File to Change Com Port"));
}

TEST_F(WinPortCpuTest, ManualModeAsksForTheCpuOfAPathThatNamesNone) {
  Make(true);
  EXPECT_EQ(TextOf(window.Handle()).rfind("Morlane V1.0 - SIMULATED UNIT - ", 0), 0u);
  dir.Write("fw_\xc3\x9f.bin", MakeInverterImage(kImage));
  Click(window, ctl::kOpen);
  Click(window, ctl::kModeManual);
  ASSERT_TRUE(window.IsControlEnabled(ctl::kSelectFirmware));

  std::vector<std::string> captions;
  ChooseFile(window, L"fw_\u00df");
  AnswerCpuBox(window, IDCANCEL, &captions);
  const size_t lines = Log().size();
  Click(window, ctl::kSelectFirmware);
  EXPECT_EQ(captions, (std::vector<std::string>{"Master", "Slave", "Cancel"}));
  EXPECT_EQ(Log().size(), lines);
  EXPECT_FALSE(window.IsControlEnabled(ctl::kUpdateFirmware));

  ChooseFile(window, L"fw_\u00df");
  AnswerCpuBox(window, IDYES, &captions);
  Click(window, ctl::kSelectFirmware);
  EXPECT_EQ(dialog->selection.cpuTarget, 0);
  EXPECT_THAT(Log(), Contains("beginning burn master cpu ...\n"));
  EXPECT_TRUE(window.IsControlEnabled(ctl::kUpdateFirmware));
}

// A later start finds this window and raises it; one with options has the log say so.
TEST_F(WinPortCpuTest, AStartWithOptionsIsNotedInTheRunningWindowsLog) {
  Make(true);
  const std::string notApplied =
      "Another start with options only brought this window to the front: its options were not "
      "applied (close this window, then start again with them).";
  HWND running = FindRunningInstance(InstanceTag("ports"));
  ASSERT_EQ(running, window.Handle());
  RaiseInstance(running, false);
  RaiseInstance(running, true);
  ASSERT_TRUE(PumpUntil(window, [&] { return !Log().empty() && Log().back() == notApplied; }));
  PumpUntil(
      window, [] { return false; }, 200);
  const std::vector<std::string> log = Log();
  EXPECT_EQ(std::count(log.begin(), log.end(), notApplied), 1);
}

}  // namespace
}  // namespace morlane::win::test
