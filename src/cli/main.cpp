// morlane-cli: presses the dialog's controls in a technician's order, headless.
#include <CLI/CLI.hpp>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "cli/cli_app.h"
#include "cli/cli_session.h"
#include "platform/console_io.h"

namespace {

// The commands that run a procedure on the unit, and so end with PASS or FAIL.
bool IsProcedure(const std::string& command) {
  for (const char* name :
       {"open", "flash", "auto", "verify", "prepare", "mcu-update", "send", "test", "gang"}) {
    if (command == name) return true;
  }
  return false;
}

// The first word on the command line that is neither an option, nor an option's value,
// nor a command (or sub-command) where one is expected; "" when there is none. *within is
// the command it was given to.
std::string UnknownCommand(CLI::App& app, int argc, char** argv, CLI::App** within) {
  CLI::App* current = &app;
  for (int i = 1; i < argc; ++i) {
    const std::string word = argv[i];
    if (word.empty() || word[0] == '-') continue;
    const std::string before = argv[i - 1];
    if (i > 1 && before.rfind("--", 0) == 0 && before.find('=') == std::string::npos) {
      const CLI::Option* option = current->get_option_no_throw(before);
      if (!option) option = app.get_option_no_throw(before);
      if (option && option->get_expected_max() > 0) continue;
    }
    std::vector<CLI::App*> commands = current->get_subcommands({});
    if (commands.empty()) return {};  // a command's own argument
    auto known = std::find_if(commands.begin(), commands.end(), [&word](const CLI::App* command) {
      return command->get_name() == word;
    });
    if (known == commands.end()) {
      *within = current;
      return word;
    }
    current = *known;
  }
  return {};
}

// Edits (insertions, deletions, substitutions, swaps of neighbours) between two words.
size_t Distance(const std::string& a, const std::string& b) {
  std::vector<std::vector<size_t>> d(a.size() + 1, std::vector<size_t>(b.size() + 1));
  for (size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
  for (size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
  for (size_t i = 1; i <= a.size(); ++i) {
    for (size_t j = 1; j <= b.size(); ++j) {
      d[i][j] = std::min(
          {d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + (a[i - 1] == b[j - 1] ? 0 : 1)});
      if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1]) {
        d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
      }
    }
  }
  return d[a.size()][b.size()];
}

// The command nearest to word, when one is near enough to be what was meant.
std::string NearestCommand(CLI::App& app, const std::string& word) {
  std::string nearest;
  size_t best = std::max<size_t>(2, word.size() / 3) + 1;
  for (const CLI::App* command : app.get_subcommands({})) {
    const size_t distance = Distance(word, command->get_name());
    if (distance < best) {
      best = distance;
      nearest = command->get_name();
    }
  }
  return nearest;
}

}  // namespace

int main(int systemArgc, char** systemArgv) {
  using namespace morlane;
  UseBinaryStdio();
  IgnoreClosedPipes();
  // Paths on the command line stay UTF-8 from here on, on both systems.
  std::vector<std::string> arguments = Utf8Arguments(systemArgc, systemArgv);
  // "/?" is how a Windows console program is asked for its help: the help of the command
  // it stands after, or of the whole program.
  if (WindowsConventions()) {
    for (size_t i = 1; i < arguments.size(); ++i) {
      if (arguments[i] == "/?") arguments[i] = "--help";
    }
  }
  std::vector<char*> pointers;
  for (std::string& argument : arguments) pointers.push_back(argument.data());
  pointers.push_back(nullptr);
  const int argc = static_cast<int>(arguments.size());
  char** argv = pointers.data();
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
    // A mistyped command is answered with the nearest one, not with what the parser
    // expected instead.
    CLI::App* within = app.get();
    if (std::string unknown = UnknownCommand(*app, argc, argv, &within); !unknown.empty()) {
      std::string nearest = NearestCommand(*within, unknown);
      std::fprintf(stderr, "morlane-cli: unknown command \"%s\"%s\n", unknown.c_str(),
                   nearest.empty() ? "; see morlane-cli --help"
                                   : ("; did you mean \"" + nearest + "\"?").c_str());
      return kExitUsage;
    }
    app->exit(failure);
    return kExitUsage;
  }
  if (!selected) return kExitUsage;

  const auto commands = app->get_subcommands();
  const std::string command = commands.empty() ? "" : commands.front()->get_name();
  CliSession session(options);
  std::string error;
  if (!session.Setup(&error)) {
    std::fprintf(stderr, "morlane-cli: %s\n", error.c_str());
    return kExitUsage;
  }
  // A gang's units each report their own run.
  const bool reportsRun = IsProcedure(command) && command != "gang";
  if (reportsRun) session.ReportRunStarted(command);
  int status = selected(session);
  session.Finish();
  // The run is kept before it is reported done.
  if (std::string why; !session.KeepRecord(status, &why)) {
    std::fprintf(stderr, "morlane-cli: the run's record could not be kept: %s\n", why.c_str());
    session.SetFailure("record", why);
    if (status == kExitOk) status = kExitFailed;
  }
  if (session.LogJsonFailed()) {
    std::fprintf(stderr, "morlane-cli: %s: not every log line could be written\n",
                 options.logJson.c_str());
    session.SetFailure("log-json", "not every log line could be written to " + options.logJson);
    if (status == kExitOk) status = kExitFailed;
  }
  if (reportsRun) session.ReportRunEnded(status, command);
  if (session.Events() && session.Events()->Failed()) {
    std::fprintf(stderr, "morlane-cli: %s: not every event could be written\n",
                 options.events.c_str());
    session.SetFailure("events", "not every event could be written to " + options.events);
    if (status == kExitOk) status = kExitFailed;
  }
  // A procedure ends with its verdict, after the bar and every log line.
  if (IsProcedure(command) && status != kExitUsage) {
    if (status == kExitOk) {
      std::fprintf(stderr, "PASS\n");
    } else {
      std::fprintf(stderr, "FAIL: %s: %s\n",
                   session.FailedStep().empty() ? command.c_str() : session.FailedStep().c_str(),
                   session.FailureReason().empty() ? "failed" : session.FailureReason().c_str());
    }
  }
  return status;
}
