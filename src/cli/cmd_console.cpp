// send, test
#include <CLI/CLI.hpp>

#include <atomic>
#include <cctype>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "cli/cli_session.h"
#include "console/command_table.h"
#include "platform/console_io.h"
#include "ui/control_ids.h"

namespace morlane {

namespace {

// Set by Ctrl-C (or a polite kill) while a test runs; the serving loop sees it and presses
// "Stop" as the technician would.
std::atomic<int> stopRequested{0};

std::string Lowered(std::string_view text) {
  std::string lowered(text);
  for (char& c : lowered) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return lowered;
}

// The entry whose caption is name in any case ("btun" is BTUN, "lf?" is Lf?: no two
// captions differ by case alone), or -1.
int EntryNamedInAnyCase(const std::string& name) {
  CommandTable table;
  table.InitCommandTable();
  for (int entry = 0; entry < CommandTable::kEntries; ++entry) {
    if (Lowered(table.Name(entry)) == Lowered(name)) return entry;
  }
  return -1;
}

// LIST as the boxes' captions name the commands (V for the "Auto" box), in any case; empty
// checks none.
bool ParseCommandList(const std::string& list, std::vector<int>* entries, std::string* bad) {
  entries->clear();
  size_t start = 0;
  while (start <= list.size() && !list.empty()) {
    size_t comma = list.find(',', start);
    std::string name = list.substr(start, comma == std::string::npos ? comma : comma - start);
    int entry = EntryNamedInAnyCase(name);
    if (entry < 0) {
      *bad = name;
      return false;
    }
    entries->push_back(entry);
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  return true;
}

int RunSend(CliSession& session, const std::string& link, const std::string& text, bool noEnter) {
  if (!session.OpenLink(link)) return kExitFailed;
  if (PressSend(session.Window(), session.Dialog(), text, noEnter)) return kExitOk;
  session.SetFailure("send", "the unit did not answer " + text);
  return kExitFailed;
}

constexpr int kServeSliceMs = 50;

int RunTest(CliSession& session, const std::string& link, const std::vector<int>& entries,
            int seconds) {
  if (!session.OpenLink(link)) return kExitFailed;
  HeadlessWindow& window = session.Window();
  CKestrumDlg& dialog = session.Dialog();
  for (int entry = 0; entry < CommandTable::kEntries; ++entry)
    window.SetCheck(CheckBoxOfEntry(entry), 0);
  for (int entry : entries) window.SetCheck(CheckBoxOfEntry(entry), 1);

  StopRequests signals(stopRequested);
  window.Click(ctl::kStart);
  if (!dialog.console.TestRunning()) {  // "Please open device first!"
    session.SetFailure("test", "the command test did not start");
    return kExitFailed;
  }

  // The worker's log lines and button changes are carried out here, on the window thread.
  Clock& clock = RealClock();
  const int64_t end = clock.MonotonicMs() + static_cast<int64_t>(seconds) * 1000;
  while (stopRequested.load() == 0 && (seconds < 0 || clock.MonotonicMs() < end)) {
    window.ProcessPendingRequests(kServeSliceMs);
  }
  window.Click(ctl::kStop);
  // Bounded: the worker finishes the command in hand, then writes its finish line.
  while (dialog.console.TestRunning()) window.ProcessPendingRequests(kServeSliceMs);
  dialog.console.Shutdown();

  const TestCounters& counters = dialog.console.Counters();
  // A unit that never answered fails the run; late or missing single answers do not.
  if (counters.sent > 0 && counters.answered == 0) {
    session.SetFailure("test", "the unit answered none of the commands sent");
    return kExitFailed;
  }
  return kExitOk;
}

}  // namespace

int PressSend(HeadlessWindow& window, CKestrumDlg& dialog, const std::string& text, bool noEnter) {
  window.TypeText(ctl::kCommandEdit, text);
  window.SetCheck(ctl::kPlusEnter, noEnter ? 0 : 1);
  if (!window.Click(ctl::kSend)) return 0;
  return dialog.lastResult == 1 ? 1 : 0;
}

void RegisterConsoleCommands(CLI::App& app, CommandRunner& selected) {
  auto* send = app.add_subcommand("send", "TEXT into the command box, then Send");
  auto sendText = std::make_shared<std::string>();
  auto sendLink = std::make_shared<std::string>("com");
  auto noEnter = std::make_shared<bool>(false);
  send->add_option("TEXT", *sendText, "the command, without its carriage return")->required();
  send->add_option("--link", *sendLink, "usb or com")
      ->transform(CLI::IsMember({"usb", "com"}, CLI::ignore_case));
  send->add_flag("--no-enter", *noEnter, "leave +Enter unchecked");
  send->callback([&selected, sendText, sendLink, noEnter] {
    selected = [sendText, sendLink, noEnter](CliSession& session) {
      return RunSend(session, *sendLink, *sendText, *noEnter);
    };
  });

  auto* test = app.add_subcommand("test", "the automatic command test, until N seconds or Ctrl-C");
  auto testLink = std::make_shared<std::string>("com");
  auto list = std::make_shared<std::string>("Q1");
  auto seconds = std::make_shared<int>(-1);
  auto entries = std::make_shared<std::vector<int>>();
  test->add_option("--link", *testLink, "usb or com")
      ->transform(CLI::IsMember({"usb", "com"}, CLI::ignore_case));
  test->add_option("--commands", *list, "Q1,Lf?,Bl?,V2,V3,BTUN,Si?,BRR,UAS,CF,CF2,FWV and V")
      ->check(CLI::Validator(
          [](std::string& value) {
            std::vector<int> parsed;
            std::string bad;
            return ParseCommandList(value, &parsed, &bad) ? std::string()
                                                          : "unknown command " + bad;
          },
          "LIST"));
  // Without --seconds the test runs until Ctrl-C, as it runs in the window until "Stop".
  test->add_option("--seconds", *seconds, "press Stop after N seconds")
      ->check(CLI::NonNegativeNumber);
  test->callback([&selected, testLink, list, seconds, entries] {
    std::string bad;
    ParseCommandList(*list, entries.get(), &bad);
    selected = [testLink, entries, seconds](CliSession& session) {
      return RunTest(session, *testLink, *entries, *seconds);
    };
  });
}

}  // namespace morlane
