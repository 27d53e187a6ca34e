// Calendar times as the run records write them, in zones east and west of UTC.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

#include "platform/clock.h"

namespace morlane {
namespace {

TEST(Iso8601LocalTest, OffsetFollowsTheZone) {
  const char* before = std::getenv("TZ");
  std::string saved = before ? before : "";
  auto zone = [](const char* tz) {
    setenv("TZ", tz, 1);
    tzset();
  };
  zone("UTC0");
  EXPECT_EQ(Iso8601Local(0), "1970-01-01T00:00:00+00:00");
  zone("XYZ-05:30");  // east of UTC
  EXPECT_EQ(Iso8601Local(1796720400), "2026-12-08T14:30:00+05:30");
  zone("ABC+03");  // west of UTC, the day before
  EXPECT_EQ(Iso8601Local(1796688000), "2026-12-07T21:00:00-03:00");
  if (before) {
    zone(saved.c_str());
  } else {
    unsetenv("TZ");
    tzset();
  }
}

}  // namespace
}  // namespace morlane
