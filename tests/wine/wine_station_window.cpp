// The Windows window's station run as an operator runs it, under Wine: its two slots are
// COM1 and COM3, which the prefix of the windows maps to two simulated units on
// pseudo-terminals; units are put in and taken out, an image that is not the approved one
// is copied over the slave's, and the window is closed while a unit runs.
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "support/process.h"
#include "support/window_station.h"
#include "wine_programs.h"

namespace morlane {
namespace {

using test::ProcessResult;
using test::RunProcess;
using test::WindowsCli;
using test::WindowsWindow;

constexpr const char* kWinePorts = "HKLM\\Software\\Wine\\Ports";

// A Windows program in the prefix of the windows, in a session on a display of its own
// that ends with it.
ProcessResult OnDisplay(const std::vector<std::string>& args, const std::string& dir = "") {
  std::vector<std::string> argv{MORLANE_WINE_GUI_RUN};
  argv.insert(argv.end(), args.begin(), args.end());
  return RunProcess(argv, dir, 300);  // the first run makes the prefix
}

class WineStationWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!std::filesystem::exists(WindowsWindow())) {
      GTEST_SKIP() << "no Windows window at " << WindowsWindow();
    }
    ASSERT_TRUE(a_.Running() && b_.Running());
    // The prefix's session maps its COM names when it starts: the mapping is made by a
    // session of its own that has ended before the window's starts.
    for (const auto& [name, unit] : {std::pair{"COM1", &a_}, std::pair{"COM3", &b_}}) {
      ProcessResult mapped = OnDisplay(
          {"reg", "add", kWinePorts, "/v", name, "/t", "REG_SZ", "/d", unit->Path(), "/f"});
      ASSERT_EQ(mapped.status, 0) << mapped.out << mapped.err;
      mappedNames_.push_back(name);
    }
  }

  void TearDown() override {
    // A window that a failed run left open keeps its session's server up, and every later
    // program of the prefix would wait for it to end: it is ended first.
    RunProcess({"/usr/bin/env", "WINEPREFIX=" + test::WinePrefix() + "-gui", "wineserver", "-k"},
               "", 60);
    for (const std::string& name : mappedNames_) {
      ProcessResult removed = OnDisplay({"reg", "delete", kWinePorts, "/v", name, "/f"});
      EXPECT_EQ(removed.status, 0) << removed.out << removed.err;
    }
  }

  test::SimProcess a_{MORLANE_UNIT_SIM, {"--taken-out"}};
  test::SimProcess b_{MORLANE_UNIT_SIM, {"--taken-out"}};
  std::vector<std::string> mappedNames_;
  test::TempDir dir_;
};

TEST_F(WineStationWindow, PresenceRunsAnUnapprovedImageAndAClosingWithAUnitRunning) {
  test::WindowStationShift shift(dir_, a_, b_, {"COM1", "COM3"});
  shift.records = [this] {
    ProcessResult list = RunProcess(
        {MORLANE_WINE_RUN, WindowsCli(), "--records", "out", "records", "list", "--json"},
        dir_.Path(), 60);
    EXPECT_EQ(list.status, 0) << list.err;
    return test::SplitLines(list.out);
  };
  std::vector<std::string> argv{MORLANE_WINE_GUI_RUN, WindowsWindow()};
  for (const std::string& argument : shift.WindowArguments()) argv.push_back(argument);
  test::Background window(argv, dir_);
  // The operator closes the window as Windows closes it (its close message): taskkill
  // without /f, in the window's session.
  shift.Drive(window, [] {
    ProcessResult closed =
        RunProcess({"/usr/bin/env", "MORLANE_WINEPREFIX=" + test::WinePrefix() + "-gui",
                    MORLANE_WINE_RUN, "taskkill", "/im", "morlane.exe"},
                   "", 60);
    EXPECT_EQ(closed.status, 0) << closed.out << closed.err;
  });
}

}  // namespace
}  // namespace morlane
