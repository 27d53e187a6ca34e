// The real devices on Windows, as far as a machine without the unit can show them: the
// search for HID interfaces ends, and what does not lead to a HID device is refused.
#include <gtest/gtest.h>

#include "platform/system_devices.h"

namespace morlane {
namespace {

TEST(SystemDevicesWindows, HidSearchEndsAndBogusPathsAreRefused) {
  std::unique_ptr<HidBackend> hid = MakeSystemHid();
  for (const HidDeviceInfo& device : hid->Enumerate()) EXPECT_FALSE(device.path.empty());
  EXPECT_EQ(hid->Open(""), nullptr);
  EXPECT_EQ(hid->Open("\\\\?\\hid#vid_0590&pid_004b#no-such-device"), nullptr);
  EXPECT_EQ(hid->Open(std::string("NUL\0x", 5)), nullptr);
}

}  // namespace
}  // namespace morlane
