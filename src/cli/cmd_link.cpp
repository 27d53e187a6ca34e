// ports, doctor, open
#include <CLI/CLI.hpp>

#include <cstdio>
#include <cstdlib>

#include "cli/cli_session.h"
#include "cli/host_report.h"
#include "cli/station_ports.h"
#include "link/device_session.h"
#include "package/service_package.h"
#include "package/ssh_signature.h"
#include "platform/console_io.h"
#include "platform/host_inspection.h"
#include "platform/serial_port.h"

namespace morlane {

namespace {

HostView SystemView(CliSession& session, StationPorts& ports, const HostInspection& inspection) {
  const char* fromEnvironment = std::getenv("MORLANE_PORTS");
  const bool given =
      !session.Options().ports.empty() || (fromEnvironment && *fromEnvironment != '\0');
  return HostView{ports.Factory(), session.HidDevices(), inspection, session.Sim() == nullptr,
                  given};
}

// `ports`: the lines of PortsReport on stdout; nothing is logged and the exit status is 0
// whatever the states are. A port is only opened and closed again to find its state.
int ListPorts(CliSession& session) {
  HostInspection inspection(HostRoots::System(), UserIdentity::Current());
  StationPorts ports(session);
  std::fputs(PortsReport(SystemView(session, ports, inspection)).c_str(), stdout);
  std::fflush(stdout);
  return kExitOk;
}

// Where the signers of service packages are trusted from, and how many each file lists: a
// technician whose packages are refused as "not trusted" sees here which file to mend.
std::string TrustedKeysNote(CliSession& session) {
  const GlobalOptions& options = session.Options();
  const package::PackageTrust trust = package::TrustFor(
      options.trustedKeys.empty() ? std::string() : session.PathOf(options.trustedKeys), false, {});
  std::string found, missing;
  for (const std::string& file : trust.signersFiles) {
    std::string why;
    bool absent = false;
    std::optional<package::AllowedSigners> signers =
        package::AllowedSigners::Load(file, &why, &absent);
    if (!signers && absent) {
      missing += (missing.empty() ? "" : ", ") + file;
      continue;
    }
    found += (found.empty() ? "" : "; ") +
             (signers ? file + " (" + std::to_string(signers->size()) + " keys)" : why);
  }
  if (found.empty()) {
    return "note: no signer of service packages is trusted: their allowed_signers lines go in " +
           missing + "\n";
  }
  return "note: signers of service packages are trusted from " + found +
         (missing.empty() ? "" : "; not there: " + missing) + "\n";
}

// `doctor`: the findings of DoctorReport on stdout; 0 when none of them blocks use.
int Doctor(CliSession& session) {
  HostInspection inspection(HostRoots::System(), UserIdentity::Current());
  StationPorts ports(session);
  int status = kExitFailed;
  std::fputs(TrustedKeysNote(session).c_str(), stdout);
  std::fputs(DoctorReport(SystemView(session, ports, inspection), &status).c_str(), stdout);
  std::fflush(stdout);
  return status;
}

}  // namespace

void RegisterLinkCommands(CLI::App& app, CommandRunner& selected) {
  auto* ports = app.add_subcommand(
      "ports",
      "List each COM number with its device and whether it can be opened now (with its "
      "stable name, USB adapter and the program holding it, where known), and whether the "
      "unit is present on USB and may be opened");
  ports->callback([&selected] { selected = ListPorts; });

  auto* doctor = app.add_subcommand(
      "doctor", WindowsConventions()
                    ? "Check what stands between this user and the unit (the COM ports and "
                      "whether they can be opened, the unit on USB, programs holding a port) "
                      "and say what to do"
                    : "Check what stands between this user and the unit (serial access and "
                      "groups, the udev rule, the unit on USB, programs holding a port, a modem "
                      "manager) and say what to do");
  doctor->callback([&selected] { selected = Doctor; });

  auto* open = app.add_subcommand("open", "Open on the chosen entry, then Close");
  auto link = std::make_shared<std::string>("com");
  auto probe = std::make_shared<bool>(false);
  open->add_option("--link", *link, "usb or com")
      ->transform(CLI::IsMember({"usb", "com"}, CLI::ignore_case));
  open->add_flag("--probe", *probe,
                 "also send \"Q1\" and fail when the unit does not answer (an open port alone "
                 "does not say that a unit is there)");
  open->callback([&selected, link, probe] {
    selected = [link, probe](CliSession& session) {
      if (!session.OpenLink(*link)) return kExitFailed;
      if (*probe && !PressSend(session.Window(), session.Dialog(), "Q1", false)) {
        session.SetFailure("probe", "the unit did not answer Q1");
        return kExitFailed;
      }
      return kExitOk;
    };
  });
}

}  // namespace morlane
