// The automatic command test against the simulated unit for a set time: commands per
// second, resident memory growth per 10,000 commands, and whether MCUlog.txt holds every
// answer that the log showed, in the same order.
//
//   soak_bench [minutes=1] [usb|com] [pause-ms=300]
//
// pause-ms replaces the 300 ms pause before each command, so that a short run reaches
// the command counts of a long one; the log is cleared every 20,000 lines, as a
// technician would, so that what grows is not the log list by design.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "app/headless_window.h"
#include "app/kestrum_dlg.h"
#include "bench_support.h"
#include "console/test_workers.h"
#include "platform/port_table.h"
#include "platform/termios_port.h"
#include "sim/simulated_platform.h"
#include "ui/control_ids.h"

namespace {

using morlane::bench::ResidentKiB;

using namespace morlane;
using Steady = std::chrono::steady_clock;

// The real clock, with the pause before each command made as long as asked.
class PacedClock : public SystemClock {
 public:
  explicit PacedClock(int pauseMs) : pauseMs_(pauseMs) {}
  void SleepMs(int ms) override { SystemClock::SleepMs(ms == kCommandPauseMs ? pauseMs_ : ms); }

 private:
  int pauseMs_;
};

// Answers in order, folded into a count and a hash.
struct AnswerTrail {
  uint64_t count = 0;
  uint64_t hash = 1469598103934665603ull;
  void Add(std::string_view answer) {
    ++count;
    for (unsigned char c : answer) hash = (hash ^ c) * 1099511628211ull;
    hash = (hash ^ 0xFF) * 1099511628211ull;
  }
};

// Follows the log: the line after a command is its answer unless it is a failure.
class LogFollower {
 public:
  void OnLine(std::string_view line) {
    static const std::set<std::string_view> kCommands = {
        "Q1", "Lf?", "Bl?", "V", "V2", "V3", "BTUN", "Si?", "BRR", "UAS", "CF", "CF2", "FWV"};
    static const std::set<std::string_view> kFailures = {"Read Error.", "Write report error",
                                                         "Write Report Error"};
    if (line == "Stop auto send MCU command") return;  // may fall between the two
    if (afterCommand_ && !kFailures.count(line)) trail.Add(line);
    afterCommand_ = kCommands.count(line) > 0;
  }
  AnswerTrail trail;

 private:
  bool afterCommand_ = false;
};

// The answers MCUlog.txt holds, in either layout.
AnswerTrail FiledAnswers(const std::string& file, bool hid, bool* wellFormed) {
  AnswerTrail trail;
  *wellFormed = false;
  const std::string dashes(22, '-');
  if (hid) {
    size_t p = file.find(dashes + "\r\r");
    size_t end = file.rfind("\r\rTest Finish Time: ");
    if (p == std::string::npos || end == std::string::npos || end < p) return trail;
    p += dashes.size() + 2;
    while (p < end) {
      size_t commandEnd = file.find('\r', p);
      size_t answerEnd = file.find('\r', commandEnd + 1);
      if (commandEnd == std::string::npos || answerEnd == std::string::npos || answerEnd > end)
        return trail;
      trail.Add(std::string_view(file).substr(commandEnd + 1, answerEnd + 1 - commandEnd - 1));
      p = answerEnd + 1;
    }
    *wellFormed = true;
    return trail;
  }
  size_t p = 0;
  while (true) {
    if (file.compare(p, 20, "\r\nTest Finish Time: ") == 0) break;
    if (file.compare(p, 19, "\r\nTest Begin Time: ") != 0) return trail;
    p = file.find(dashes + "\r\n", p);
    if (p == std::string::npos) return trail;
    p = file.find("\r\n", p + dashes.size() + 2);  // after the command
    if (p == std::string::npos) return trail;
    p += 2;
    if (file.compare(p, 7, "\r\nTest ") == 0) continue;  // nothing had arrived
    size_t answerEnd = file.find("\r\n", p);
    if (answerEnd == std::string::npos) return trail;
    trail.Add(std::string_view(file).substr(p, answerEnd - p));
    p = answerEnd + 2;
  }
  *wellFormed = true;
  return trail;
}

// The heap the simulated unit's records of the commands between two counts take, by the
// sizes of what it stores (each record and the allocator's 16 bytes per block).
double SimRecordsKiB(sim::SimulatedPlatform& platform, int64_t fromCommand, int64_t toCommand) {
  double bytes = 0;
  std::vector<std::vector<uint8_t>> reports = platform.Usb().ReportsSeen();
  for (size_t i = static_cast<size_t>(fromCommand); i < reports.size() && i < size_t(toCommand);
       ++i) {
    bytes += sizeof(reports[i]) + reports[i].capacity() + 16;
  }
  std::vector<std::string> commands = platform.Unit().ServiceCommandsSeen();
  for (size_t i = static_cast<size_t>(fromCommand); i < commands.size() && i < size_t(toCommand);
       ++i) {
    bytes += sizeof(commands[i]) + (commands[i].capacity() > 15 ? commands[i].capacity() + 17 : 0);
  }
  size_t received = platform.Unit().ReceivedBytes().size();
  double perCommand = toCommand > 0 ? double(received) / double(toCommand) : 0.0;
  bytes += perCommand * double(toCommand - fromCommand) * sizeof(sim::SimUnit::Received);
  return bytes / 1024.0;
}

}  // namespace

