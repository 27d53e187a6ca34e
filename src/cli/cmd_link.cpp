// ports, open
#include <CLI/CLI.hpp>

#include <cstdio>

#include "cli/cli_session.h"
#include "link/device_session.h"
#include "platform/serial_port.h"

namespace morlane {

namespace {

// `ports` prints one line per entry of the port table, then one for the unit on USB:
//
//   COM<n> <path> <state>
//   USB 0590:004b <present|absent>
//
// Fields are separated by single spaces; <state> is the rest of the line: "free", "busy"
// (another program holds the port), "permission denied", "not found", "cannot be
// configured" (not a serial device) or "cannot be opened". A port is only opened and
// closed again to find its state. The lines go to stdout; nothing is logged and the exit
// status is 0 whatever the states are.
int ListPorts(CliSession& session) {
  SerialPortFactory& ports = session.Ports();
  for (int n = 1; n <= CSerialLink::kMaxPort; ++n) {
    std::string path = ports.PathOf(n);
    if (path.empty()) continue;
    PortOpenError error = PortOpenError::None;
    bool opened = ports.Open(n, &error) != nullptr;
    std::printf("COM%d %s %s\n", n, path.c_str(),
                PortOpenErrorText(opened ? PortOpenError::None : error));
  }
  bool present = false;
  for (const HidDeviceInfo& info : session.HidDevices().Enumerate()) {
    if (info.vendorId == kUnitVendorId && info.productId == kUnitProductId) present = true;
  }
  std::printf("USB %04x:%04x %s\n", kUnitVendorId, kUnitProductId, present ? "present" : "absent");
  std::fflush(stdout);
  return kExitOk;
}

}  // namespace

void RegisterLinkCommands(CLI::App& app, CommandRunner& selected) {
  auto* ports = app.add_subcommand(
      "ports",
      "List each COM number with its device and whether it can be opened now, and "
      "whether the unit is present on USB");
  ports->callback([&selected] { selected = ListPorts; });

  auto* open = app.add_subcommand("open", "Open on the chosen entry, then Close");
  auto link = std::make_shared<std::string>("com");
  open->add_option("--link", *link, "usb or com")->check(CLI::IsMember({"usb", "com"}));
  open->callback([&selected, link] {
    selected = [link](CliSession& session) {
      return session.OpenLink(*link) ? kExitOk : kExitFailed;
    };
  });
}

}  // namespace morlane
