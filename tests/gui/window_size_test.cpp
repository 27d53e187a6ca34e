// The window made larger by the user: the log takes the room, "Clear Log" stays at its
// top-right corner, every other control keeps the template's place, and the start size
// is the smallest the window gets.
#include <gtest/gtest.h>

#include <map>

#include "gui/log_view.h"
#include "ui/control_ids.h"
#include "ui/control_table.h"
#include "ui/log.h"
#include "window_fixture.h"

namespace morlane::gui::test {
namespace {

std::map<int, QRect> Places(const QtWindow& window) {
  std::map<int, QRect> places;
  for (const ControlSpec& control : MainDialogTemplate().controls) {
    if (control.id != 0 && control.shown)
      places[control.id] = window.Control(control.id)->geometry();
  }
  return places;
}

// Resizes as the window manager does and waits until the window has its new size.
bool ResizeTo(QtWindow& window, QSize size, QSize expected) {
  window.resize(size);
  return WaitUntil([&] { return window.size() == expected; }, 2000);
}

int RowsInView(const LogView& log) {
  return log.viewport()->height() / log.RowHeight();
}

TEST(WindowSize, TheLogTakesTheRoomAndTheStartSizeIsTheSmallest) {
  QtWindow window;
  window.show();
  const QSize start = window.StartSize();
  ASSERT_EQ(window.size(), start);
  EXPECT_EQ(window.minimumSize(), start);
  const std::map<int, QRect> before = Places(window);
  LogView& log = window.Log();
  for (int i = 0; i < 400; ++i) AppendLogLine(window, "line " + std::to_string(i));
  log.SyncNow();
  const int topBefore = log.TopRow();
  ASSERT_EQ(topBefore, 400 - RowsInView(log));

  const QSize extra(130, 90);
  ASSERT_TRUE(ResizeTo(window, start + extra, start + extra));
  for (const auto& [id, place] : before) {
    SCOPED_TRACE(id);
    if (id == ctl::kLogList) {
      EXPECT_EQ(window.Control(id)->geometry(),
                place.adjusted(0, 0, extra.width(), extra.height()));
    } else if (id == ctl::kClearLog) {
      EXPECT_EQ(window.Control(id)->geometry(), place.translated(extra.width(), 0));
    } else {
      EXPECT_EQ(window.Control(id)->geometry(), place);
    }
  }
  // Taller, the log shows more of the older lines above the newest, which stays selected
  // and at the bottom.
  EXPECT_GT(RowsInView(log), (before.at(ctl::kLogList).height() + 60) / log.RowHeight());
  EXPECT_EQ(log.TopRow(), 400 - RowsInView(log));
  EXPECT_LT(log.TopRow(), topBefore);
  EXPECT_EQ(log.CurrentRow(), 399);

  // Smaller than the start size is refused: the dialog's layout is the least it shows.
  ASSERT_TRUE(ResizeTo(window, start - QSize(40, 30), start));
  EXPECT_EQ(Places(window), before);
  EXPECT_EQ(log.TopRow(), topBefore);

  // Maximised, the log still ends where the window does, less the template's margin; a
  // later start bringing the window to the front leaves it maximised.
  const QRect logStart = before.at(ctl::kLogList);
  window.showMaximized();
  ASSERT_TRUE(WaitUntil([&] { return window.width() > start.width(); }, 2000));
  window.Activate();
  EXPECT_TRUE(window.isMaximized());
  const QRect logNow = window.Control(ctl::kLogList)->geometry();
  EXPECT_EQ(window.width() - logNow.right(), start.width() - logStart.right());
  EXPECT_EQ(window.height() - logNow.bottom(), start.height() - logStart.bottom());
}

}  // namespace
}  // namespace morlane::gui::test