int main(int argc, char** argv) {
  double minutes = argc > 1 ? std::atof(argv[1]) : 1.0;
  std::string link = argc > 2 ? argv[2] : "usb";
  int pauseMs = argc > 3 ? std::atoi(argv[3]) : kCommandPauseMs;
  if (minutes <= 0 || (link != "usb" && link != "com") || pauseMs < 0) {
    std::fprintf(stderr, "usage: soak_bench [minutes=1] [usb|com] [pause-ms=300]\n");
    return 2;
  }
  bool hid = link == "usb";

  std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("morlane-soak-" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  std::string logPath = (dir / "MCUlog.txt").string();

  PacedClock clock(pauseMs);
  sim::SimulatedPlatform platform(clock);
  std::string error;
  if (!platform.Start(&error)) {
    std::fprintf(stderr, "soak_bench: %s\n", error.c_str());
    return 1;
  }
  TermiosPortFactory ports(PortTable({platform.SerialPath()}));
  std::unique_ptr<InProcessHidBackend> hidBackend = platform.MakeHidBackend();
  HeadlessWindow window;
  LogFollower follower;
  window.SetLineHandler([&follower](std::string_view line) { follower.OnLine(line); });
  auto dialog = std::make_unique<CKestrumDlg>(window, clock, ports, *hidBackend);
  window.SetCommandHandler([&dialog](int id) { dialog->OnCommand(id); });
  dialog->OnInitDialog();
  dialog->console.SetLogPath(logPath);
  window.SetComboSelection(ctl::kInterfaceCombo, hid ? 1 : 0);
  window.Click(ctl::kOpen);
  if (dialog->session.sessionState == SessionState::None) {
    std::fprintf(stderr, "soak_bench: the simulated unit did not open on %s\n", link.c_str());
    return 1;
  }
  // Every command the unit knows, as a long soak runs them.
  for (int id : {ctl::kCheckQ1, ctl::kCheckLf, ctl::kCheckBl, ctl::kModeAuto, ctl::kCheckV2,
                 ctl::kCheckV3, ctl::kCheckBtun, ctl::kCheckSi, ctl::kCheckBrr, ctl::kCheckUas,
                 ctl::kCheckCf, ctl::kCheckCf2, ctl::kCheckFwv}) {
    window.SetCheck(id, 1);
  }

  const TestCounters& counters = dialog->console.Counters();
  const auto duration = std::chrono::duration<double>(minutes * 60.0);
  window.Click(ctl::kStart);
  Steady::time_point start = Steady::now();
  long warmKiB = -1;
  int64_t warmCommands = 0;
  int64_t linesCleared = 0;
  while (Steady::now() - start < duration) {
    window.ProcessPendingRequests(20);
    if (warmKiB < 0 && (counters.sent >= 1000 || Steady::now() - start > duration / 10)) {
      warmKiB = ResidentKiB();
      warmCommands = counters.sent;
    }
    if (window.LogList().GetCount() > 20000) {
      linesCleared += window.LogList().GetCount();
      window.Click(ctl::kClearLog);
    }
  }
  long endKiB = ResidentKiB();
  int64_t endCommands = counters.sent;
  // What the simulated unit keeps of everything it received, for the tests, grows with the
  // run; it is not the tool's.
  double simKiB = SimRecordsKiB(platform, warmCommands, endCommands);
  window.Click(ctl::kStop);
  while (dialog->console.TestRunning()) window.ProcessPendingRequests(20);
  double seconds = std::chrono::duration<double>(Steady::now() - start).count();
  int64_t sent = counters.sent;
  int64_t answered = counters.answered;
  dialog->OnCommand(ctl::kClose);
  dialog.reset();

  std::ifstream in(logPath, std::ios::binary);
  std::string file((std::istreambuf_iterator<char>(in)), {});
  bool wellFormed = false;
  AnswerTrail filed = FiledAnswers(file, hid, &wellFormed);
  const AnswerTrail& shown = follower.trail;
  bool match = wellFormed && filed.count == shown.count && filed.hash == shown.hash;

  std::printf("link %s, pause %d ms, %.1f s: %lld commands, %.1f commands/s, %lld answered\n",
              link.c_str(), pauseMs, seconds, static_cast<long long>(sent), sent / seconds,
              static_cast<long long>(answered));
  double commands = double(endCommands - warmCommands);
  double perTenThousand = commands > 0 ? (endKiB - warmKiB) * 10000.0 / commands : 0.0;
  double simPerTenThousand = commands > 0 ? simKiB * 10000.0 / commands : 0.0;
  std::printf(
      "resident memory: %ld KiB after %lld commands, %ld KiB after %lld: %+.1f KiB per "
      "10,000 commands, of which the simulated unit's records %.1f KiB, the tool %+.1f "
      "KiB (log cleared after %lld lines)\n",
      warmKiB, static_cast<long long>(warmCommands), endKiB, static_cast<long long>(endCommands),
      perTenThousand, simPerTenThousand, perTenThousand - simPerTenThousand,
      static_cast<long long>(linesCleared));
  std::printf("MCUlog.txt: %zu bytes, %llu answers filed, %llu shown in the log: %s\n", file.size(),
              static_cast<unsigned long long>(filed.count),
              static_cast<unsigned long long>(shown.count),
              match ? "every answer filed, in order" : "MISMATCH");
  std::error_code ignored;
  std::filesystem::remove_all(dir, ignored);
  platform.Stop();
  return match ? 0 : 1;
}
