#include "image/usb_firmware.h"

#include <filesystem>

#include "image/image_texts.h"
#include "platform/utf8_path.h"
#include "ui/control_ids.h"
#include "ui/log.h"

namespace morlane {

namespace {

constexpr int kHidRowSize = 32;
constexpr int kSerialRowSize = 128;

}  // namespace

UsbFirmware::UsbFirmware(DialogContext& context) : image(context.window), context_(context) {}

int UsbFirmware::ChooseSettings() {
  Window& window = context_.window;
  DeviceSession& session = context_.session;
  if (session.sessionState == SessionState::Hid && session.Hid().IsOpen() == 1) {
    image.rowSize = kHidRowSize;
    image.skipFirst = true;
    return 1;
  }
  if (session.sessionState == SessionState::Serial) {
    const InterfaceEntry* entry = session.SelectedEntry();
    const std::string name = entry ? entry->name : std::string();
    // Only the BX and BZ units take their image over the serial line.
    if (name.find("BX") == std::string::npos && name.find("BZ") == std::string::npos) {
      AppendLogLine(window, image_text::kUnsupportedMcu);
      return -1;
    }
    image.rowSize = kSerialRowSize;
    image.skipFirst = false;
    return 1;
  }
  // No usable link: the build still runs, with the settings of the last build.
  AppendLogLine(window, image_text::kOpenDeviceFirst);
  return 0;
}

int UsbFirmware::PrepareUsbFirmware(const std::string& path) {
  RunEvents& events = context_.events;
  ReportStepStarted(events, "prepare");
  why_ = StepReason::None;
  detail_.clear();
  const int prepared = Prepare(path);
  // The step is the making of the two files; a missing link is the log's concern.
  ReportStepEnded(events, "prepare", {}, filesWritten == 1, why_, detail_);
  return prepared;
}

int UsbFirmware::Failed(StepReason why, std::string detail) {
  why_ = why;
  detail_ = std::move(detail);
  return 0;
}

int UsbFirmware::Prepare(const std::string& path) {
  Window& window = context_.window;
  filesWritten = 0;
  int linkFound = ChooseSettings();
  if (linkFound < 0) return Failed(StepReason::Port, "the unit on this link takes no MCU image");
  const std::string* held = heldImage ? heldImage(path) : nullptr;
  if (!(held ? image.ParseS19Text(*held) : image.BuildS19BlockList(path))) {
    AppendLogLine(window, image_text::kS19ListError);
    ReportRefusal(path);
    return Failed(StepReason::File, "the S-record file was refused");
  }
  AppendLogLine(window, image_text::kS19ListOk);
  if (!image.BuildRawBlockList()) {
    AppendLogLine(window, image_text::kRawListError);
    ReportRefusal(path);
    return Failed(StepReason::File, "the S-record file's records do not fit the image");
  }
  AppendLogLine(window, image_text::kRawListOk);
  if (!image.WriteTxtFile(PathToUtf8(context_.InWorkingDir("tmp.txt")))) {
    AppendLogLine(window, image_text::kTxtError);
    return Failed(StepReason::File, "tmp.txt cannot be written");
  }
  AppendLogLine(window, image_text::kTxtOk);
  if (!image.WriteBinFile(PathToUtf8(context_.InWorkingDir("tmp.bin")))) {
    AppendLogLine(window, image_text::kBinError);
    return Failed(StepReason::File, "tmp.bin cannot be written");
  }
  AppendLogLine(window, image_text::kBinOk);
  filesWritten = 1;
  return linkFound == 1 ? 1 : 0;
}

void UsbFirmware::ReportRefusal(const std::string& path) {
  const S19Refusal& refusal = image.refusal;
  if (!context_.events.Listening() || refusal.reason.empty()) return;
  context_.events.Report(event::Refused{path, refusal.reason, refusal.line, refusal.detail});
}

int UsbFirmware::OnSelectUsbFirmware() {
  Window& window = context_.window;
  AppendLogLine(window, kDash36);
  // The file dialogs of both windows leave the process's current directory as it is, so
  // tmp.txt and tmp.bin go to the working directory whatever folder was browsed.
  FileDialogRequest request{"*.S19", "*.S19", "FirmWare Files (*.S19)|*.S19|All Files (*.*)|*.*|",
                            true};
  std::optional<std::string> chosen = window.OpenFileDialog(request);
  if (!chosen) return 0;
  AppendLogLine(window, image_text::kUsbFileNameIs);
  AppendLogLine(window, *chosen);
  int result = PrepareUsbFirmware(*chosen);
  window.EnableControl(ctl::kUpdateUsbFirmware, result == 1);
  AppendLogLine(window, kDash36);
  return result;
}

}  // namespace morlane
