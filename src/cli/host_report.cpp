// `ports` and `doctor`: what stands between the user and the unit, from the port table,
// the HID devices and the inspection of the system's trees.
#include "cli/host_report.h"

#include <cstdio>

#include "cli/station_ports.h"
#include "link/device_session.h"

namespace morlane {

namespace {

constexpr const char* kModemManager = "ModemManager";
constexpr const char* kRuleInstalledAs = "/usr/lib/udev/rules.d/60-morlane.rules";

struct Port {
  std::string name;
  PortOpenError openError = PortOpenError::None;
  SerialDeviceFacts facts;
  std::string Label() const { return name + " " + facts.path; }
};

// Each COM entry of the table, opened and closed again to learn its state, with what the
// system says about it.
std::vector<Port> InspectPorts(const HostView& host) {
  std::vector<Port> ports;
  std::vector<std::string> paths;
  for (const StationPort& entry : NamedPorts(host.ports)) {
    Port port;
    port.name = entry.name;
    bool opened = host.ports.Open(entry.entry, &port.openError) != nullptr;
    if (opened) port.openError = PortOpenError::None;
    ports.push_back(port);
    paths.push_back(entry.path);
  }
  std::vector<SerialDeviceFacts> facts = host.inspection.SerialDevices(paths);
  for (size_t i = 0; i < ports.size() && i < facts.size(); ++i) ports[i].facts = facts[i];
  return ports;
}

bool UnitOnUsb(HidBackend& hid) {
  for (const HidDeviceInfo& info : hid.Enumerate()) {
    if (info.vendorId == kUnitVendorId && info.productId == kUnitProductId) return true;
  }
  return false;
}

std::vector<UnitHidNode> UnitNodes(const HostView& host) {
  if (!host.lookForHidNodes) return {};
  return host.inspection.UnitHidNodes(kUnitVendorId, kUnitProductId);
}

std::string Holders(const std::vector<DeviceHolder>& holders) {
  std::string text;
  for (const DeviceHolder& holder : holders) {
    if (!text.empty()) text += ", ";
    text += (holder.name.empty() ? "a program" : holder.name) + " (pid " +
            std::to_string(holder.pid) + ")";
  }
  return text;
}

std::string UserText(const UserIdentity& user) {
  return user.name.empty() ? "uid " + std::to_string(user.uid) : user.name;
}

std::string GroupText(const AccessFacts& access) {
  return access.groupName.empty() ? std::to_string(access.groupId) : access.groupName;
}

std::string ModeText(uint32_t mode) {
  char text[8];
  std::snprintf(text, sizeof(text), "%04o", static_cast<unsigned>(mode & 07777));
  return text;
}

struct Finding {
  bool blocks;
  std::string text;
};

// Why this user may not open a serial device, and the fix.
std::string SerialAccessText(const Port& port, const UserIdentity& user) {
  const AccessFacts& access = port.facts.access;
  std::string who = UserText(user);
  std::string group = GroupText(access);
  std::string head = port.Label() + ": " + who + " may not open it; ";
  if (access.access != DeviceAccess::Denied) {
    // The mode bits allow it, yet the system refused: a security module or a list the
    // inspection cannot read.
    return head +
           "the system refuses access although its mode allows it: ask the "
           "administrator why";
  }
  if (!access.groupMayOpen) {
    // udev sets a device's mode and group when it appears: a rule, not chmod, keeps it.
    return head + "its mode " + ModeText(access.mode) + " lets neither its group " + group +
           " nor others read and write it: ask the administrator for a udev rule that gives it "
           "mode 0660 and the group of serial users (dialout)";
  }
  if (user.HasGroup(access.groupId)) {
    return head + "its access list refuses " + who + " although " + who + " is in group " + group +
           ": ask the administrator (getfacl " + port.facts.path + ")";
  }
  if (access.userListedInGroup) {
    return head + who + " was added to group " + group +
           " after logging in: log out and in again (or run: newgrp " + group + ")";
  }
  return head + "it belongs to group " + group + ", which " + who +
         " is not in: add yourself with: sudo usermod -aG " + group + " " + who +
         ", then log in again";
}

// Findings about the serial ports. A port this user cannot open, or that another program
// holds, blocks use: the unit may be on it, and "Open" would pass it over for another.
void CheckPorts(const std::vector<Port>& ports, const UserIdentity& user, bool portsGiven,
                std::vector<Finding>* findings) {
  bool systemChecks = HostInspection::UnixChecksApply();
  const std::string correctGiven =
      portsGiven ? ", or correct the path given with --port or MORLANE_PORTS" : "";
  for (const Port& port : ports) {
    const SerialDeviceFacts& facts = port.facts;
    if (port.openError == PortOpenError::NotFound || facts.access.access == DeviceAccess::Missing) {
      // On Windows the table holds the ports the system lists: one not found was pulled
      // out since, and is no finding.
      if (systemChecks) {
        findings->push_back(
            {true, port.Label() + ": no such device: connect the cable or adapter" + correctGiven});
      }
      continue;
    }
    if (facts.access.access == DeviceAccess::Denied ||
        port.openError == PortOpenError::PermissionDenied) {
      findings->push_back({true, SerialAccessText(port, user)});
    }
    if (!facts.holders.empty()) {
      findings->push_back({true, port.Label() + " is held by " + Holders(facts.holders) +
                                     ": close that program or its connection to the port"});
    } else if (port.openError == PortOpenError::Busy) {
      findings->push_back({true, port.Label() + " is in use by a program you cannot see" +
                                     (systemChecks ? ": find it with: sudo fuser -v " + facts.path +
                                                         ", and close it"
                                                   : ": close the program that has it open")});
    } else if (port.openError == PortOpenError::Unconfigurable) {
      // A port the system listed itself is no path of the user's to correct: the unit's own
      // port can be named instead.
      findings->push_back({true, port.Label() + " is not a serial port: " +
                                     (portsGiven ? "correct the path given with --port or "
                                                   "MORLANE_PORTS"
                                                 : "name the unit's port with --port")});
    } else if (port.openError == PortOpenError::Other) {
      findings->push_back({true, port.Label() +
                                     " cannot be opened: unplug the adapter and plug it in "
                                     "again, then try again"});
    }
  }
}

}  // namespace

// Lines per COM entry and for the unit on USB:
//
//   COM<n> <path> <state>
//     stable name <link in /dev/serial/by-id>
//     usb <vvvv>:<pppp>[ serial <number>]
//     held by <program> (pid <n>)
//   USB 0590:004b <present|absent>
//     hid <node> <can be opened|permission denied>
//
// Fields are separated by single spaces; <state> is the rest of the line: "free", "busy"
// (another program holds the port), "permission denied", "not found", "cannot be
// configured" (not a serial device) or "cannot be opened". The first line of each entry is
// as it always was; the indented lines follow only where the system knows the fact, so a
// reader of the first lines alone is not disturbed.
std::string PortsReport(const HostView& host) {
  std::string out;
  for (const Port& port : InspectPorts(host)) {
    const SerialDeviceFacts& facts = port.facts;
    out += port.Label() + " " + PortOpenErrorText(port.openError) + "\n";
    if (!facts.stableName.empty()) out += "  stable name " + facts.stableName + "\n";
    if (!facts.usbId.empty()) {
      out += "  usb " + facts.usbId;
      if (!facts.usbSerial.empty()) out += " serial " + facts.usbSerial;
      out += "\n";
    }
    for (const DeviceHolder& holder : facts.holders) out += "  held by " + Holders({holder}) + "\n";
  }
  std::vector<UnitHidNode> nodes = UnitNodes(host);
  bool present = UnitOnUsb(host.hid) || !nodes.empty();
  char usb[32];
  std::snprintf(usb, sizeof(usb), "USB %04x:%04x ", kUnitVendorId, kUnitProductId);
  out += std::string(usb) + (present ? "present" : "absent") + "\n";
  for (const UnitHidNode& node : nodes) {
    out += "  hid " + node.path + " " +
           (node.access.access == DeviceAccess::Granted ? "can be opened" : "permission denied") +
           "\n";
  }
  return out;
}

// Each finding is one line, "problem: " when it blocks use and "advice: " when the tool
// works without the fix; the last line sums them up.
//
// Blocking: a serial port of the table that is missing, that this user may not open, that
// another program holds, or that is no serial port (the unit may be behind it, and "Open"
// would take another port instead); the unit on USB with a node this user may not open;
// neither a serial port nor the unit at all.
// Advice: the udev rule not installed or ordered too late (it matters once the unit is
// plugged in, and the serial link needs no rule), the unit not on USB while serial ports
// are there (flash programming needs only the serial link), a modem manager running
// without the rule that tells it to leave the unit alone (it may probe ports and hold them
// for a while, but "Open" passes over a held port).
std::string DoctorReport(const HostView& host, int* status) {
  const HostInspection& inspection = host.inspection;
  const UserIdentity& user = inspection.User();
  bool systemChecks = HostInspection::UnixChecksApply();
  std::vector<Finding> findings;
  std::string out;
  if (!systemChecks) {
    out += "note: the COM ports and the unit's USB device are checked\n";
  }

  std::vector<Port> ports = InspectPorts(host);
  CheckPorts(ports, user, host.portsGiven, &findings);
  int portsThere = 0;
  for (const Port& port : ports) {
    if (port.openError != PortOpenError::NotFound &&
        port.facts.access.access != DeviceAccess::Missing)
      ++portsThere;
  }

  UnitRuleFacts rule;
  if (systemChecks) rule = inspection.UnitRule(kUnitVendorId, kUnitProductId);
  bool ruleInstalled = !rule.files.empty();
  bool ruleSaid = false;

  std::vector<UnitHidNode> nodes = UnitNodes(host);
  bool present = UnitOnUsb(host.hid) || !nodes.empty();
  for (const UnitHidNode& node : nodes) {
    if (node.access.access != DeviceAccess::Denied) continue;
    std::string head =
        "the unit's USB device " + node.path + " cannot be opened by " + UserText(user) + ": ";
    if (!ruleInstalled) {
      findings.push_back({true, head +
                                    "the udev rule that gives it to the user at the seat is "
                                    "not installed: install the morlane package (it puts the "
                                    "rule in " +
                                    kRuleInstalledAs +
                                    "), then unplug the unit and plug it in again"});
      ruleSaid = true;
    } else if (!rule.uaccessTooLate.empty()) {
      findings.push_back({true, head + "the udev rule " + rule.uaccessTooLate +
                                    " is read after 73-seat-late.rules, where its uaccess tag "
                                    "no longer acts: install it as " +
                                    kRuleInstalledAs +
                                    ", then unplug the unit and plug it in again"});
      ruleSaid = true;
    } else if (rule.tagsUaccess) {
      findings.push_back({true, head + "the udev rule gives it to the user logged in at the "
                                       "machine's own seat: log in there (not remotely), then "
                                       "unplug the unit and plug it in again"});
    } else {
      // A rule of the site's own that grants by mode or group, not to this user.
      findings.push_back({true, head + "the udev rule " + rule.files.front() +
                                    " does not give it to " + UserText(user) +
                                    ": install the morlane package (its rule is " +
                                    kRuleInstalledAs +
                                    "), then unplug the unit and plug it in "
                                    "again"});
    }
  }
  if (!present && portsThere > 0) {
    findings.push_back({false,
                        "the unit is not on USB: connect its USB cable for service commands "
                        "and the MCU update (flash programming needs only the serial port)"});
  }
  if (!present && portsThere == 0) {
    findings.push_back({true,
                        "there is no serial port and the unit is not on USB: connect the "
                        "unit by its RS232 cable (or a USB serial adapter) or by USB"});
  }

  if (systemChecks && !ruleSaid) {
    if (!ruleInstalled) {
      findings.push_back({false, std::string("the udev rule for the unit is not installed, so "
                                             "only root may open its USB device: install the "
                                             "morlane package (it puts the rule in ") +
                                     kRuleInstalledAs + ")"});
    } else if (!rule.uaccessTooLate.empty()) {
      findings.push_back({false, "the udev rule " + rule.uaccessTooLate +
                                     " is read after 73-seat-late.rules, where its uaccess "
                                     "tag no longer acts: install it as " +
                                     kRuleInstalledAs});
    }
  }

  if (systemChecks && !rule.ignoresModemManager) {
    std::vector<DeviceHolder> managers = inspection.RunningPrograms(kModemManager);
    if (!managers.empty()) {
      findings.push_back({false, Holders(managers) +
                                     " is running and may probe the serial ports and the unit, "
                                     "holding them and sending modem commands: " +
                                     (ruleInstalled ? "add ENV{ID_MM_DEVICE_IGNORE}=\"1\" to "
                                                      "the unit's udev rule"
                                                    : "install the unit's udev rule, which "
                                                      "tells it to leave the unit alone") +
                                     ", or stop it while you work: sudo systemctl stop "
                                     "ModemManager"});
    }
  }

  int blocking = 0, advice = 0;
  for (const Finding& finding : findings) {
    out += std::string(finding.blocks ? "problem: " : "advice: ") + finding.text + "\n";
    (finding.blocks ? blocking : advice) += 1;
  }
  if (findings.empty()) {
    out += "all well: nothing stands between " + UserText(user) + " and the unit\n";
  } else if (blocking == 0) {
    out += "nothing blocks use: " + std::to_string(advice) + " advice above\n";
  } else {
    out += std::to_string(blocking) + (blocking == 1 ? " problem blocks" : " problems block") +
           " use: fix " + (blocking == 1 ? "it" : "them") + " as said above\n";
  }
  *status = blocking == 0 ? 0 : 1;
  return out;
}

}  // namespace morlane
