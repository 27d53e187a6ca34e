// `ports` and `doctor` on a scratch system: /dev, /proc, /sys, /etc and /usr/lib laid out
// in a temporary folder, a technician's identity that does not own the files, and port
// and HID tables that answer as the real ones would.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>

#include "cli/host_report.h"
#include "cli/scratch_host.h"
#include "support/process.h"

namespace morlane {
namespace {

namespace fs = std::filesystem;
using test::SplitLines;
using ::testing::ElementsAre;

constexpr uint32_t kTechUid = 4242;
constexpr uint32_t kTechGid = 4242;

// As a site might write it: blanks around an operator, the modem manager told on a line of
// its own.
const char* kRuleWithIgnore =
    "ACTION==\"remove\", GOTO=\"unit_end\"\n"
    "SUBSYSTEM==\"hidraw\", ATTRS{idVendor}==\"0590\", ATTRS{idProduct}==\"004B\", "
    "TAG+=\"uaccess\"\n"
    "SUBSYSTEM==\"tty\", ATTRS{idVendor}==\"0590\", ATTRS{idProduct}==\"004b\", "
    "ENV{ID_MM_DEVICE_IGNORE} = \"1\"\n"
    "LABEL=\"unit_end\"\n";

// A machine with a USB serial adapter as ttyUSB0 (group "dialout", mode 0660) and the unit
// on USB as hidraw0 (mode 0666), the technician "tech" in group dialout, the rule
// installed. Each test spoils one thing.
class ScratchSystem : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(dir_.Path().empty());
    root_ = dir_.Path();
    port_ = root_ + "/dev/ttyUSB0";
    Write("dev/ttyUSB0", "", 0660);
    Link("dev/serial/by-id/usb-Maker_Adapter_A1B2-if00-port0", "../../ttyUSB0");
    Write("sys/devices/pci0/usb1/1-1/idVendor", "0403\n");
    Write("sys/devices/pci0/usb1/1-1/idProduct", "6001\n");
    Write("sys/devices/pci0/usb1/1-1/serial", "A1B2\n");
    fs::create_directories(root_ + "/sys/devices/pci0/usb1/1-1/1-1:1.0/ttyUSB0");
    Link("sys/class/tty/ttyUSB0/device", "../../../devices/pci0/usb1/1-1/1-1:1.0/ttyUSB0");
    Write("sys/class/hidraw/hidraw0/device/uevent",
          "DRIVER=hid-generic\nHID_ID=0003:00000590:0000004B\nHID_NAME=Unit\n");
    Write("dev/hidraw0", "", 0666);
    SetGroupMembers("tech");
    Write("usr/lib/udev/rules.d/60-morlane.rules", kRuleWithIgnore);
    fs::create_directories(root_ + "/proc/1");
    Write("proc/1/comm", "init\n");
    ports_.entries = {{port_, PortOpenError::None}};
    user_.uid = kTechUid;
    user_.gid = kTechGid;
    user_.groups = {static_cast<uint32_t>(getgid())};
    user_.name = "tech";
  }

  void Write(const std::string& name, const std::string& text, mode_t mode = 0644) {
    fs::path path = root_ + "/" + name;
    fs::create_directories(path.parent_path());
    std::ofstream(path) << text;
    ASSERT_EQ(chmod(path.c_str(), mode), 0);
  }
  void Link(const std::string& name, const std::string& target) {
    fs::path path = root_ + "/" + name;
    fs::create_directories(path.parent_path());
    fs::create_symlink(target, path);
  }
  // The group file names the files' own group "dialout" (whatever id the test runs with).
  void SetGroupMembers(const std::string& members) {
    Write("etc/group",
          "dialout:x:" + std::to_string(getgid()) + ":" + members + "\nusers:x:4242:\n");
  }
  void Run(const std::string& command, const std::string& name, const std::string& holds = "") {
    Write("proc/" + command + "/comm", name + "\n");
    fs::create_directories(root_ + "/proc/" + command + "/fd");
    Link("proc/" + command + "/fd/0", "/dev/null");
    Link("proc/" + command + "/fd/1", "socket:[4021]");
    if (!holds.empty()) Link("proc/" + command + "/fd/3", holds);
  }

