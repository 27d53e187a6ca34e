// The station's view in the Windows window as an operator drives it: a scanner types into
// whatever has the keyboard focus and presses Enter; the tiles, the refusals and the
// counters answer, and the focus stays on the scan field.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "station/simulated_station.h"
#include "win/station_view.h"
#include "win/wide_text.h"

namespace morlane::win::test {
namespace {

// The texts of the view's controls, as a screen reader or a look at it finds them.
std::vector<std::string> Texts(HWND window) {
  std::vector<std::string> texts;
  EnumChildWindows(
      window,
      [](HWND child, LPARAM found) {
        wchar_t text[256] = {};
        GetWindowTextW(child, text, 256);
        reinterpret_cast<std::vector<std::string>*>(found)->push_back(Utf8(text));
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&texts));
  return texts;
}

bool Shows(HWND window, const std::string& text) {
  for (const std::string& shown : Texts(window)) {
    if (shown == text) return true;
  }
  return false;
}

template <typename Done>
bool PumpUntil(Done done, int ms) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  for (;;) {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    if (done()) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
  }
}

// A keyboard-wedge scanner: the label's characters and Enter, to the focused control.
void Scan(const std::string& label) {
  for (wchar_t c : Wide(label)) PostMessageW(GetFocus(), WM_CHAR, c, 1);
  PostMessageW(GetFocus(), WM_CHAR, L'\r', 1);
  PumpUntil([] { return false; }, 100);
}

TEST(StationView, ScannedLabelsStartTheirSlotsAndTheFocusStaysOnTheScanField) {
  morlane::test::TempDir dir;
  morlane::test::SimulatedStation simulated(dir);
  ASSERT_TRUE(simulated.Open());
  Station& station = simulated.Engine();
  {
    StationView view(station, simulated.Records(), "line1");
    int beeps = 0;
    view.onFailure = [&beeps] { ++beeps; };
    station.Start();
    view.Show(SW_SHOWNORMAL);
    HWND scanField = GetFocus();
    ASSERT_NE(scanField, nullptr);
    // Maximised on a line's screen, the tiles' texts grow with them.
    const int unitText = view.UnitTextHeight();
    const int stateText = view.StateTextHeight();
    MoveWindow(view.Handle(), 0, 0, 1920, 1080, TRUE);
    EXPECT_GE(view.UnitTextHeight(), 2 * unitText);
    EXPECT_GE(view.StateTextHeight(), 2 * stateText);

    Scan("SN1");
    Scan("A SN3");
    EXPECT_TRUE(Shows(view.Handle(), "slot A is busy with SN1: SN3 not started"));
    // A label longer than the field's old buffer reaches the station whole, and is refused.
    Scan("B " + std::string(600, '7'));
    EXPECT_TRUE(Shows(view.Handle(),
                      "a label of 600 characters is no unit id (at most 128): "
                      "not started"));
    Scan("B SN2");
    EXPECT_FALSE(Shows(view.Handle(), "slot A is busy with SN1: SN3 not started"));
    EXPECT_TRUE(PumpUntil(
        [&] { return Shows(view.Handle(), "PASS") && Shows(view.Handle(), "FAIL erase"); }, 60000));
    EXPECT_TRUE(PumpUntil(
        [&] { return Shows(view.Handle(), "Passed 1    Failed 1    First-pass yield 50 %"); },
        5000));
    // The failure in words, sounded once however often the tile is drawn again.
    EXPECT_TRUE(Shows(view.Handle(), "the unit refused the erase"));
    PumpUntil([] { return false; }, 600);
    EXPECT_EQ(beeps, 1);
    EXPECT_EQ(GetFocus(), scanField);
    wchar_t left[64] = {};
    GetWindowTextW(scanField, left, 64);
    EXPECT_EQ(std::wstring(left), L"");  // each Enter empties the field for the next label

    // Windows shutting down with a unit mid-burn: the session is asked to wait, and when it
    // ends all the same, the unit is stopped and its run kept before the window goes.
    Scan("SN4");
    ASSERT_TRUE(PumpUntil([&] { return station.Busy(); }, 5000));
    // An approved image replaced while A's unit runs: B's unit is refused it, and the
    // station's fault stands across the top of the screen.
    dir.Write("slave.bin",
              morlane::test::MakeInverterImage({{0x0100, morlane::test::Words(2, 9)}}));
    Scan("B SN5");
    EXPECT_TRUE(PumpUntil(
        [&] {
          for (const std::string& text : Texts(view.Handle())) {
            if (text.rfind("STATION FAULT: an approved image changed: ", 0) == 0) return true;
          }
          return false;
        },
        10000));
    EXPECT_EQ(beeps, 2);
    ASSERT_TRUE(station.Busy());
    EXPECT_EQ(SendMessageW(view.Handle(), WM_QUERYENDSESSION, 0, 0), FALSE);
    EXPECT_TRUE(Shows(view.Handle(), "Stopping: the running units finish first"));
    SendMessageW(view.Handle(), WM_ENDSESSION, TRUE, 0);
    EXPECT_FALSE(station.Busy());
    EXPECT_TRUE(PumpUntil([&] { return !IsWindow(view.Handle()); }, 10000));
  }
  station.Finish();
  station.Join();
  std::string why;
  std::vector<RunRecord> runs = simulated.Records().List(RunFilter{}, &why);
  ASSERT_EQ(runs.size(), 4u) << why;
}

}  // namespace
}  // namespace morlane::win::test
