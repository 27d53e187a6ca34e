#include "flash/inverter_flasher.h"

#include "flash/bin_file.h"
#include "flash/flash_texts.h"
#include "ui/log.h"

namespace morlane {

InverterFlasher::InverterFlasher(DialogContext& context, ImageBuffer& image)
    : context_(context),
      image_(image),
      link_(context.session.Serial(), context.clock, context.window),
      programmer_(context, image, link_) {}

int InverterFlasher::CheckBinFile(const std::string& path) {
  return morlane::CheckBinFile(path);
}

int InverterFlasher::CheckImage(const std::string& path) {
  const std::string* held = programmer_.heldImage ? programmer_.heldImage(path) : nullptr;
  if (!held) return CheckBinFile(path);
  return held->size() >= 2 && static_cast<uint8_t>((*held)[0]) == 0x08 &&
                 static_cast<uint8_t>((*held)[1]) == 0xAA
             ? 1
             : 0;
}

ImageSurvey InverterFlasher::SurveyOf(const std::string& path) {
  const std::string* held = programmer_.heldImage ? programmer_.heldImage(path) : nullptr;
  if (!held) return SurveyImage(path);
  return SurveyImage(reinterpret_cast<const uint8_t*>(held->data()), held->size());
}

int InverterFlasher::LoadImage(const std::string& path) {
  const std::string* held = programmer_.heldImage ? programmer_.heldImage(path) : nullptr;
  return held ? image_.LoadImageBytes(*held) : image_.LoadImageFile(path);
}

void InverterFlasher::ResetBootLink() {
  link_.ResetBootLink();
}

bool HandshakeFailed(const FlashOutcome& outcome) {
  return outcome.failedStep == FlashStep::Select || outcome.failedStep == FlashStep::Connect;
}

void InverterFlasher::LogRetry(int attempt) {
  AppendLogLine(context_.window, FormatText(flashtext::kRetryFormat, attempt, handshakeRetries));
}

int InverterFlasher::RunProgrammingSequence(const std::string& path, int cpuTarget) {
  int passed = programmer_.RunProgrammingSequence(path, cpuTarget);
  for (int attempt = 1; !passed && attempt <= handshakeRetries &&
                        HandshakeFailed(programmer_.outcome) && !programmer_.PortWentAway();
       ++attempt) {
    LogRetry(attempt);
    passed = programmer_.RunProgrammingSequence(path, cpuTarget);
  }
  return passed;
}

}  // namespace morlane
