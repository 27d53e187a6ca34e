#include <CLI/CLI.hpp>

#include "cli/cli_session.h"

namespace morlane {

void RegisterImageCommands(CLI::App&, CommandRunner&) {}

}  // namespace morlane
