// The log list in the window: lines shown as they come, the newest selected and in view,
// the horizontal range following the extent; worker threads reaching the window.
#include <QElapsedTimer>
#include <QScrollBar>
#include <QThread>

#include <gmock/gmock.h>

#include <atomic>
#include <thread>

#include "gui/log_view.h"
#include "ui/control_ids.h"
#include "ui/hscroll_listbox.h"
#include "ui/log.h"
#include "window_fixture.h"

namespace morlane::gui::test {
namespace {

class LogViewTest : public ::testing::Test {
 protected:
  LogViewTest() : view(window.Log()), list(window.LogList()) { window.show(); }

  int HorizontalRange() { return view.horizontalScrollBar()->maximum(); }
  int Width(const std::string& text) { return list.TextWidth(text); }

  QtWindow window;
  LogView& view;
  CHScrollListBox& list;
};

TEST_F(LogViewTest, AppendedLinesAreShownWithTheNewestSelectedAndInView) {
  for (int i = 0; i < 300; ++i) AppendLogLine(window, "line " + std::to_string(i));
  AppendLogLine(window, "beginning burn master cpu ...\n");
  ASSERT_TRUE(WaitUntil([&] { return view.RowCount() == 301; }));

  ASSERT_EQ(view.RowCount(), 301);
  EXPECT_EQ(view.RowText(7), "line 7");
  // The "\n" stays part of the line; the list shows it as a blank on the same row.
  EXPECT_EQ(view.RowText(300), "beginning burn master cpu ... ");
  EXPECT_EQ(list.GetText(300), "beginning burn master cpu ...\n");

  EXPECT_EQ(view.CurrentRow(), 300);
  const QRect shown = view.viewport()->rect();
  EXPECT_TRUE(shown.contains(view.RowRect(300).topLeft()));
  EXPECT_LE(view.RowRect(300).bottom(), shown.bottom());
  EXPECT_FALSE(shown.intersects(view.RowRect(0)));
  EXPECT_EQ(view.RowRect(300).height(), QFontMetrics(view.font()).height());
}

TEST_F(LogViewTest, AMillionLinesKeepTheExtentAndTheNewestSelected) {
  // A day of command test: the widest line early on still sets the sideways range, and
  // each new line is selected and in view.
  const std::string wide(300, 'W');
  list.InsertString(0, wide);
  for (int i = 1; i < 1000000; ++i) {
    list.InsertString(list.GetCount(), "Q1 answer " + std::to_string(i));
  }
  AppendLogLine(window, "the newest");
  ASSERT_TRUE(WaitUntil([&] { return view.RowCount() == 1000001; }));
  ASSERT_EQ(view.RowCount(), 1000001);
  EXPECT_EQ(view.CurrentRow(), 1000000);
  EXPECT_EQ(list.GetHorizontalExtent(), Width(wide));
  EXPECT_EQ(HorizontalRange(), Width(wide) - view.viewport()->width());
  const int top = view.TopRow();
  EXPECT_EQ(top, 1000001 - view.viewport()->height() / view.RowHeight());
  EXPECT_EQ(view.RowText(top), "Q1 answer " + QString::number(top));
  EXPECT_EQ(view.RowText(1000000), "the newest");
}

TEST_F(LogViewTest, HorizontalRangeFollowsTheExtent) {
  AppendLogLine(window, "short");
  view.SyncNow();
  EXPECT_EQ(list.GetHorizontalExtent(), Width("short"));
  EXPECT_EQ(Width("short"), QFontMetrics(view.font()).horizontalAdvance("short") + 3);
  EXPECT_EQ(HorizontalRange(), 0);

  const std::string wide(200, 'W');
  AppendLogLine(window, wide);
  view.SyncNow();
  const int viewport = view.viewport()->width();
  ASSERT_GT(Width(wide), viewport);
  EXPECT_EQ(HorizontalRange(), Width(wide) - viewport);
  // The widest line is drawn in full: its row is as wide as the extent.
  EXPECT_GE(view.RowRect(1).width(), Width(wide));

  AppendLogLine(window, "narrow again");
  view.SyncNow();
  EXPECT_EQ(HorizontalRange(), Width(wide) - viewport);

  const std::string wider(150, 'W');
  AppendLogLine(window, wider);
  list.DeleteString(1);  // the widest goes: the range shrinks to the next one
  view.SyncNow();
  EXPECT_EQ(list.GetCount(), 3);
  EXPECT_EQ(HorizontalRange(), std::max(0, Width(wider) - viewport));

  list.ResetContent();
  view.SyncNow();
  EXPECT_EQ(HorizontalRange(), 0);
  EXPECT_EQ(view.RowCount(), 0);
  EXPECT_EQ(view.CurrentRow(), -1);
}

TEST_F(LogViewTest, AClickedLineBecomesTheListsSelectionUntilTheNextLine) {
  for (int i = 0; i < 5; ++i) AppendLogLine(window, "line " + std::to_string(i));
  view.SyncNow();
  QRect second = view.RowRect(1);
  QTest::mouseClick(view.viewport(), Qt::LeftButton, Qt::NoModifier,
                    QPoint(10, second.center().y()));
  EXPECT_EQ(list.GetCurSel(), 1);
  EXPECT_EQ(view.CurrentRow(), 1);
  QTest::keyClick(&view, Qt::Key_Down);
  EXPECT_EQ(list.GetCurSel(), 2);
  AppendLogLine(window, "line 5");
  view.SyncNow();
  EXPECT_EQ(list.GetCurSel(), 5);
  EXPECT_EQ(view.CurrentRow(), 5);
}

TEST_F(LogViewTest, WorkerLinesArriveInOrderThroughTheWindowThread) {
  std::atomic<bool> finished{false};
  std::atomic<bool> ranOnWindowThread{false};
  bool seenAfterReturn = true;
  QThread* windowThread = QThread::currentThread();
  std::thread worker([&] {
    for (int i = 0; i < 50; ++i) {
      AppendLogLine(window, "worker " + std::to_string(i));
      // Returned: the window thread has appended it already.
      if (list.GetCount() < i + 1) seenAfterReturn = false;
    }
    window.RunOnWindowThread([&] { ranOnWindowThread = QThread::currentThread() == windowThread; });
    finished = true;
  });
  EXPECT_TRUE(WaitUntil([&] { return finished.load(); }));
  worker.join();
  EXPECT_TRUE(ranOnWindowThread);
  EXPECT_TRUE(seenAfterReturn);
  ASSERT_EQ(list.GetCount(), 50);
  for (int i = 0; i < 50; ++i) EXPECT_EQ(list.GetText(i), "worker " + std::to_string(i));
}

TEST_F(LogViewTest, PendingRequestsAreServedWithinTheWait) {
  // Nothing comes: the wait ends on time.
  QElapsedTimer elapsed;
  elapsed.start();
  window.ProcessPendingRequests(60);
  EXPECT_GE(elapsed.elapsed(), 55);
  EXPECT_LT(elapsed.elapsed(), 1000);

  // A request that comes during the wait ends it once served.
  std::atomic<bool> done{false};
  std::thread worker([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    AppendLogLine(window, "from the worker");
    done = true;
  });
  elapsed.restart();
  window.ProcessPendingRequests(2000);
  EXPECT_LT(elapsed.elapsed(), 1500);
  worker.join();
  EXPECT_TRUE(done);
  EXPECT_EQ(list.GetCount(), 1);
}

TEST(LogWindowEnd, AWaitingWorkerIsLetGoWhenTheWindowGoes) {
  auto window = std::make_unique<QtWindow>();
  QtWindow* target = window.get();
  std::atomic<bool> returned{false};
  bool ran = false;
  std::thread worker([&] {
    target->RunOnWindowThread([&] { ran = true; });
    returned = true;
  });
  // The worker's request is queued; the window ends without serving it.
  QElapsedTimer elapsed;
  elapsed.start();
  while (target->WaitingRequests() == 0 && elapsed.elapsed() < 3000) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  ASSERT_EQ(target->WaitingRequests(), 1);
  window.reset();
  QCoreApplication::processEvents();
  worker.join();
  EXPECT_TRUE(returned);
  EXPECT_FALSE(ran);
}

}  // namespace
}  // namespace morlane::gui::test
