// The station's view as an operator drives it: labels typed into the scan field with
// Enter, the tiles' states, the counters and the focus that stays on the scan field.
#include "gui/station_window.h"

#include <QApplication>
#include <QTest>

#include <gtest/gtest.h>

#include "station/simulated_station.h"
#include "station/station_look.h"
#include "window_fixture.h"

namespace morlane::gui {
namespace {

TEST(StationWindow, ScannedUnitsShowTheirVerdictsAndTheShiftsCounters) {
  morlane::test::TempDir dir;
  morlane::test::SimulatedStation simulated(dir);
  ASSERT_TRUE(simulated.Open());
  Station& station = simulated.Engine();
  RecordStore& store = simulated.Records();
  StationWindow window(station, store, "line1");
  station.Start();
  window.show();
  window.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&window));

  // A scanner types into whatever has the focus: it must be the scan field.
  QTest::keyClicks(QApplication::focusWidget(), QStringLiteral("SN1"));
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
  QTest::keyClicks(QApplication::focusWidget(), QStringLiteral("A SN3"));
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
  EXPECT_EQ(window.Message(), QStringLiteral("slot A is busy with SN1: SN3 not started"));
  QTest::keyClicks(QApplication::focusWidget(), QStringLiteral("B SN2"));
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
  EXPECT_EQ(window.Message(), QString());
  EXPECT_TRUE(test::WaitUntil(
      [&] {
        return window.StateOf(0) == QStringLiteral("PASS") &&
               window.StateOf(1) == QStringLiteral("FAIL erase");
      },
      60000))
      << window.StateOf(0).toStdString() << " / " << window.StateOf(1).toStdString();
  EXPECT_EQ(window.Counters(), QStringLiteral("Passed 1    Failed 1    First-pass yield 50 %"));
  EXPECT_EQ(QApplication::focusWidget(), window.ScanField());
  window.close();
  station.Finish();
  station.Join();
}

// A line's database out of reach does not stop the station; the operator is told on the
// screen, where a window's only reader is.
TEST(StationWindow, ALineDatabaseOutOfReachIsSaidOnTheScreen) {
  morlane::test::TempDir dir;
  morlane::test::SimulatedStation simulated(dir);
  ASSERT_TRUE(simulated.Open("postgresql://127.0.0.1:1/line?connect_timeout=2"));
  Station& station = simulated.Engine();
  StationWindow window(station, simulated.Records(), "line1");
  station.Start();
  window.show();
  window.Type("SN1");
  EXPECT_TRUE(test::WaitUntil(
      [&] { return window.Message().startsWith("the line database cannot be reached"); }, 60000))
      << window.Message().toStdString();
  EXPECT_EQ(window.StateOf(0), QStringLiteral("PASS"));
  window.close();
  station.Finish();
  station.Join();
}

// A failed unit calls the operator over: its tile says why and what to do with the unit,
// and the screen sounds once for the run, however often it redraws; a pass is silent.
TEST(StationWindow, AFailedUnitSaysWhyAndWhatToDoAndSoundsOnce) {
  morlane::test::TempDir dir;
  morlane::test::SimulatedStation simulated(dir);
  simulated.instructions["erase"] = "Put the unit on the rework shelf";
  ASSERT_TRUE(simulated.Open());
  Station& station = simulated.Engine();
  StationWindow window(station, simulated.Records(), "line1");
  int beeps = 0;
  window.beep = [&beeps] { ++beeps; };
  station.Start();
  window.show();
  window.Type("A SN1");
  window.Type("B SN2");
  ASSERT_TRUE(test::WaitUntil(
      [&] { return window.StateOf(0) == "PASS" && window.StateOf(1) == "FAIL erase"; }, 60000))
      << window.StateOf(0).toStdString() << " / " << window.StateOf(1).toStdString();
  for (int i = 0; i < 5; ++i) window.Refresh();
  EXPECT_EQ(beeps, 1);
  EXPECT_EQ(window.Tile(1).Reason(), QStringLiteral("the unit refused the erase"));
  EXPECT_EQ(window.Tile(1).Instruction(), QStringLiteral("Put the unit on the rework shelf"));
  EXPECT_EQ(window.Tile(0).Reason(), QString());

  // The next failure on the same slot sounds again.
  window.Type("B SN3");
  ASSERT_TRUE(
      test::WaitUntil([&] { return window.Counters().startsWith("Passed 1    Failed 2"); }, 60000))
      << window.Counters().toStdString();
  window.Refresh();
  EXPECT_EQ(beeps, 2);
  window.close();
  station.Finish();
  station.Join();
}

