// morlane-cli: presses the dialog's controls in a technician's order, headless.
#include <CLI/CLI.hpp>

#include <cstdio>

#include "cli/cli_app.h"
#include "cli/cli_session.h"
#include "platform/console_io.h"

int main(int argc, char** argv) {
  using namespace morlane;
  UseBinaryStdio();
  GlobalOptions options;
  CommandRunner selected;
  std::unique_ptr<CLI::App> app = BuildCliApp(options, selected);

  try {
    app->parse(argc, argv);
  } catch (const CLI::CallForHelp& help) {
    return app->exit(help);
  } catch (const CLI::CallForVersion& version) {
    return app->exit(version);
  } catch (const CLI::ParseError& failure) {
    app->exit(failure);
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
  if (session.LogJsonFailed()) {
    std::fprintf(stderr, "morlane-cli: %s: not every log line could be written\n",
                 options.logJson.c_str());
    if (status == kExitOk) status = kExitFailed;
  }
  return status;
}
