// The USB device behind a Windows COM port, as its device instance id names it.
#include <gtest/gtest.h>

#include "platform/host_inspection.h"

namespace morlane {
namespace {

TEST(UsbIdOfInstance, VendorProductAndOnlyARealSerialNumber) {
  std::string usbId, serial = "stale";
  ASSERT_TRUE(UsbIdOfInstance("USB\\VID_0403&PID_6001\\A1b2C3", &usbId, &serial));
  EXPECT_EQ(usbId, "0403:6001");
  EXPECT_EQ(serial, "A1b2C3");  // as the device gives it

  // One interface of a composite device: Windows makes the last part up.
  ASSERT_TRUE(UsbIdOfInstance("usb\\vid_2341&pid_004B&mi_00\\6&2a3b&0&0000", &usbId, &serial));
  EXPECT_EQ(usbId, "2341:004b");
  EXPECT_EQ(serial, "");

  EXPECT_FALSE(UsbIdOfInstance("FTDIBUS\\VID_0403+PID_6001+A1B2C3A\\0000", &usbId, &serial));
  EXPECT_FALSE(UsbIdOfInstance("USB\\VID_04&PID_6001\\X", &usbId, &serial));
  EXPECT_FALSE(UsbIdOfInstance("USB\\ROOT_HUB30\\4&1a&0&0", &usbId, &serial));
}

}  // namespace
}  // namespace morlane
