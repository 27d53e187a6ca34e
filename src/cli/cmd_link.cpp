// ports, open
#include <CLI/CLI.hpp>

#include "cli/cli_session.h"

namespace morlane {

void RegisterLinkCommands(CLI::App& app, CommandRunner& selected) {
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