  std::vector<std::string> Doctor(int* status) {
    HostInspection inspection(HostRoots::Under(root_), user_);
    return SplitLines(DoctorReport(HostView{ports_, hid_, inspection}, status));
  }
  std::vector<std::string> Ports() {
    HostInspection inspection(HostRoots::Under(root_), user_);
    return SplitLines(PortsReport(HostView{ports_, hid_, inspection}));
  }

  test::TempDir dir_;
  std::string root_;
  std::string port_;
  test::ScratchPorts ports_;
  test::ScratchHid hid_;
  UserIdentity user_;
};

TEST_F(ScratchSystem, PortsTellEachPortsNamesUsbDeviceAndHolderAndTheUnitsNode) {
  Run("4711", "minicom", port_);
  ports_.entries = {{port_, PortOpenError::Busy}, {root_ + "/dev/ttyS0", PortOpenError::NotFound}};
  Write("dev/hidraw0", "", 0600);
  EXPECT_THAT(
      Ports(),
      ElementsAre("COM1 " + port_ + " busy",
                  "  stable name " + root_ + "/dev/serial/by-id/usb-Maker_Adapter_A1B2-if00-port0",
                  "  usb 0403:6001 serial A1B2", "  held by minicom (pid 4711)",
                  "COM2 " + root_ + "/dev/ttyS0 not found", "USB 0590:004b present",
                  "  hid " + root_ + "/dev/hidraw0 permission denied"));
}

TEST_F(ScratchSystem, AllWellWhenTheUserMayOpenEverythingAndTheRuleIsInstalled) {
  // A modem manager is harmless while the rule tells it to leave the unit alone.
  Run("812", "ModemManager");
  int status = -1;
  EXPECT_THAT(Doctor(&status), ElementsAre("all well: nothing stands between tech and the unit"));
  EXPECT_EQ(status, 0);
}

TEST_F(ScratchSystem, PortTheUserMayNotOpenBlocksAndNamesTheGroupToJoin) {
  user_.groups = {};
  SetGroupMembers("");
  int status = -1;
  EXPECT_THAT(Doctor(&status),
              ElementsAre("problem: COM1 " + port_ +
                              ": tech may not open it; it belongs to group dialout, which tech is "
                              "not in: add yourself with: sudo usermod -aG dialout tech, then "
                              "log in again",
                          "1 problem blocks use: fix it as said above"));
  EXPECT_EQ(status, 1);

  // Added to the group, but this login started before.
  SetGroupMembers("anna,tech");
  EXPECT_THAT(Doctor(&status)[0], ::testing::EndsWith(": tech may not open it; tech was added to "
                                                      "group dialout after logging in: log out "
                                                      "and in again (or run: newgrp dialout)"));

  // Only the owner may: joining the group would not help.
  Write("dev/ttyUSB0", "", 0600);
  EXPECT_THAT(Doctor(&status)[0], ::testing::HasSubstr("its mode 0600 lets neither its group "
                                                       "dialout nor others read and write it"));
  EXPECT_EQ(status, 1);
}

TEST_F(ScratchSystem, PortHeldByAnotherProgramBlocksAndNamesIt) {
  Run("4711", "minicom", port_);
  int status = -1;
  EXPECT_THAT(Doctor(&status), ElementsAre("problem: COM1 " + port_ +
                                               " is held by minicom (pid 4711): close that "
                                               "program or its connection to the port",
                                           "1 problem blocks use: fix it as said above"));
  EXPECT_EQ(status, 1);

  // Held by a program of another user, which /proc does not show: the open tells.
  fs::remove_all(root_ + "/proc/4711");
  ports_.entries[0].second = PortOpenError::Busy;
  EXPECT_EQ(Doctor(&status)[0], "problem: COM1 " + port_ +
                                    " is in use by a program you cannot see: find it with: sudo "
                                    "fuser -v " +
                                    port_ + ", and close it");
  EXPECT_EQ(status, 1);
}

