#include <CLI/CLI.hpp>

#include "cli/cli_session.h"

namespace morlane {

void RegisterFlashCommands(CLI::App&, CommandRunner&) {}

}  // namespace morlane
