#include "station/station_look.h"

#include <gtest/gtest.h>

#include <ctime>
#include <memory>

#include "support/environment.h"

namespace morlane {
namespace {

// The zone of the machine the window runs on, for one test.
class Zone {
 public:
  explicit Zone(const char* tz)
      : set_(std::make_unique<test::ScopedEnvironment>("TZ", std::string(tz))) {
    tzset();
  }
  ~Zone() {
    set_.reset();
    tzset();
  }

 private:
  std::unique_ptr<test::ScopedEnvironment> set_;
};

TEST(LastRunLine, ShowsTheStartInTheWindowsLocalTime) {
  RunRecord run;
  run.started = "2026-12-08T09:00:00+00:00";  // written by a machine on UTC
  run.startedMs = 1796720400000;
  run.slot = "COM1";
  run.unitId = "SN123";
  run.result = "fail";
  run.failedStep = "erase";
  {
    Zone east("XYZ-05:30");
    EXPECT_EQ(LastRunLine(run), "2026-12-08 14:30:00   COM1   SN123   fail at erase");
  }
  {
    Zone west("ABC+03");
    EXPECT_EQ(LastRunLine(run), "2026-12-08 06:00:00   COM1   SN123   fail at erase");
  }
  // A record without its epoch time shows what it says.
  run.startedMs = 0;
  run.unitId.reset();
  run.failedStep.clear();
  run.result = "pass";
  EXPECT_EQ(LastRunLine(run), "2026-12-08T09:00:00+00:00   COM1   -   pass");
}

}  // namespace
}  // namespace morlane