// Read from a few metres on a large screen: the unit id and the verdict grow with the
// window; at its smallest every text, the failure's wrapped lines too, is still whole.
TEST(StationWindow, TilesGrowWithTheWindowAndStayWholeAtTheSmallest) {
  morlane::test::TempDir dir;
  morlane::test::SimulatedStation simulated(dir);
  simulated.instructions["erase"] = "Put the unit on the rework shelf";
  ASSERT_TRUE(simulated.Open());
  Station& station = simulated.Engine();
  StationWindow window(station, simulated.Records(), "line1");
  window.beep = [] {};
  station.Start();
  window.show();
  window.Type("B SN-1002");
  ASSERT_TRUE(test::WaitUntil([&] { return window.StateOf(1) == "FAIL erase"; }, 60000))
      << window.StateOf(1).toStdString();

  auto resized = [&window](QSize size) {
    window.resize(size);
    QTest::qWait(50);  // the layout places the tiles after the resize
    return window.size();
  };
  const SlotTile& failed = window.Tile(1);
  const QSize smallest = resized(window.minimumSizeHint());
  EXPECT_TRUE(window.Tile(0).TextsFit() && failed.TextsFit())
      << smallest.width() << "x" << smallest.height();
  const int smallUnit = failed.UnitPixelSize(), smallState = failed.StatePixelSize();
  EXPECT_GE(failed.ReasonPixelSize(), 10);

  resized(QSize(1920, 1080));
  EXPECT_TRUE(window.Tile(0).TextsFit() && failed.TextsFit());
  EXPECT_GE(failed.UnitPixelSize(), 30);
  EXPECT_GE(failed.StatePixelSize(), 60);
  EXPECT_GT(failed.UnitPixelSize(), smallUnit * 3 / 2);
  EXPECT_GT(failed.StatePixelSize(), smallState * 3 / 2);
  window.close();
  station.Finish();
  station.Join();
}

// An approved image that changes under a running shift is a station fault: the banner says
// so across the screen and stays, while the unit that found it shows its own failure.
TEST(StationWindow, AStationFaultShowsItsBanner) {
  morlane::test::TempDir dir;
  morlane::test::SimulatedStation simulated(dir);
  ASSERT_TRUE(simulated.Open());
  Station& station = simulated.Engine();
  StationWindow window(station, simulated.Records(), "line1");
  window.beep = [] {};
  station.Start();
  window.show();
  EXPECT_EQ(window.Banner(), QString());
  dir.Write("slave.bin", morlane::test::MakeInverterImage({{0x0100, morlane::test::Words(2, 3)}}));
  window.Type("A SN1");
  ASSERT_TRUE(test::WaitUntil([&] { return !station.Fault().empty(); }, 60000));
  EXPECT_TRUE(test::WaitUntil([&] { return !window.Banner().isEmpty(); }, 3000));
  EXPECT_EQ(window.Banner(), QString::fromStdString(FaultBanner(station.Fault())));
  EXPECT_TRUE(test::WaitUntil([&] { return window.StateOf(0) == "FAIL image"; }, 3000))
      << window.StateOf(0).toStdString();
  window.close();
  station.Finish();
  station.Join();
}

}  // namespace
}  // namespace morlane::gui
