// The hidapi backend on a machine that may have no HID devices at all.
#include "platform/hidapi_backend.h"

#include <gtest/gtest.h>

namespace morlane {
namespace {

TEST(HidapiBackend, EnumeratesAndRefusesPathsThatAreNoDevice) {
  HidapiBackend backend;
  for (const HidDeviceInfo& info : backend.Enumerate()) EXPECT_FALSE(info.path.empty());
  EXPECT_EQ(backend.Open("/does/not/exist"), nullptr);
  // A second backend shares the library's state and ends without disturbing the first.
  { HidapiBackend second; }
  EXPECT_EQ(backend.Open(""), nullptr);
}

}  // namespace
}  // namespace morlane
