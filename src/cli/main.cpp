// morlane-cli: presses the dialog's controls in a technician's order, headless.
#include <CLI/CLI.hpp>

#include <cstdio>

#include "cli/cli_session.h"
#include "platform/console_io.h"

int main(int argc, char** argv) {
  using namespace morlane;
  UseBinaryStdio();
  CLI::App app{"Firmware programming and service commands for the unit, without a window",
               "morlane-cli"};
  app.require_subcommand(1);
  GlobalOptions options;
  app.add_option("--port", options.ports,
                 "serial device that stands as COM1; repeat for COM2, ...");
  app.add_flag("--simulate", options.simulate, "run the simulated unit inside the process");
  app.add_option("--dir", options.dir, "working directory of the run");
  app.add_option("--log-json", options.logJson, "also write every log line to FILE as JSON");
  app.add_flag("--quiet", options.quiet, "no progress bar");

  CommandRunner selected;
  RegisterLinkCommands(app, selected);
  RegisterFlashCommands(app, selected);
  RegisterImageCommands(app, selected);
  RegisterConsoleCommands(app, selected);

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& help) {
    return app.exit(help);
  } catch (const CLI::ParseError& failure) {
    app.exit(failure);
    return kExitUsage;
  }
  if (!selected) return kExitUsage;

  CliSession session(options);
  std::string error;
  if (!session.Setup(&error)) {
    std::fprintf(stderr, "morlane-cli: %s\n", error.c_str());
    return kExitUsage;
  }
  int status = selected(session);
  session.Finish();
  return status;
}
