#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace morlane {

// Where the system's trees are. The inspection reads only below these, so that a test can
// lay out a scratch /dev, /proc, /sys, /etc and /usr/lib in a temporary directory.
struct HostRoots {
  std::string dev = "/dev";
  std::string proc = "/proc";
  std::string sys = "/sys";
  std::string etc = "/etc";
  std::string usrLib = "/usr/lib";

  // The running system's own trees.
  static HostRoots System() { return HostRoots{}; }
  // prefix/dev, prefix/proc, ... for a layout under one folder.
  static HostRoots Under(const std::string& prefix);
};

// Who wants to reach the unit: the ids that the kernel checks a device's access against.
struct UserIdentity {
  uint32_t uid = 0;
  uint32_t gid = 0;
  std::vector<uint32_t> groups;  // supplementary groups of this login
  std::string name;              // login name; empty when the system has none for uid

  // The process's own ids and login name.
  static UserIdentity Current();
  bool HasGroup(uint32_t id) const;
};

// A program that has a device open.
struct DeviceHolder {
  int pid = 0;
  std::string name;  // the program's name as the kernel keeps it (at most 15 characters)
};

enum class DeviceAccess {
  Unknown,  // not judged (the system keeps no such facts)
  Missing,  // no such file
  Granted,  // the user may open it for reading and writing
  Denied,
};

// Who may open a device node, and why this user may not.
struct AccessFacts {
  DeviceAccess access = DeviceAccess::Unknown;
  uint32_t mode = 0;  // permission bits
  uint32_t ownerUid = 0;
  uint32_t groupId = 0;
  std::string groupName;           // from the group file; empty when it has none
  bool groupMayOpen = false;       // members of the owning group may read and write it
  bool userListedInGroup = false;  // the group file names the user as a member
  bool hasAcl = false;             // an access control list beyond the mode bits
};

// What the system knows about one serial device.
struct SerialDeviceFacts {
  std::string path;
  std::string stableName;  // the /dev/serial/by-id link that points at it, if any
  std::string usbId;       // "vvvv:pppp" of the USB device behind it, if any
  std::string usbSerial;   // that USB device's serial number, if it has one
  AccessFacts access;
  std::vector<DeviceHolder> holders;  // programs that have it open, where visible
};

// The port's identity that survives a re-plug, for the run records: its /dev/serial/by-id
// link, else "vvvv:pppp:serial" of the USB adapter behind it (the serial number empty when
// the adapter has none), else "" (a port built into the machine).
std::string StablePortId(const SerialDeviceFacts& facts);

// One hidraw node of the unit's USB interface controller.
struct UnitHidNode {
  std::string path;  // e.g. /dev/hidraw3
  AccessFacts access;
};

// What the installed udev rules say about the unit.
struct UnitRuleFacts {
  std::vector<std::string> files;  // rule files that name the unit's vendor and product
  bool tagsUaccess = false;        // gives the user at the seat access
  bool ignoresModemManager = false;
  // A file that gives access by the seat tag but is ordered where that tag no longer acts.
  std::string uaccessTooLate;
};

// The USB device in a Windows device instance id such as "USB\VID_0403&PID_6001\A1B2C3":
// usbId "0403:6001" and, when the last part is the device's own serial number (Windows
// makes one up with '&' in it for a device without), serial. false when it is no USB id.
bool UsbIdOfInstance(const std::string& instanceId, std::string* usbId, std::string* serial);

// Reads what stands between the user and the unit from the system's trees. Nothing is
// opened for writing, and no device is opened at all.
class HostInspection {
 public:
  HostInspection(HostRoots roots, UserIdentity user);

  // false where groups, udev rules and modem managers are not the system's way (Windows).
  static bool UnixChecksApply();

  const HostRoots& Roots() const { return roots_; }
  const UserIdentity& User() const { return user_; }

  std::vector<SerialDeviceFacts> SerialDevices(const std::vector<std::string>& paths) const;
  std::vector<UnitHidNode> UnitHidNodes(uint16_t vendorId, uint16_t productId) const;
  UnitRuleFacts UnitRule(uint16_t vendorId, uint16_t productId) const;
  // The running programs of this name (as the kernel keeps it), where visible.
  std::vector<DeviceHolder> RunningPrograms(const std::string& name) const;

 private:
  HostRoots roots_;
  UserIdentity user_;
};

}  // namespace morlane
