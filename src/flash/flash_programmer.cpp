#include "flash/flash_programmer.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <vector>

#include "flash/be_bytes.h"
#include "flash/flash_texts.h"
#include "link/sha256.h"
#include "platform/file_io.h"
#include "ui/control_ids.h"
#include "ui/log.h"

namespace morlane {

namespace {

using namespace flashtext;

// After the CPU selection the unit reboots into the bootloader, which needs this long
// before it listens for the autobaud character.
constexpr int kBootloaderStartMs = 2085;
constexpr int kEraseStepMs = 100;
constexpr int kErasePollMs = 50;
// Progress counted per program call, whatever the block's size: the figure the
// technicians' percentages have always been based on.
constexpr int kProgressPerBlock = 224;
constexpr int kMasterCpu = 0;
constexpr int kSlaveCpu = 1;

// 24 sections of at most 65535 words each, with their headers, come to about 3 MiB; a file
// past this is not an image the CPUs can take.
constexpr uint64_t kMaxImageBytes = 8u << 20;

}  // namespace

const char* FlashStepName(FlashStep step) {
  switch (step) {
    case FlashStep::Image:
      return "image";
    case FlashStep::Select:
      return "select";
    case FlashStep::Connect:
      return "connect";
    case FlashStep::Erase:
      return "erase";
    case FlashStep::Burn:
      return "burn";
    case FlashStep::Verify:
      return "verify";
    case FlashStep::Close:
      return "close";
    case FlashStep::None:
      break;
  }
  return "";
}

FlashOutcome FailedAt(FlashStep step, StepReason why, std::string reason) {
  FlashOutcome outcome;
  outcome.failedStep = step;
  outcome.why = why;
  outcome.reason = std::move(reason);
  return outcome;
}

uint16_t VerifyChecksum(const uint8_t* data, int byteCount) {
  uint32_t sum = 0;
  for (int i = 0; i + 1 < byteCount; i += 2) sum += GetBe16(data + i);
  return static_cast<uint16_t>(sum & 0xFFFF);
}

FlashProgrammer::FlashProgrammer(DialogContext& context, ImageBuffer& image, BootLink& link)
    : context_(context), image_(image), link_(link) {}

bool FlashProgrammer::PortWentAway() const {
  return context_.session.Serial().PortWentAway() && !link_.Stopped();
}

int FlashProgrammer::Fail(FlashStep step, StepReason why, std::string reason) {
  // A step that failed because the port failed under it failed for that reason, whatever
  // it met on the line.
  if (PortWentAway()) {
    why = StepReason::Port;
    reason = "the port went away";
  }
  lastWhy_ = why;
  lastReason_ = reason;
  // Only the first failure is kept; the digest, times and counts gathered so far stay.
  if (outcome.failedStep == FlashStep::None) {
    outcome.failedStep = step;
    outcome.why = why;
    outcome.reason = std::move(reason);
  }
  return 0;
}

void FlashProgrammer::ShowProgress() {
  const int percent = ShowPercent(context_.window, image_.progressCount, image_.imageLength);
  if (percent == lastPercent_ || !context_.events.Listening()) return;
  lastPercent_ = percent;
  context_.events.Report(
      event::Progress{FlashStepName(FlashStep::Burn), burnDone_, burnTotal_, percent});
}

void FlashProgrammer::ReportStepStarted(FlashStep step) {
  StepStarted(FlashStepName(step));
}

void FlashProgrammer::ReportStepEnded(FlashStep step, bool passed) {
  StepEnded(FlashStepName(step), passed);
}

void FlashProgrammer::StepStarted(const char* step) {
  lastWhy_ = StepReason::None;
  lastReason_.clear();
  morlane::ReportStepStarted(context_.events, step, cpu_);
}

void FlashProgrammer::StepEnded(const char* step, bool passed) {
  morlane::ReportStepEnded(context_.events, step, cpu_, passed, lastWhy_, lastReason_);
}

void FlashProgrammer::ReportStepFailed(FlashStep step, StepReason why, std::string detail) {
  lastWhy_ = why;
  lastReason_ = std::move(detail);
  ReportStepEnded(step, false);
}

template <typename Run>
int FlashProgrammer::ReportedStep(FlashStep step, Run&& run) {
  ReportStepStarted(step);
  const int result = run();
  ReportStepEnded(step, result != 0);
  return result;
}

int FlashProgrammer::FlashErase() {
  Window& window = context_.window;
  AppendLogLine(window, kBlankLine);
  AppendLogLine(window, kErasing);
  const ParameterRecord& erase = link_.parameters.erase;
  uint8_t* record = link_.commandRecord.data();
  BuildCommandRecord(record, kEraseCode, 0, 0, erase.words);
  bool erased = false;
  const char* why = "erase command not acknowledged";
  StepReason reason = StepReason::Nak;
  if (link_.SendCommand(record, kRecordBytes, kEraseCode)) {
    why = "no erase result";
    reason = StepReason::NoAnswer;
    // The erase takes its delay per sector: sector 0 and each further one in the mask.
    int sectors = 1 + std::popcount(static_cast<unsigned>(erase.words[0] & 0xFFFE));
    int totalMs = erase.delayMs * sectors * 10;
    int steps = std::max(1, (totalMs + kEraseStepMs - 1) / kEraseStepMs);
    for (int step = 0; step < steps; ++step) context_.clock.SleepMs(kEraseStepMs);
    int attempts = erase.words[3] + 1;
    for (int attempt = 0; attempt < attempts; ++attempt) {
      context_.clock.SleepMs(kErasePollMs);
      if (link_.PollResult(link_.reply.data(), kMaxPayload) >= 2) {
        erased = GetBe16(link_.reply.data()) == 0;
        why = "erase refused";
        reason = StepReason::Status;
        break;
      }
    }
  }
  AppendLogLine(window, erased ? kErased : kEraseFailed);
  AppendLogLine(window, kBlankLine);
  return erased ? 1 : Fail(FlashStep::Erase, reason, why);
}

int FlashProgrammer::WriteBlock(uint32_t address, int byteCount, const uint8_t* data) {
  blockAcknowledged = 1;
  byteCount &= ~1;  // an odd trailing byte is not a word
  if (!data || byteCount <= 0) return 0;
  const ParameterRecord& program = link_.parameters.program;
  uint8_t* record = link_.commandRecord.data();
  for (int done = 0; done < byteCount;) {
    int chunk = std::min(byteCount - done, kBlockBytes);
    BuildCommandRecord(record, kProgramCode, address, static_cast<uint16_t>(chunk / 2),
                       program.words);
    std::memcpy(record + kRecordBytes, data + done, static_cast<size_t>(chunk));
    if (!link_.SendCommand(record, chunk + kRecordBytes, kProgramCode)) {
      blockAcknowledged = 0;
      return 0;
    }
    context_.clock.SleepMs(program.delayMs);
    bool programmed = false;
    int attempts = program.words[3] + 1;
    for (int attempt = 0; attempt < attempts; ++attempt) {
      if (link_.ReceiveResult(link_.reply.data(), kMaxPayload) >= 2) {
        programmed = GetBe16(link_.reply.data()) == 0;
        break;
      }
    }
    // A missing or bad status does not stop the burn; the verify finds what went wrong.
    if (!programmed) return 0;
    address += static_cast<uint32_t>(chunk / 2);
    done += chunk;
  }
  return 1;
}

int FlashProgrammer::FlashBurn(const std::string& path) {
  Window& window = context_.window;
  image_.progressCount = 0;
  if (!snapshotTaken_) TakeSnapshot(path);
  if (outcome.bytes < 0) {
    return Fail(FlashStep::Image, StepReason::File, "image file cannot be read");
  }
  const auto* image = reinterpret_cast<const uint8_t*>(sent_.data());
  const uint64_t size = sent_.size();
  SectionTable table;
  if (ReadSections(image, size, table) == 0) {
    return Fail(FlashStep::Image, StepReason::File, "no sections to burn");
  }
  burnDone_ = 0;
  burnTotal_ = 0;
  lastPercent_ = -1;
  for (int s = 0; s < table.count; ++s) {
    burnTotal_ += int64_t{table.sections[static_cast<size_t>(s)].Words()} * 2;
  }
  AppendLogLine(window, kBurning);
  for (int s = 0; s < table.count; ++s) {
    const BinSection& section = table.sections[static_cast<size_t>(s)];
    uint32_t words = section.Words();
    uint32_t blocks = words / kBlockWords;
    uint32_t rest = words % kBlockWords;
    for (uint32_t j = 0; j <= blocks; ++j) {
      bool last = j == blocks;
      size_t bytes = last ? rest * 2 : kBlockBytes;
      const uint64_t at = section.start + uint64_t{j} * kBlockBytes;
      // The image was judged whole before the CPU was selected; a section that runs past
      // the copy read for the burn means the file changed in between: nothing more is sent.
      bool read = at <= size && bytes <= size - at;
      if (read) {
        std::memcpy(block_.data(), image + at, bytes);
        WriteBlock(section.address + kBlockWords * j, static_cast<int>(bytes), block_.data());
      }
      if (!read || !blockAcknowledged) {
        AppendLogLine(window, kBurnFailed);
        return read
                   ? Fail(FlashStep::Burn, StepReason::Nak, "program command not acknowledged")
                   : Fail(FlashStep::Image, StepReason::File, "image file changed before the burn");
      }
      burnDone_ += static_cast<int64_t>(bytes);
      image_.progressCount += kProgressPerBlock;
      ShowProgress();
    }
  }
  window.SetControlText(ctl::kPercentText, "");
  image_.progressCount = 0;
  AppendLogLine(window, kBurned);
  AppendLogLine(window, kBlankLine);
  return 1;
}

int FlashProgrammer::VerifyBlock(uint32_t address, int byteCount, const uint8_t* data) {
  int words = byteCount / 2;
  std::array<uint16_t, 4> fields = link_.parameters.verify.words;
  fields[3] = data ? VerifyChecksum(data, byteCount) : 0;
  uint8_t* record = link_.commandRecord.data();
  BuildCommandRecord(record, kVerifyCode, address, static_cast<uint16_t>(words), fields);
  bool acknowledged = link_.SendCommand(record, kRecordBytes, kVerifyCode) != 0;
  // The status is read even for an unacknowledged command, so that a late reply is
  // taken off the line.
  context_.clock.SleepMs(link_.parameters.verify.delayMs);
  int got = link_.ReceiveResult(link_.reply.data(), kMaxPayload);
  return acknowledged && got >= 2 && GetBe16(link_.reply.data()) == 0 ? 1 : 0;
}

int FlashProgrammer::FlashVerify(const std::string& path, bool logVerdict) {
  verifyPassed = false;
  // The file as it is now, read once: its sections are verified, and it is compared with
  // what was read for the burn.
  std::string now;
  if (const std::string* held = heldImage ? heldImage(path) : nullptr) {
    now = *held;
  } else if (ReadWholeFile(path, &now, kMaxImageBytes) != WholeFile::Read) {
    return Fail(FlashStep::Image, StepReason::File, "image file cannot be read for the verify");
  }
  const auto* image = reinterpret_cast<const uint8_t*>(now.data());
  SectionTable table;
  if (ReadSections(image, now.size(), table) == 0) {
    return Fail(FlashStep::Image, StepReason::File, "no sections to verify");
  }
  bool all = true;
  for (int s = 0; s < table.count; ++s) {
    const BinSection& section = table.sections[static_cast<size_t>(s)];
    const size_t length = static_cast<size_t>(section.end - section.start);
    if (section.end <= now.size()) {
      if (!VerifyBlock(section.address, static_cast<int>(length), image + section.start)) {
        all = false;
      }
      continue;
    }
    // A section that runs past the end is still asked about, with what there is of it, and
    // fails rather than being verified as zeros.
    std::vector<uint8_t> part(length + 1, 0);
    if (section.start < now.size()) {
      std::copy(image + section.start, image + now.size(), part.begin());
    }
    VerifyBlock(section.address, static_cast<int>(length), part.data());
    all = false;
  }
  // The CPU holds what was read for the burn: should the file differ from it now, what the
  // CPU holds is not the file's image.
  const bool unchanged = !snapshotTaken_ || now == sent_;
  verifyPassed = all && unchanged;
  if (logVerdict) AppendLogLine(context_.window, verifyPassed ? kVerified : kVerifyFailed);
  if (!unchanged) {
    Fail(FlashStep::Image, StepReason::File, "image file changed after it was read for the burn");
  } else if (!all) {
    Fail(FlashStep::Verify, StepReason::Checksum, "flash differs from the image");
  }
  return 1;
}

int FlashProgrammer::FlashClose() {
  uint8_t* record = link_.commandRecord.data();
  BuildCommandRecord(record, kClosingCode, 0, 0, link_.parameters.closing.words);
  outcome.closing = "unanswered";
  if (!link_.SendCommand(record, kRecordBytes, kClosingCode)) {
    return Fail(FlashStep::Close, StepReason::Nak, "closing command not acknowledged");
  }
  // The reply's status and data words are of no further use; it is acknowledged so that
  // the bootloader can hand over to the new firmware.
  if (link_.ReceiveData(link_.reply.data(), kMaxPayload) >= 2) {
    outcome.closing = "answered";
    return 1;
  }
  return Fail(FlashStep::Close, StepReason::NoAnswer, "no closing result");
}

bool FlashProgrammer::AlreadyHolds(const std::string& path) {
  if (!recordedAsHolding || outcome.bytes < 0 || !recordedAsHolding(cpu_, outcome.sha256)) {
    return false;
  }
  const FlashOutcome before = outcome;
  // A step of its own beside the verify that may follow: a record keeps each step's time
  // once, and a reader can tell the check from the verify after a burn.
  StepStarted(kCheckStep);
  const int64_t started = context_.clock.MonotonicMs();
  const int asked = FlashVerify(path, false);
  const bool holds = asked && verifyPassed;
  Timed(kCheckStep, started);
  // A flash that differs is no failure of the check: the CPU is then programmed.
  StepEnded(kCheckStep, asked != 0);
  if (!holds) {
    // What the check found is the reason to program, not a failure of the CPU.
    outcome.failedStep = before.failedStep;
    outcome.why = before.why;
    outcome.reason = before.reason;
    verifyPassed = false;
  }
  return holds;
}

bool FlashProgrammer::TakeSnapshot(const std::string& path) {
  snapshotTaken_ = true;
  sent_.clear();
  outcome.sha256.clear();
  outcome.bytes = -1;
  if (const std::string* held = heldImage ? heldImage(path) : nullptr) {
    sent_ = *held;
  } else if (ReadWholeFile(path, &sent_, kMaxImageBytes) != WholeFile::Read) {
    sent_.clear();
    return false;
  }
  Sha256 digest;
  digest.Update(reinterpret_cast<const uint8_t*>(sent_.data()), sent_.size());
  outcome.sha256 = digest.HexDigest();
  outcome.bytes = static_cast<int64_t>(sent_.size());
  return true;
}

void FlashProgrammer::Timed(const char* step, int64_t startedMs) {
  const int64_t elapsed = context_.clock.MonotonicMs() - startedMs;
  outcome.seconds.push_back({step, static_cast<double>(elapsed) / 1000.0});
}

int FlashProgrammer::AcceptImage(const std::string& path) {
  const std::string* held = heldImage ? heldImage(path) : nullptr;
  const ImageSurvey survey =
      held ? SurveyImage(reinterpret_cast<const uint8_t*>(held->data()), held->size())
           : SurveyImage(path);
  if (survey.verdict == ImageVerdict::Sound) return 1;
  AppendLogLine(context_.window, kBinFileError);
  ReportRefusedImage(context_.events, path, survey);
  return 0;
}

bool FlashProgrammer::BeginImage(const std::string& path, const std::string& cpu) {
  outcome = FlashOutcome{};
  context_.session.Serial().ForgetFailure();
  link_.counts = LinkCounts{};
  cpu_ = cpu;
  imageBegun_ = true;
  begunPath_ = path;
  TakeSnapshot(path);
  if (refuseImage) {
    // A file that cannot be read is refused too: nothing approved can be sent from it.
    std::string why = refuseImage(path, outcome.sha256);
    if (!why.empty()) {
      AppendLogLine(context_.window, std::string(kNotApproved) + why);
      if (context_.events.Listening()) {
        context_.events.Report(event::Refused{path, "not-approved", 0, why});
      }
      imageBegun_ = false;
      sent_ = std::string();
      snapshotTaken_ = false;
      Fail(FlashStep::Image, StepReason::File, why);
      return false;
    }
  }
  if (outcome.bytes >= 0 && context_.events.Listening()) {
    context_.events.Report(event::Image{path, outcome.sha256, outcome.bytes, cpu});
  }
  return true;
}

int FlashProgrammer::RunProgrammingSequence(const std::string& path, int cpuTarget) {
  CSerialLink& serial = context_.session.Serial();
  outcome = FlashOutcome{};
  serial.ForgetFailure();
  // A broken image is refused while the CPU still runs its firmware: nothing is sent.
  if (!AcceptImage(path)) {
    serial.Close();
    context_.window.SetProgressPos(ctl::kProgressBar, 0);
    return Fail(FlashStep::Image, StepReason::File, "not a sound inverter image");
  }
  const bool selects = cpuTarget == kMasterCpu || cpuTarget == kSlaveCpu;
  if (!BeginImage(path, cpuTarget == kMasterCpu  ? "master"
                        : cpuTarget == kSlaveCpu ? "slave"
                                                 : "")) {
    serial.Close();
    return 0;
  }
  if (selects) ReportStepStarted(FlashStep::Select);
  const int64_t selectStarted = context_.clock.MonotonicMs();
  serial.Open(context_.session.comPortNumber, 9600);
  // The outcome of the selection is not examined: the handshake tells. It is kept for
  // the record, which names the selection when the handshake then fails.
  int echoed = 1;
  if (cpuTarget == kMasterCpu) {
    link_.SetMasterParameters();
    echoed = link_.SelectCpu('M');
  }
  if (cpuTarget == kSlaveCpu) {
    link_.RestartSequence();
    link_.SetSlaveParameters();
    echoed = link_.SelectCpu('S');
  }
  serial.Close();
  const double selectSeconds =
      static_cast<double>(context_.clock.MonotonicMs() - selectStarted) / 1000.0;
  // The selection's echo is not the selection's verdict: the handshake after it is.
  if (selects) ReportStepEnded(FlashStep::Select, true);
  const int passed = ProgramSelectedCpu(path, echoed != 0);
  if (selects) {
    outcome.seconds.insert(outcome.seconds.begin(),
                           StepTime{FlashStepName(FlashStep::Select), selectSeconds});
  }
  return passed;
}

int FlashProgrammer::ProgramSelectedCpu(const std::string& path, bool selectionEchoed) {
  if ((!imageBegun_ || begunPath_ != path) && !BeginImage(path, "")) return 0;
  imageBegun_ = false;
  CSerialLink& serial = context_.session.Serial();
  Window& window = context_.window;
  const int port = context_.session.comPortNumber;
  window.SetProgressPos(ctl::kProgressBar, 0);
  auto timed = [this](FlashStep step, auto&& run) {
    const int64_t started = context_.clock.MonotonicMs();
    const int result = ReportedStep(step, run);
    Timed(FlashStepName(step), started);
    return result;
  };
  ReportStepStarted(FlashStep::Connect);
  // Opened, closed and opened again at the bootloader's speed, as the unit's line driver
  // has always been given it.
  const int64_t connectStarted = context_.clock.MonotonicMs();
  serial.Open(port, 19200);
  serial.Close();
  serial.Open(port, 19200);
  context_.clock.SleepMs(kBootloaderStartMs);
  verifyPassed = false;
  int passed = 0;
  const int connected = link_.ConnectInverter();
  Timed(FlashStepName(FlashStep::Connect), connectStarted);
  if (!connected && link_.Stopped()) {
    Fail(FlashStep::Connect, StepReason::Stopped, "stopped");
  } else if (!connected) {
    AppendLogLine(window, kCommunicationFailed);
    if (!serial.IsOpen()) {
      Fail(FlashStep::Connect, StepReason::Port, "port cannot be opened");
    } else if (selectionEchoed) {
      Fail(FlashStep::Connect, StepReason::NoAnswer, "no answer to the handshake");
    } else {
      Fail(FlashStep::Select, StepReason::NoAnswer, "CPU selection not echoed");
    }
  }
  ReportStepEnded(FlashStep::Connect, connected != 0);
  // A CPU that provably holds the image is verified, not erased and programmed again.
  const bool identical = connected && !verifyOnly && AlreadyHolds(path);
  if (identical) {
    AppendLogLine(window, kIdentical);
    outcome.skipped = true;
    for (FlashStep step : {FlashStep::Erase, FlashStep::Burn}) {
      ReportStepStarted(step);
      if (context_.events.Listening()) {
        context_.events.Report(
            event::StepEnded{FlashStepName(step), cpu_, event::Outcome::Skipped});
      }
    }
    timed(FlashStep::Close, [this] { return FlashClose(); });
    passed = 1;
  }
  const bool written = connected && !identical &&
                       (verifyOnly || (timed(FlashStep::Erase, [this] { return FlashErase(); }) &&
                                       timed(FlashStep::Burn, [&] { return FlashBurn(path); })));
  if (written) {
    // The verify answers 1 once every section was asked about; its verdict is verifyPassed,
    // and the closing command follows either way.
    ReportStepStarted(FlashStep::Verify);
    const int64_t verifyStarted = context_.clock.MonotonicMs();
    const int asked = FlashVerify(path);
    Timed(FlashStepName(FlashStep::Verify), verifyStarted);
    ReportStepEnded(FlashStep::Verify, asked && verifyPassed);
    if (asked) {
      timed(FlashStep::Close, [this] { return FlashClose(); });
      passed = verifyPassed ? 1 : 0;
    }
  }
  // A step that failed for want of an answer may have met a port that went away since.
  if (!passed) serial.CheckPort();
  if (PortWentAway()) {
    AppendLogLine(window, FormatText(kPortGoneFormat, serial.PortName().c_str()));
    // The step that failed failed for that reason.
    if (outcome.failedStep != FlashStep::None && !link_.Stopped()) {
      outcome.why = StepReason::Port;
      outcome.reason = "the port went away";
    }
  }
  serial.Close();
  // The bar and its figure go back together: a burn cut short leaves no percentage behind.
  window.SetProgressPos(ctl::kProgressBar, 0);
  window.SetControlText(ctl::kPercentText, "");
  outcome.link = link_.counts;
  // The copy is of no use once the CPU is done; a large image is not held between CPUs.
  sent_ = std::string();
  snapshotTaken_ = false;
  return passed;
}

}  // namespace morlane
