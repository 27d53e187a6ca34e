// The native window made larger by the user: the log takes the room, "Clear Log" stays at
// its top-right corner, every other control keeps the template's place, and the start
// size is the smallest the frame lets the window get.
#include <gtest/gtest.h>

#include <map>

#include "ui/control_ids.h"
#include "ui/control_table.h"
#include "ui/log.h"
#include "win/service_view.h"
#include "win_fixture.h"

namespace morlane::win::test {
namespace {

RECT Client(HWND window) {
  RECT client{};
  GetClientRect(window, &client);
  return client;
}

// Where each control of the template that shows stands now.
std::map<int, RECT> Places(const Win32Window& window) {
  std::map<int, RECT> places;
  for (const ControlSpec& control : MainDialogTemplate().controls) {
    if (control.id != 0 && control.shown) places[control.id] = PlaceOf(window.Control(control.id));
  }
  return places;
}

RECT Moved(RECT at, int right, int down, int wider, int taller) {
  return RECT{at.left + right, at.top + down, at.right + right + wider, at.bottom + down + taller};
}

int RowsShown(HWND box) {
  const auto height = static_cast<int>(SendMessageA(box, LB_GETITEMHEIGHT, 0, 0));
  return height > 0 ? Client(box).bottom / height : 0;
}

int TopIndex(HWND box) {
  return static_cast<int>(SendMessageA(box, LB_GETTOPINDEX, 0, 0));
}

class WinWindowSizeTest : public ::testing::Test {
 protected:
  WinWindowSizeTest() { window.Show(); }

  HWND Dialog() { return window.Handle(); }
  // The outer size changed as the user drags the frame's corner.
  void SizeFrameBy(int wider, int taller) {
    RECT outer{};
    GetWindowRect(Dialog(), &outer);
    SetWindowPos(Dialog(), nullptr, 0, 0, outer.right - outer.left + wider,
                 outer.bottom - outer.top + taller, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    PumpUntil(window, [] { return true; });
  }

  Win32Window window{InstanceTag("size")};
};

TEST_F(WinWindowSizeTest, TheLogTakesTheRoomAndTheStartSizeIsTheSmallest) {
  EXPECT_TRUE(StyleOf(Dialog()) & WS_THICKFRAME);
  const SIZE start = StartClientSize(Dialog(), false);
  ASSERT_EQ(Client(Dialog()).right, start.cx);
  ASSERT_EQ(Client(Dialog()).bottom, start.cy);
  const std::map<int, RECT> before = Places(window);
  HWND box = window.Control(ctl::kLogList);
  for (int i = 0; i < 400; ++i) AppendLogLine(window, "line " + std::to_string(i));
  ASSERT_TRUE(LogShown(window));
  const int rowsBefore = RowsShown(box);
  ASSERT_EQ(TopIndex(box), 400 - rowsBefore);

  const int wider = 130, taller = 90;
  SizeFrameBy(wider, taller);
  ASSERT_EQ(Client(Dialog()).right, start.cx + wider);
  ASSERT_EQ(Client(Dialog()).bottom, start.cy + taller);
  for (const auto& [id, place] : before) {
    SCOPED_TRACE(id);
    RECT want = place;
    if (id == ctl::kLogList) want = Moved(place, 0, 0, wider, taller);
    if (id == ctl::kClearLog) want = Moved(place, wider, 0, 0, 0);
    RECT now = PlaceOf(window.Control(id));
    EXPECT_TRUE(EqualRect(&now, &want));
  }
  // Taller, the box shows more of the older lines above the newest, which stays selected
  // and at the bottom.
  EXPECT_GE(RowsShown(box),
            rowsBefore + taller / static_cast<int>(SendMessageA(box, LB_GETITEMHEIGHT, 0, 0)));
  EXPECT_EQ(TopIndex(box), 400 - RowsShown(box));
  EXPECT_EQ(SendMessageA(box, LB_GETCURSEL, 0, 0), 399);

  // Maximised, the log still ends where the window does, less the template's margin.
  const RECT logStart = before.at(ctl::kLogList);
  ShowWindow(Dialog(), SW_MAXIMIZE);
  PumpUntil(window, [] { return true; });
  ASSERT_GT(Client(Dialog()).right, start.cx + wider);
  EXPECT_EQ(PlaceOf(box).right, Client(Dialog()).right - (start.cx - logStart.right));
  EXPECT_EQ(PlaceOf(box).bottom, Client(Dialog()).bottom - (start.cy - logStart.bottom));
  EXPECT_EQ(PlaceOf(window.Control(ctl::kClearLog)).right,
            before.at(ctl::kClearLog).right + Client(Dialog()).right - start.cx);
  ShowWindow(Dialog(), SW_RESTORE);
  PumpUntil(window, [] { return true; });

  // Smaller than the start size is refused: the dialog's layout is the least it shows.
  SizeFrameBy(-wider - 60, -taller - 40);
  EXPECT_EQ(Client(Dialog()).right, start.cx);
  EXPECT_EQ(Client(Dialog()).bottom, start.cy);
  for (const auto& [id, place] : before) {
    RECT now = PlaceOf(window.Control(id));
    EXPECT_TRUE(EqualRect(&now, &place)) << id;
  }
  EXPECT_EQ(TopIndex(box), 400 - rowsBefore);
  EXPECT_TRUE(SelectionInView(box));
}

}  // namespace
}  // namespace morlane::win::test
