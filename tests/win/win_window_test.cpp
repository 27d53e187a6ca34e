// The native window as the template builds it, and its handling of clicks, keys, the
// close box, workers and a busy procedure.
#include <gmock/gmock.h>

#include <condition_variable>
#include <future>
#include <mutex>
#include <thread>

#include "ui/control_ids.h"
#include "ui/control_table.h"
#include "ui/log.h"
#include "win/about_box.h"
#include "win/dialog_template.h"
#include "win/single_instance.h"
#include "win/win_clock.h"
#include "win_fixture.h"

namespace morlane::win::test {
namespace {

using ::testing::ElementsAre;

// The class a control is made of and the type in the low bits of its style.
std::pair<std::string, LONG> MadeAs(ControlKind kind) {
  switch (kind) {
    case ControlKind::GroupBox:
      return {"Button", BS_GROUPBOX};
    case ControlKind::ComboBox:
      return {"ComboBox", CBS_DROPDOWNLIST};
    case ControlKind::PushButton:
      return {"Button", BS_PUSHBUTTON};
    case ControlKind::CheckBox:
      return {"Button", BS_AUTOCHECKBOX};
    case ControlKind::ManualCheckBox:
      return {"Button", BS_CHECKBOX};
    case ControlKind::StaticText:
      return {"Static", SS_LEFT};
    case ControlKind::ProgressBar:
      return {PROGRESS_CLASSA, PBS_SMOOTH};
    case ControlKind::ListBox:
      return {"ListBox", 0};
    case ControlKind::Edit:
      return {"Edit", ES_LEFT};
  }
  return {};
}

// A bare window whose commands are recorded with the check mark the handler saw.
class WinWindowTest : public ::testing::Test {
 protected:
  WinWindowTest() {
    window.SetCommandHandler([this](int id) {
      commands.push_back(id);
      marks.push_back(window.GetCheck(id));
    });
    window.Show();
  }

