// Clicks, keys and the close box reaching the dialog; a busy window refusing input.
#include <QCloseEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QScrollBar>

#include <gmock/gmock.h>

#include <condition_variable>
#include <mutex>

#include "gui/gui_clock.h"
#include "gui/log_view.h"
#include "ui/control_ids.h"
#include "ui/hscroll_listbox.h"
#include "ui/log.h"
#include "window_fixture.h"

namespace morlane::gui::test {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

// A bare window whose clicks are recorded with the check mark seen by the handler.
class RecordingWindowTest : public ::testing::Test {
 protected:
  RecordingWindowTest() {
    window.SetCommandHandler([this](int id) {
      commands.push_back(id);
      marks.push_back(window.GetCheck(id));
    });
    window.show();
  }
  QtWindow window;
  std::vector<int> commands;
  std::vector<int> marks;
};

TEST_F(RecordingWindowTest, AutoIsNotToggledByItsClickManualIs) {
  window.EnableControl(ctl::kModeAuto, true);
  window.EnableControl(ctl::kModeManual, true);
  ClickControl(window.Control(ctl::kModeAuto));
  ClickControl(window.Control(ctl::kModeManual));
  ClickControl(window.Control(ctl::kModeManual));
  EXPECT_THAT(commands, ElementsAre(ctl::kModeAuto, ctl::kModeManual, ctl::kModeManual));
  EXPECT_THAT(marks, ElementsAre(0, 1, 0));
}

TEST_F(RecordingWindowTest, DisabledAndHiddenControlsTakeNoClick) {
  ClickControl(window.Control(ctl::kUpdateFirmware));  // disabled at start
  ClickControl(window.Control(ctl::kModeAuto));
  EXPECT_THAT(commands, IsEmpty());
  ClickControl(window.Control(ctl::kClearLog));
  EXPECT_THAT(commands, ElementsAre(ctl::kClearLog));
}

TEST_F(RecordingWindowTest, EnterDoesNothingEvenOnAFocusedButton) {
  window.Control(ctl::kOpen)->setFocus();
  QTest::keyClick(window.Control(ctl::kOpen), Qt::Key_Return);
  QTest::keyClick(window.Control(ctl::kOpen), Qt::Key_Enter);
  // Only the dialog's own Enter command, which has an empty handler.
  EXPECT_THAT(commands, ElementsAre(CKestrumDlg::kIdOk, CKestrumDlg::kIdOk));
  EXPECT_TRUE(window.isVisible());
}

TEST_F(RecordingWindowTest, BusyWindowKeepsPaintingButTakesNoInput) {
  GuiClock clock;
  bool timerRan = false;
  bool closeTaken = true;
  window.SetCommandHandler([&](int id) {
    commands.push_back(id);
    if (id != ctl::kOpen) return;
    // A procedure that logs, sleeps, and meanwhile is clicked at and closed.
    AppendLogLine(window, "first");
    AppendLogLine(window, "second");
    QWidget* clear = window.Control(ctl::kClearLog);
    QPoint centre = clear->rect().center();
    QCoreApplication::postEvent(
        clear, new QMouseEvent(QEvent::MouseButtonPress, centre, clear->mapToGlobal(centre),
                               Qt::LeftButton, Qt::LeftButton, Qt::NoModifier));
    QCoreApplication::postEvent(
        clear, new QMouseEvent(QEvent::MouseButtonRelease, centre, clear->mapToGlobal(centre),
                               Qt::LeftButton, Qt::NoButton, Qt::NoModifier));
    QCoreApplication::postEvent(&window,
                                new QKeyEvent(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier));
    QTimer::singleShot(5, [&] { timerRan = true; });
    closeTaken = window.close();
    clock.SleepMs(80);
    // What the window shows has followed the procedure while it waited.
    EXPECT_TRUE(timerRan);
    EXPECT_EQ(window.Log().CurrentRow(), 1);
  });
  ClickControl(window.Control(ctl::kOpen));
  EXPECT_FALSE(closeTaken);
  EXPECT_TRUE(window.isVisible());
  EXPECT_FALSE(window.Busy());
  QCoreApplication::processEvents();
  // Neither the click on "Clear Log" nor Escape arrived, then or later.
  EXPECT_THAT(commands, ElementsAre(ctl::kOpen));
  EXPECT_EQ(window.LogList().GetCount(), 2);
  // Once the handler returned, input is taken again.
  ClickControl(window.Control(ctl::kClearLog));
  EXPECT_THAT(commands, ElementsAre(ctl::kOpen, ctl::kClearLog));
}

TEST_F(RecordingWindowTest, EndRequestedDuringAHandlerWaitsForIt) {
  window.SetCommandHandler([&](int id) {
    commands.push_back(id);
    window.RequestClose();
    EXPECT_TRUE(window.isVisible());
  });
  ClickControl(window.Control(ctl::kClearLog));
  EXPECT_TRUE(window.isVisible());
  EXPECT_TRUE(WaitUntil([&] { return !window.isVisible(); }));
}

TEST(GuiClockWaits, OnTheWindowThreadTheWindowIsServedMeanwhile) {
  GuiClock clock;
  std::mutex mutex;
  std::condition_variable changed;
  bool ready = false;
  // Set by the window thread itself: only a wait that serves the window sees it.
  QTimer::singleShot(20, [&] {
    std::lock_guard lock(mutex);
    ready = true;
    changed.notify_all();
  });
  QElapsedTimer elapsed;
  elapsed.start();
  std::unique_lock lock(mutex);
  EXPECT_TRUE(clock.WaitFor(changed, lock, 2000, [&] { return ready; }));
  EXPECT_LT(elapsed.elapsed(), 1000);
  EXPECT_TRUE(lock.owns_lock());
  // Nothing comes: the wait ends on time with the answer false.
  elapsed.restart();
  EXPECT_FALSE(clock.WaitFor(changed, lock, 50, [] { return false; }));
  EXPECT_GE(elapsed.elapsed(), 45);
  EXPECT_LT(elapsed.elapsed(), 1000);
}

TEST_F(DialogWindowTest, ModePairFollowsTheSession) {
  Click(ctl::kOpen);
  ASSERT_EQ(dialog.session.sessionState, SessionState::Serial);
  EXPECT_EQ(window.GetCheck(ctl::kModeAuto), 1);
  EXPECT_TRUE(window.IsControlEnabled(ctl::kAutomatic));
  Click(ctl::kModeManual);
  EXPECT_EQ(window.GetCheck(ctl::kModeAuto), 0);
  EXPECT_EQ(window.GetCheck(ctl::kModeManual), 1);
  EXPECT_TRUE(window.IsControlEnabled(ctl::kSelectFirmware));
  EXPECT_FALSE(window.IsControlEnabled(ctl::kAutomatic));
  Click(ctl::kModeAuto);
  EXPECT_EQ(window.GetCheck(ctl::kModeAuto), 1);
  EXPECT_EQ(window.GetCheck(ctl::kModeManual), 0);
  EXPECT_FALSE(window.IsControlEnabled(ctl::kSelectFirmware));
  EXPECT_TRUE(window.IsControlEnabled(ctl::kAutomatic));
}

TEST_F(DialogWindowTest, ClearLogEmptiesTheListAndItsScrollRange) {
  Click(ctl::kOpen);
  AppendLogLine(window, std::string(400, 'x'));
  window.Log().SyncNow();
  ASSERT_GT(window.Log().horizontalScrollBar()->maximum(), 0);
  Click(ctl::kClearLog);
  EXPECT_EQ(window.Log().RowCount(), 0);
  EXPECT_EQ(window.LogList().GetHorizontalExtent(), 0);
  EXPECT_EQ(window.Log().horizontalScrollBar()->maximum(), 0);
}

TEST_F(DialogWindowTest, EscapeEndsTheDialogWithTheCleanUp) {
  Click(ctl::kOpen);
  ASSERT_TRUE(dialog.serial.IsOpen());
  QTest::keyClick(&window, Qt::Key_Escape);
  EXPECT_TRUE(dialog.Ended());
  EXPECT_FALSE(dialog.serial.IsOpen());
  EXPECT_FALSE(window.isVisible());
}

TEST_F(DialogWindowTest, CloseBoxEndsTheDialogWithTheCleanUp) {
  Click(ctl::kOpen);
  ASSERT_TRUE(dialog.serial.IsOpen());
  EXPECT_TRUE(window.close());
  EXPECT_TRUE(dialog.Ended());
  EXPECT_FALSE(dialog.serial.IsOpen());
  EXPECT_FALSE(window.isVisible());
}

TEST_F(DialogWindowTest, AboutBoxFromF1AndTheWindowMenu) {
  ModalCloser closer;
  QTest::keyClick(&window, Qt::Key_F1);
  std::unique_ptr<QMenu> menu = window.MakeWindowMenu();
  ASSERT_EQ(menu->actions().size(), 5);
  EXPECT_EQ(menu->actions()[0]->text(), "About Tessaly");
  EXPECT_EQ(menu->actions()[1]->text(), "Service View");
  EXPECT_EQ(menu->actions()[2]->text(), "Close Link");
  EXPECT_EQ(menu->actions()[3]->text(), "Working Folder...");
  EXPECT_EQ(menu->actions()[4]->text(), "Open Package...");
  menu->actions()[0]->trigger();
  EXPECT_THAT(closer.titles, ElementsAre("About Tessaly", "About Tessaly"));
  EXPECT_FALSE(dialog.Ended());
  EXPECT_TRUE(window.isVisible());
}

TEST_F(DialogWindowTest, ProtectSectionWarningInAModalBox) {
  ModalCloser closer;
  window.SetCheck(ctl::kProtectSection, 1);
  window.SetCommandHandler([this](int id) { dialog.OnCommand(id); });
  dialog.OnCommand(ctl::kProtectSection);
  ASSERT_EQ(closer.titles.size(), 1u);
  EXPECT_EQ(closer.titles[0], "Morlane V1.0");
  EXPECT_NE(closer.texts[0].find("BE CAREFUL! This function will damage the unit if your update "
                                 "process has terminated"),
            std::string::npos);
}

}  // namespace
}  // namespace morlane::gui::test
