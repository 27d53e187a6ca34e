#include "cli/cli_app.h"

#include <CLI/CLI.hpp>

#include "platform/console_io.h"
#include "sim/sim_options.h"

namespace morlane {

std::unique_ptr<CLI::App> BuildCliApp(GlobalOptions& options, CommandRunner& selected) {
  auto app = std::make_unique<CLI::App>(
      "Firmware programming and service commands for the unit, without a window", "morlane-cli");
  app->require_subcommand(1);
  // Options may stand before or after the command: a command passes what it does not know
  // to the options of the whole program.
  app->fallthrough();
  app->set_version_flag("--version", std::string("morlane-cli ") + MORLANE_VERSION,
                        "print the version and exit");
  // The value names tell the shell completion what to offer: PATH and FILE files, DIR
  // folders.
  // Windows knows its serial ports by their COM names, which they keep here.
  const bool windows = WindowsConventions();
  app->add_option("--port", options.ports,
                  windows ? "the unit's COM port (COM5, COM40), which keeps its name in the log "
                            "and the records; repeat it for more ports"
                          : "serial device that stands as COM1; repeat for COM2, ...")
      ->type_name(windows ? "PORT" : "PATH");
  CLI::Option* simulate =
      app->add_flag("--simulate", options.simulate, "run the simulated unit inside the process");
  app->add_option("--simulate-units", options.simulateUnits,
                  "run N simulated units inside the process, as COM1 to COMN")
      ->type_name("N")
      ->check(CLI::Range(1, 32))
      ->excludes(simulate);
  std::string switches;
  for (const std::string& name : sim::FaultSwitchNames()) {
    switches += (switches.empty() ? "" : ", ") + name;
  }
  app->add_option("--simulate-fault", options.simulateFaults,
                  "give simulated unit N one of its fault switches (4:refuse-erase, "
                  "2:answer-delay-ms=300); the switches: " +
                      switches)
      ->type_name("N:SWITCH");
  app->add_option("--records", options.records,
                  "gang, records: the station's record store (records.db and runs/); "
                  "default the working directory. flash, auto, verify: keep the run there too")
      ->type_name("DIR");
  app->add_option("--records-db", options.recordsDb,
                  "also keep every run in the line's PostgreSQL database (postgresql://...)")
      ->type_name("URL")
      ->envname("MORLANE_RECORDS_DB");
  app->add_option("--unit-id", options.unitIds,
                  std::string("gang (and a single run on ") + (windows ? "its port" : "COM1") +
                      "): the unit on slot COMn is ID (a serial number as scanned); repeatable")
      ->type_name("COMn=ID");
  app->add_option("--station", options.station,
                  "the station's name in every run record (default: the host name)")
      ->type_name("NAME");
  app->add_option("--operator", options.operatorName, "the operator's name in every run record")
      ->type_name("NAME");
  app->add_option("--dir", options.dir,
                  "working directory of the run; every relative path of the command line is "
                  "taken from it, as git -C takes it")
      ->type_name("DIR");
  app->add_option("--log-json", options.logJson, "also write every log line to FILE as JSON")
      ->type_name("FILE");
  app->add_option("--events", options.events,
                  "every procedure's typed events as NDJSON to FILE (-: stdout, which then "
                  "carries no plain log lines)")
      ->type_name("FILE");
  app->add_flag("--quiet", options.quiet, "no progress bar");
  app->add_flag("--skip-identical", options.skipIdentical,
                "flash, auto, gang: a CPU whose unit (--unit-id) last passed with the same image, "
                "by the records, and that verifies against it now, is neither erased nor "
                "programmed");
  app->add_option("--package", options.package,
                  "auto, flash, verify, mcu-update: the images come from this signed service "
                  "package (*.mlpkg)")
      ->type_name("FILE");
  app->add_option("--trusted-keys", options.trustedKeys,
                  "the signers trusted for service packages (OpenSSH allowed_signers); default "
                  "the user's, then the machine's")
      ->type_name("FILE");
  app->add_option("--model", options.model,
                  "with --package: the unit's model, which the "
                  "package must name")
      ->type_name("NAME");
  app->add_flag("--allow-unsigned", options.allowUnsigned,
                "with --package: take a package that carries no signature (said in the log and "
                "the record)");

  RegisterLinkCommands(*app, selected);
  RegisterFlashCommands(*app, selected);
  RegisterImageCommands(*app, selected);
  RegisterConsoleCommands(*app, selected);
  RegisterGangCommands(*app, selected);
  RegisterStationCommands(*app, options, selected);
  RegisterRecordsCommands(*app, selected);
  RegisterPackageCommands(*app, selected);
  RegisterDashboardCommands(*app, selected);
  return app;
}

}  // namespace morlane
