#pragma once

#include <memory>

#include "cli/cli_session.h"

namespace CLI {
class App;
}

namespace morlane {

// morlane-cli's whole command line: the global options, --help and --version, and every
// command with its arguments. The program parses with it; its manual page and shell
// completion are made from it when the tool is built, so that neither can fall behind.
// The parsed global options land in options, the chosen command's body in selected.
std::unique_ptr<CLI::App> BuildCliApp(GlobalOptions& options, CommandRunner& selected);

}  // namespace morlane
