// dashboard: the line's page and its API over the records.
#include <CLI/CLI.hpp>

#include <memory>

#include "cli/cli_session.h"
#include "cli/dashboard_serve.h"

namespace morlane {

void AddDashboardAccessOptions(CLI::App& command, DashboardArgs& args) {
  command
      .add_option("--token-file", args.tokenFile,
                  "every request must carry the token on this file's first line (a bearer "
                  "token, or the cookie the page sets once it was typed)")
      ->type_name("FILE");
  CLI::Option* cert =
      command.add_option("--tls-cert", args.tlsCert, "serve HTTPS with this certificate (PEM)")
          ->type_name("FILE");
  CLI::Option* key =
      command.add_option("--tls-key", args.tlsKey, "the certificate's private key (PEM)")
          ->type_name("FILE");
  cert->needs(key);
  key->needs(cert);
}

void RegisterDashboardCommands(CLI::App& app, CommandRunner& selected) {
  auto args = std::make_shared<DashboardArgs>();
  auto* command = app.add_subcommand(
      "dashboard", "Serve the line's page and its API over --records-db or --records until Ctrl-C");
  command
      ->add_option("--listen", args->listen,
                   "the address and port to serve on (default 127.0.0.1:8470; port 0: any "
                   "free port); beyond this machine only with --token-file")
      ->type_name("ADDR:PORT");
  AddDashboardAccessOptions(*command, *args);
  command->callback([&selected, args] {
    selected = [args](CliSession& session) { return ServeDashboard(session, *args); };
  });
}

}  // namespace morlane