TEST_F(ScratchSystem, MissingRuleIsAdviceUntilTheUnitIsThereWithoutAccess) {
  fs::remove(root_ + "/usr/lib/udev/rules.d/60-morlane.rules");
  Run("812", "ModemManager");
  int status = -1;
  EXPECT_THAT(
      Doctor(&status),
      ElementsAre("advice: the udev rule for the unit is not installed, so only root may open its "
                  "USB device: install the morlane package (it puts the rule in "
                  "/usr/lib/udev/rules.d/60-morlane.rules)",
                  "advice: ModemManager (pid 812) is running and may probe the serial ports and "
                  "the unit, holding them and sending modem commands: install the unit's udev "
                  "rule, which tells it to leave the unit alone, or stop it while you work: sudo "
                  "systemctl stop ModemManager",
                  "nothing blocks use: 2 advice above"));
  EXPECT_EQ(status, 0);

  // The unit plugged in: root's alone.
  Write("dev/hidraw0", "", 0600);
  std::vector<std::string> lines = Doctor(&status);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], "problem: the unit's USB device " + root_ +
                          "/dev/hidraw0 cannot be opened by tech: the udev rule that gives it to "
                          "the user at the seat is not installed: install the morlane package (it "
                          "puts the rule in /usr/lib/udev/rules.d/60-morlane.rules), then unplug "
                          "the unit and plug it in again");
  EXPECT_EQ(status, 1);

  // A rule in /etc that sorts after the seat rules gives no access either.
  Write("etc/udev/rules.d/80-unit.rules", kRuleWithIgnore);
  lines = Doctor(&status);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_THAT(lines[0], ::testing::HasSubstr("the udev rule " + root_ +
                                             "/etc/udev/rules.d/80-unit.rules is read after "
                                             "73-seat-late.rules"));
  EXPECT_EQ(status, 1);
}

// What the seat tag leaves behind: the node is root's (0600) and an access list entry
// gives the user at the seat read and write.
TEST_F(ScratchSystem, AccessListEntryGivesTheUserTheUnitsNode) {
  std::string node = root_ + "/dev/hidraw0";
  Write("dev/hidraw0", "", 0600);
  auto entry = [](uint16_t tag, uint16_t perm, uint32_t id) {
    std::string bytes(8, '\0');
    uint8_t raw[8] = {uint8_t(tag), uint8_t(tag >> 8), uint8_t(perm),     uint8_t(perm >> 8),
                      uint8_t(id),  uint8_t(id >> 8),  uint8_t(id >> 16), uint8_t(id >> 24)};
    bytes.assign(reinterpret_cast<char*>(raw), 8);
    return bytes;
  };
  std::string acl = std::string("\x02\0\0\0", 4) + entry(0x01, 6, ~0u) + entry(0x02, 6, kTechUid) +
                    entry(0x04, 0, ~0u) + entry(0x10, 6, ~0u) + entry(0x20, 0, ~0u);
  if (setxattr(node.c_str(), "system.posix_acl_access", acl.data(), acl.size(), 0) != 0)
    GTEST_SKIP() << "this file system keeps no access lists";
  EXPECT_THAT(Ports().back(), "  hid " + node + " can be opened");

  // The same list with a mask that takes writing away refuses it.
  acl = std::string("\x02\0\0\0", 4) + entry(0x01, 6, ~0u) + entry(0x02, 6, kTechUid) +
        entry(0x04, 0, ~0u) + entry(0x10, 4, ~0u) + entry(0x20, 0, ~0u);
  ASSERT_EQ(setxattr(node.c_str(), "system.posix_acl_access", acl.data(), acl.size(), 0), 0);
  EXPECT_THAT(Ports().back(), "  hid " + node + " permission denied");
}

}  // namespace
}  // namespace morlane
