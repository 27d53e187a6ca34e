#include <CLI/CLI.hpp>

#include "cli/cli_session.h"

namespace morlane {

void RegisterConsoleCommands(CLI::App&, CommandRunner&) {}

}  // namespace morlane
