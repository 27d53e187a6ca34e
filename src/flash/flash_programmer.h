#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "flash/bin_file.h"
#include "flash/boot_link.h"
#include "link/dialog_context.h"
#include "link/image_buffer.h"
#include "ui/run_events.h"

namespace morlane {

// The step of one CPU's programming that went wrong first, so that a record of the run
// can say where a unit failed without reading the log's wording back.
enum class FlashStep { None, Image, Select, Connect, Erase, Burn, Verify, Close };

// "image", "select", "connect", "erase", "burn", "verify", "close"; "" for None.
const char* FlashStepName(FlashStep step);

// The verify before an erase that finds whether the CPU already holds the image; it fails
// nothing, so it is no FlashStep, but its time and events carry this name.
inline constexpr const char* kCheckStep = "check";

// How long one step of a CPU's programming took.
struct StepTime {
  const char* step;  // a FlashStepName
  double seconds;
};

struct FlashOutcome {
  FlashStep failedStep = FlashStep::None;
  StepReason why = StepReason::None;
  std::string reason;  // why, in a few words, when a step failed
  // The image as the programmer read it once for the burn, before the handshake: every
  // byte sent comes from that copy, so its digest is the digest of what the CPU was given.
  // Empty (and bytes -1) when the file could not be read.
  std::string sha256;
  int64_t bytes = -1;
  // In the order the steps ran.
  std::vector<StepTime> seconds;
  // "answered" or "unanswered" once the closing command was sent; empty before.
  std::string closing;
  // The CPU already held the image and was neither erased nor programmed.
  bool skipped = false;
  LinkCounts link;
};

// Whether the CPU's selection or handshake failed: nothing was erased, another try is safe.
bool HandshakeFailed(const FlashOutcome& outcome);

// An outcome that failed at step before anything was sent.
FlashOutcome FailedAt(FlashStep step, StepReason why, std::string reason);

// The 16-bit sum of the words (each high byte first) that the verify command carries.
uint16_t VerifyChecksum(const uint8_t* data, int byteCount);

// Programs one CPU from an image file: CPU selection, the switch to the bootloader's
// speed, handshake, erase, burn, verify and the closing command.
class FlashProgrammer {
 public:
  FlashProgrammer(DialogContext& context, ImageBuffer& image, BootLink& link);

  int FlashErase();
  // One program command per chunk of at most 228 bytes, each with its status poll.
  int WriteBlock(uint32_t address, int byteCount, const uint8_t* data);
  int FlashBurn(const std::string& path);
  int VerifyBlock(uint32_t address, int byteCount, const uint8_t* data);
  // 1 whenever every section was sent for verification, whatever the verdict (the
  // closing command follows a failed verification as well); the verdict is in
  // verifyPassed.
  int FlashVerify(const std::string& path, bool logVerdict = true);
  int FlashClose();

  // The whole sequence for cpuTarget (0 master, 1 slave; any other value selects no CPU
  // but runs the rest). 1 only when erase, burn and verify all passed.
  int RunProgrammingSequence(const std::string& path, int cpuTarget);
  // From the switch to 19200 baud on, with the CPU already handed over; the port ends
  // closed. 1 only when erase, burn and verify all passed. selectionEchoed tells the
  // outcome whether a failed handshake followed a selection the unit did not echo.
  int ProgramSelectedCpu(const std::string& path, bool selectionEchoed = true);
  // Judges the whole section table before anything is sent; a refused image is logged
  // as "Bin file is error!\n".
  int AcceptImage(const std::string& path);

  // Reads the image for the CPU ("master", "slave" or empty) once, takes its digest and
  // reports it; the steps that follow name that CPU. ProgramSelectedCpu does it itself
  // when nobody did before it. false when refuseImage refused the bytes read: the image
  // then failed at step "image" and nothing may be sent for it.
  bool BeginImage(const std::string& path, const std::string& cpu);
  // The events of one step: started, and ended with the reason of the last failure the
  // step met.
  void ReportStepStarted(FlashStep step);
  void ReportStepEnded(FlashStep step, bool passed);
  void ReportStepFailed(FlashStep step, StepReason why, std::string detail);

  // Set for a check of what the CPU holds: the sequence runs without the erase and the
  // burn (no erase or program frame is sent); the verify and the closing command follow
  // the handshake. 1 only when every section matched.
  bool verifyOnly = false;

  // Asked, when set, once the image is read and the CPU has answered the handshake:
  // whether the unit's records say it last passed with these very bytes (by their SHA-256)
  // on this CPU. Only then is the flash verified first and, when every section matches,
  // left as it is. The verify's 16-bit sums alone could not tell two images apart.
  std::function<bool(const std::string& cpu, const std::string& sha256)> recordedAsHolding;

  // Asked, when set, of the very bytes read for a CPU (by their SHA-256) before its
  // selection: why they may not be sent, or "" when they may. A production station
  // approves only its profile's images, so a file swapped after the station checked it is
  // still never sent.
  std::function<std::string(const std::string& path, const std::string& sha256)> refuseImage;

  // Asked, when set, for an image's bytes read before the run began: the image is then
  // judged, sent and verified from those bytes and the file is not read again, so that a
  // file replaced while a unit runs changes nothing for it. Null: the file is read.
  std::function<const std::string*(const std::string& path)> heldImage;

  // Whether the port itself failed during the last CPU's programming (not because the run
  // was stopped): nothing more can reach the unit on it.
  bool PortWentAway() const;

  // Cleared when a program command was not acknowledged; the burn stops on it.
  int blockAcknowledged = 1;
  bool verifyPassed = false;
  // The last programming sequence's first failure, beside its 1/0. A closing command
  // that goes unanswered after a passed verification is recorded here as "close" while
  // the sequence still answers 1, as the dialog has always counted a verified CPU.
  FlashOutcome outcome;

 private:
  void ShowProgress();
  // Reads the whole image into sent_ and takes its digest; false when it cannot be read.
  bool TakeSnapshot(const std::string& path);
  void Timed(const char* step, int64_t startedMs);
  // Records the step unless an earlier one failed already; returns 0 for the caller.
  int Fail(FlashStep step, StepReason why, std::string reason);
  // Verifies before anything is erased, when the records say the CPU holds the image;
  // true when it does. A mismatch is no failure: the CPU is then programmed as always.
  bool AlreadyHolds(const std::string& path);
  // A step's events by its name: the check has no FlashStep.
  void StepStarted(const char* step);
  void StepEnded(const char* step, bool passed);
  // Runs one step between its two events.
  template <typename Run>
  int ReportedStep(FlashStep step, Run&& run);

  DialogContext& context_;
  ImageBuffer& image_;
  BootLink& link_;
  std::array<uint8_t, 256> block_{};
  // The image's bytes as read for this CPU's burn; verify compares the file against them.
  std::string sent_;
  bool snapshotTaken_ = false;
  bool imageBegun_ = false;
  std::string begunPath_;
  std::string cpu_;
  // The last failure met, whichever step was first: what a step's end reports.
  StepReason lastWhy_ = StepReason::None;
  std::string lastReason_;
  // The burn's progress in bytes, and the figure last reported.
  int64_t burnDone_ = 0;
  int64_t burnTotal_ = 0;
  int lastPercent_ = -1;
};

}  // namespace morlane
