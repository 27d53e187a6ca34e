// The hidapi backend on a machine that may have no HID devices at all.
#include "platform/hidapi_backend.h"

#include <gtest/gtest.h>

namespace morlane {
namespace {

TEST(HidapiBackend, RefusesPathsThatAreNoDevice) {
  HidapiBackend backend;
  EXPECT_EQ(backend.Open("/does/not/exist"), nullptr);
  // A second backend shares the library's state and ends without disturbing the first.
  { HidapiBackend second; }
  EXPECT_EQ(backend.Open(""), nullptr);
}

TEST(HidapiBackend, EnumeratesThePresentDevices) {
  HidapiBackend backend;
  std::vector<HidDeviceInfo> devices = backend.Enumerate();
  if (devices.empty()) GTEST_SKIP() << "no HID device on this machine to enumerate";
  for (const HidDeviceInfo& info : devices) EXPECT_FALSE(info.path.empty());
}

}  // namespace
}  // namespace morlane