  Win32Window window{InstanceTag("window")};
  std::vector<int> commands;
  std::vector<int> marks;
};

TEST_F(WinWindowTest, EveryTemplateControlStandsAsTheTableSays) {
  HWND dialog = window.Handle();
  const DialogTemplate& main = MainDialogTemplate();
  EXPECT_EQ(TextOf(dialog), "Morlane V1.0");
  RECT client{};
  GetClientRect(dialog, &client);
  RECT expected = Mapped(dialog, 0, 0, main.width, main.height);
  EXPECT_EQ(client.right, expected.right);
  EXPECT_EQ(client.bottom, expected.bottom);
  EXPECT_TRUE(StyleOf(dialog) & WS_MINIMIZEBOX);
  EXPECT_TRUE(StyleOf(dialog) & WS_MAXIMIZEBOX);

  for (const ControlSpec& control : main.controls) {
    if (control.id == 0) continue;
    SCOPED_TRACE(control.id);
    HWND item = window.Control(control.id);
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(window.IsControlShown(control.id), control.shown);
    EXPECT_EQ(window.IsControlEnabled(control.id), control.enabledAtStart);
    EXPECT_EQ(ClassOf(item), MadeAs(control.kind).first);
    if (control.kind != ControlKind::ListBox) {
      EXPECT_EQ(StyleOf(item) & 0x0F, MadeAs(control.kind).second);
    }
    if (control.kind != ControlKind::ComboBox && control.kind != ControlKind::ListBox) {
      EXPECT_EQ(window.GetControlText(control.id), control.caption);
    }
    RECT place = PlaceOf(item);
    RECT want = Mapped(dialog, control.x, control.y, control.width, control.height);
    // Closed, a drop-down combo box is one line high; the template's height is its list.
    if (control.kind == ControlKind::ComboBox) want.bottom = place.bottom;
    EXPECT_TRUE(EqualRect(&place, &want));
  }
  HWND list = window.Control(ctl::kLogList);
  const LONG virtualList = LBS_NODATA | LBS_OWNERDRAWFIXED | LBS_NOTIFY | LBS_NOINTEGRALHEIGHT;
  EXPECT_EQ(StyleOf(list) & (virtualList | LBS_SORT | LBS_HASSTRINGS), virtualList);
  EXPECT_EQ(SendDlgItemMessageA(dialog, ctl::kProgressBar, PBM_GETRANGE, FALSE, 0), 100);
  EXPECT_EQ(SendDlgItemMessageA(dialog, ctl::kCommandEdit, EM_GETLIMITTEXT, 0, 0), 35);
}

TEST_F(WinWindowTest, FontIconsMenuAndInstanceMark) {
  HWND dialog = window.Handle();
  // The template's face where installed, else the system's dialog face.
  auto font = reinterpret_cast<HFONT>(SendMessageA(dialog, WM_GETFONT, 0, 0));
  ASSERT_NE(font, nullptr);
  LOGFONTA used{};
  GetObjectA(font, sizeof used, &used);
  EXPECT_EQ(std::string(used.lfFaceName), window.FontFace());
  EXPECT_EQ(window.FontFace() == "SimSun", FontFamilyInstalled("SimSun"));

  EXPECT_EQ(SendMessageA(dialog, WM_GETICON, ICON_BIG, 0),
            reinterpret_cast<LRESULT>(window.Icon()));
  EXPECT_NE(SendMessageA(dialog, WM_GETICON, ICON_SMALL, 0), 0);

  char entry[64] = {};
  GetMenuStringA(GetSystemMenu(dialog, FALSE), ctl::kAboutCommand, entry, sizeof entry,
                 MF_BYCOMMAND);
  EXPECT_STREQ(entry, "About Tessaly");

  EXPECT_EQ(reinterpret_cast<uintptr_t>(GetPropA(dialog, "Kestrum")), 1u);
  EXPECT_EQ(FindRunningInstance(InstanceTag("window")), dialog);
  EXPECT_EQ(FindRunningInstance(InstanceTag("other")), nullptr);
}

TEST_F(WinWindowTest, AboutBoxFromTheSystemMenu) {
  std::string caption;
  CloseNextModal(window, [&](HWND box) {
    caption = TextOf(box);
    HWND ok = GetDlgItem(box, IDOK);
    ASSERT_NE(ok, nullptr);
    EXPECT_EQ(TextOf(ok), "OK");
    EXPECT_EQ(StyleOf(ok) & 0x0F, BS_DEFPUSHBUTTON);
    RECT place = PlaceOf(ok), want = Mapped(box, 178, 34, 50, 14);
    EXPECT_TRUE(EqualRect(&place, &want));
    HWND icon = GetDlgItem(box, kAboutIconId);
    ASSERT_NE(icon, nullptr);
    EXPECT_NE(SendMessageA(icon, STM_GETICON, 0, 0), 0);
  });
  SendMessageA(window.Handle(), WM_SYSCOMMAND, ctl::kAboutCommand, 0);
  EXPECT_EQ(caption, "About Tessaly");
  EXPECT_TRUE(window.Exists());
}

TEST_F(WinWindowTest, ClicksEnterAndDisabledControls) {
  window.EnableControl(ctl::kModeAuto, true);
  window.EnableControl(ctl::kModeManual, true);
  // "Auto" is marked by its handler, never by the click; "Manual" toggles itself.
  Click(window, ctl::kModeAuto);
  Click(window, ctl::kModeManual);
  Click(window, ctl::kModeManual);
  // Neither a disabled nor a hidden control takes a click, whoever sends it.
  Click(window, ctl::kUpdateFirmware);
  Click(window, ctl::kClose);
  EXPECT_THAT(commands, ElementsAre(ctl::kModeAuto, ctl::kModeManual, ctl::kModeManual));
  EXPECT_THAT(marks, ElementsAre(0, 1, 0));

  // Enter is the dialog's own command even on a focused button.
  commands.clear();
  SetFocus(window.Control(ctl::kOpen));
  MSG enter{window.Control(ctl::kOpen), WM_KEYDOWN, VK_RETURN, 0, 0, {}};
  EXPECT_TRUE(window.PreTranslate(enter));
  EXPECT_THAT(commands, ElementsAre(IDOK));
}

TEST_F(WinWindowTest, BusyWindowKeepsPaintingButTakesNoInput) {
  WinClock clock;
  bool timerRan = false;
  HWND list = window.Control(ctl::kLogList);
  window.SetCommandHandler([&](int id) {
    commands.push_back(id);
    if (id != ctl::kOpen) return;
    // A procedure that logs and waits, and meanwhile is clicked at and closed.
    AppendLogLine(window, "first");
    AppendLogLine(window, "second");
    HWND clear = window.Control(ctl::kClearLog);
    PostMessageA(clear, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(4, 4));
    PostMessageA(clear, WM_LBUTTONUP, 0, MAKELPARAM(4, 4));
    PostMessageA(window.Handle(), WM_KEYDOWN, VK_ESCAPE, 0);
    SendMessageA(window.Handle(), WM_SYSCOMMAND, SC_CLOSE, 0);
    SendMessageA(window.Handle(), WM_CLOSE, 0, 0);
    window.RunLater(5, [&] { timerRan = true; });
    RedrawWindow(list, nullptr, nullptr, RDW_INVALIDATE);
    clock.SleepMs(80);
    // The window was served while the procedure waited.
    EXPECT_TRUE(timerRan);
    EXPECT_FALSE(GetUpdateRect(list, nullptr, FALSE));
    EXPECT_EQ(SendMessageA(list, LB_GETCURSEL, 0, 0), 1);
  });
  Click(window, ctl::kOpen);
  EXPECT_FALSE(window.Busy());
  PumpUntil(
      window, [] { return false; }, 50);
  // Neither the click on "Clear Log" nor Escape nor the close arrived, then or later.
  EXPECT_TRUE(window.Exists());
  EXPECT_THAT(commands, ElementsAre(ctl::kOpen));
  EXPECT_EQ(window.LogList().GetCount(), 2);
  // Once the handler returned, input is taken again.
  Click(window, ctl::kClearLog);
  EXPECT_THAT(commands, ElementsAre(ctl::kOpen, ctl::kClearLog));
}

TEST_F(WinWindowTest, WorkerRequestsAreCarriedOutOnTheWindowThread) {
  constexpr int kLines = 40;
  std::thread worker([this] {
    for (int i = 0; i < kLines; ++i) AppendLogLine(window, "worker line " + std::to_string(i));
  });
  EXPECT_TRUE(PumpUntil(window, [&] { return window.LogList().GetCount() == kLines; }));
  worker.join();
  EXPECT_TRUE(LogShown(window));

  // A waiting worker is let go when the window goes; its request is dropped.
  bool ran = false;
  auto late =
      std::async(std::launch::async, [&] { window.RunOnWindowThread([&ran] { ran = true; }); });
  for (int i = 0; i < 200 && window.WaitingRequests() == 0; ++i) Sleep(5);
  ASSERT_EQ(window.WaitingRequests(), 1);
  SendMessageA(window.Handle(), WM_CLOSE, 0, 0);
  EXPECT_FALSE(window.Exists());
  EXPECT_EQ(late.wait_for(std::chrono::seconds(5)), std::future_status::ready);
  EXPECT_FALSE(ran);
}

TEST_F(WinWindowTest, LinesComingFastAreShownInBatches) {
  // A procedure logging a line between short waits: the box is brought up to date a few
  // times, not once per line (which costs milliseconds of redrawing every time).
  WinClock clock;
  const ULONGLONG started = GetTickCount64();
  for (int i = 0; i < 3000; ++i) {
    AppendLogLine(window, "answer " + std::to_string(i));
    clock.SleepMs(0);
  }
  EXPECT_LT(GetTickCount64() - started, 3000u);
  EXPECT_TRUE(LogShown(window));
}

TEST(WinClockWaits, OnTheWindowThreadTheWindowIsServedMeanwhile) {
  Win32Window window(InstanceTag("clock"));
  WinClock clock;
  std::mutex mutex;
  std::condition_variable changed;
  bool ready = false;
  // Set by the window thread itself: only a wait that serves the window sees it.
  window.RunLater(20, [&] {
    std::lock_guard lock(mutex);
    ready = true;
    changed.notify_all();
  });
  const ULONGLONG started = GetTickCount64();
  std::unique_lock lock(mutex);
  EXPECT_TRUE(clock.WaitFor(changed, lock, 2000, [&] { return ready; }));
  EXPECT_LT(GetTickCount64() - started, 1000u);
  EXPECT_TRUE(lock.owns_lock());
  const ULONGLONG again = GetTickCount64();
  EXPECT_FALSE(clock.WaitFor(changed, lock, 50, [] { return false; }));
  EXPECT_GE(GetTickCount64() - again, 45u);
}

}  // namespace
}  // namespace morlane::win::test
