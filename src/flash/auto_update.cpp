// "Automatic": every image file in the working directory, each to the CPU its name gives.
#include <algorithm>
#include <cctype>
#include <filesystem>
#include <string>
#include <vector>

#include "flash/flash_texts.h"
#include "flash/inverter_flasher.h"
#include "platform/utf8_path.h"
#include "ui/control_ids.h"
#include "ui/log.h"

namespace morlane {

namespace {

using namespace flashtext;

bool EndsWithBin(const std::string& name) {
  if (name.size() < 4) return false;
  std::string tail = name.substr(name.size() - 4);
  std::transform(tail.begin(), tail.end(), tail.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return tail == ".bin";
}

// The names the search pattern "*.bin" finds. The unit's tool grew up on a file system
// whose searches match the pattern without regard to case and list names in order, so
// the same is done here: the extension in any case, regular files only, sorted by name.
// Nothing puts master before slave: the order of the names decides.
std::vector<std::string> FindImageFiles(const std::filesystem::path& directory) {
  std::vector<std::string> names;
  std::error_code error;
  for (std::filesystem::directory_iterator it(directory, error), end; !error && it != end;
       it.increment(error)) {
    std::error_code kindError;
    if (!it->is_regular_file(kindError)) continue;
    std::string name = PathToUtf8(it->path().filename());
    if (EndsWithBin(name)) names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  return names;
}

const char* CpuName(char cpu) {
  return cpu == 'M' ? "master" : cpu == 'S' ? "slave" : "";
}

// 'M', 'S' or 0 by case-sensitive words in the name; master wins when both appear.
char CpuOfName(const std::string& name) {
  auto has = [&name](const char* word) { return name.find(word) != std::string::npos; };
  if (has("Master") || has("master")) return 'M';
  if (has("Slave") || has("slave")) return 'S';
  return 0;
}

}  // namespace

int InverterFlasher::AutoUpdate() {
  Window& window = context_.window;
  std::error_code error;
  std::filesystem::path directory =
      context_.workingDir.empty() ? std::filesystem::current_path(error) : context_.workingDir;
  window.SetProgressPos(ctl::kProgressBar, 0);
  std::vector<std::string> names = imageList;
  if (names.empty() && !error) names = FindImageFiles(directory);
  if (names.empty()) {
    AppendLogLine(window, kNoBinFile);
    AppendLogLine(window, kInstallDirectory);
    AppendLogLine(window, std::string(kSearchedFolder) + PathToUtf8(directory));
    return 0;
  }

  attempts.clear();
  heldBack = false;
  link_.ResetBootLink();
  // Success is claimed only when every image file found was programmed and verified.
  bool everyFileBurned = true;
  for (const std::string& name : names) {
    if (holdNextCpu && holdNextCpu->load()) {
      heldBack = true;
      everyFileBurned = false;
      break;
    }
    const std::string path = imageList.empty() ? PathToUtf8(directory / PathFromUtf8(name)) : name;
    const std::string fileName = PathToUtf8(PathFromUtf8(path).filename());
    char cpu = CpuOfName(fileName);
    for (const auto& [listed, listedCpu] : imageCpus) {
      if (listed == path) cpu = listedCpu;
    }
    if (!CheckImage(path)) {
      AppendLogLine(window, kBadImage);
      ReportRefusedImage(context_.events, path, SurveyOf(path));
      attempts.push_back({path, cpu, false,
                          FailedAt(FlashStep::Image, StepReason::File, "not an inverter image")});
      return 0;
    }
    if (cpu == 0) {
      AppendLogLine(window, FormatText(kNeitherCpuFormat, fileName.c_str()));
      if (context_.events.Listening()) {
        context_.events.Report(
            event::Refused{path, "no-cpu", 0, "its name names neither CPU (master, slave)"});
      }
      attempts.push_back(
          {path, cpu, false,
           FailedAt(FlashStep::Image, StepReason::File, "its name names neither CPU")});
      everyFileBurned = false;
      continue;
    }
    // A broken section table is found before the CPU is selected, so that the CPU keeps
    // its firmware; the next file is tried.
    if (!programmer_.AcceptImage(path)) {
      attempts.push_back(
          {path, cpu, false,
           FailedAt(FlashStep::Image, StepReason::File, "not a sound inverter image")});
      AppendLogLine(window, kDash36);
      everyFileBurned = false;
      continue;
    }
    image_.imageLength = LoadImage(path);
    if (image_.imageLength == -1) {
      // Burn and verify read the file themselves: the programming goes on.
      AppendLogLine(window, kBadImage);
    } else {
      AppendLogLine(window, kFileNameIs);
      AppendLogLine(window, path);
      AppendLogLine(window, kImageOk);
      window.SetProgressPos(ctl::kProgressBar, 0);
    }

    bool endRun = false;
    int passed = ProgramCpu(path, cpu, &endRun);
    // Another try may find a unit listening that did not echo its selection; a refused
    // image is never tried again.
    for (int attempt = 1;
         !passed && attempt <= handshakeRetries && HandshakeFailed(programmer_.outcome) &&
         !link_.Stopped() && !programmer_.PortWentAway();
         ++attempt) {
      LogRetry(attempt);
      attempts.pop_back();
      passed = ProgramCpu(path, cpu, &endRun);
    }
    if (endRun) return 0;
    if (!passed) everyFileBurned = false;
    AppendLogLine(window, kDash36);
    // Nothing reaches the unit on a port that went away: no further CPU is tried.
    if (programmer_.PortWentAway()) {
      everyFileBurned = false;
      break;
    }
  }
  // A check of what the CPUs hold burned nothing: the summary of a burn would not be true.
  if (!programmer_.verifyOnly) AppendLogLine(window, everyFileBurned ? kAllBurned : kNotAllBurned);
  return everyFileBurned ? 1 : 0;
}

int InverterFlasher::ProgramCpu(const std::string& path, char cpu, bool* endRun) {
  Window& window = context_.window;
  CSerialLink& serial = context_.session.Serial();
  const int port = context_.session.comPortNumber;
  *endRun = false;
  const int64_t selectStarted = context_.clock.MonotonicMs();
  auto selectSeconds = [&] {
    return StepTime{FlashStepName(FlashStep::Select),
                    static_cast<double>(context_.clock.MonotonicMs() - selectStarted) / 1000.0};
  };
  if (!programmer_.BeginImage(path, CpuName(cpu))) {
    // Bytes the station does not approve: the unit is not touched, and no other CPU is.
    attempts.push_back({path, cpu, false, programmer_.outcome});
    *endRun = true;
    return 0;
  }
  programmer_.ReportStepStarted(FlashStep::Select);
  serial.Open(port, 9600);
  int echoed = 1;
  if (cpu == 'M') {
    link_.SetMasterParameters();
    echoed = link_.SelectCpu('M');
  } else {
    link_.RestartSequence();
    link_.SetSlaveParameters();
    if (!link_.SelectCpu('S')) {
      // Without the slave's echo the unit is not listening: the run ends here, with
      // the port closed and the reason in the log.
      serial.Close();
      const bool stopped = link_.Stopped();
      const bool gone = programmer_.PortWentAway();
      AppendLogLine(window, stopped ? kStopped : kCommunicationFailed);
      if (gone) AppendLogLine(window, FormatText(kPortGoneFormat, serial.PortName().c_str()));
      FlashOutcome refused =
          stopped ? FailedAt(FlashStep::Select, StepReason::Stopped, "stopped")
          : gone  ? FailedAt(FlashStep::Select, StepReason::Port, "the port went away")
                  : FailedAt(FlashStep::Select, StepReason::NoAnswer, "CPU selection not echoed");
      refused.seconds.push_back(selectSeconds());
      programmer_.ReportStepFailed(FlashStep::Select, refused.why, refused.reason);
      programmer_.outcome = refused;
      attempts.push_back({path, cpu, false, refused});
      *endRun = true;
      return 0;
    }
  }
  serial.Close();
  const StepTime selected = selectSeconds();
  programmer_.ReportStepEnded(FlashStep::Select, true);
  const int passed = programmer_.ProgramSelectedCpu(path, echoed != 0);
  attempts.push_back({path, cpu, passed != 0, programmer_.outcome});
  attempts.back().outcome.seconds.insert(attempts.back().outcome.seconds.begin(), selected);
  return passed;
}

}  // namespace morlane
