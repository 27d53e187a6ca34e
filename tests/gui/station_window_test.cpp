// The station's view as an operator drives it: labels typed into the scan field with
// Enter, the tiles' states, the counters and the focus that stays on the scan field.
#include "gui/station_window.h"

#include <QApplication>
#include <QTest>

#include <gtest/gtest.h>

#include "station/simulated_station.h"
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

}  // namespace
}  // namespace morlane::gui
