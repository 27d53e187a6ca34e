#include "app/update_dispatch.h"

#include "flash/bin_file.h"
#include "ui/control_ids.h"
#include "ui/log.h"

namespace morlane {

UpdateDispatch::UpdateDispatch(DialogContext& context, ImageBuffer& image, InverterFlasher& flasher)
    : context_(context), image_(image), flasher_(flasher), mcu_(context, image) {}

int UpdateDispatch::OnUpdateFirmware() {
  switch (context_.session.sessionState) {
    case SessionState::Hid:
      return UpdateOverHid();
    case SessionState::Serial:
      return UpdateOverSerial();
    default:
      AppendLogLine(context_.window, "Please open device first!");
      return 0;
  }
}

int UpdateDispatch::UpdateOverHid() {
  Window& window = context_.window;
  CHIDControl& hid = context_.session.Hid();
  if (hid.IsOpen() != 1) {
    AppendLogLine(window, "Please open device first!");
    return 0;
  }
  AppendLogLine(window, "MCU ready for firmware update");
  window.EnableControl(ctl::kUpdateFirmware, false);
  window.EnableControl(ctl::kSelectFirmware, false);
  // Tells the unit which CPU the image is for; no answer is read here.
  if (context_.selection.cpuTarget == 0) {
    hid.WriteCommand(" fMast");
  } else if (context_.selection.cpuTarget == 1) {
    hid.WriteCommand(" fSlav");
  }
  context_.values.SaveFromControls(window);
  // Over USB the image sent is tmp.bin; the chosen file only decided the CPU.
  int result = mcu_.UpdateMcuOverHid();
  window.EnableControl(ctl::kSelectFirmware, true);
  return result;
}

int UpdateDispatch::UpdateOverSerial() {
  Window& window = context_.window;
  const std::string& path = context_.selection.firmwarePath;
  // Not an inverter image, or no such file: nothing happens in the window at all; a
  // program listening is told why.
  if (!flasher_.CheckImage(path)) {
    ReportRefusedImage(context_.events, path, flasher_.SurveyOf(path));
    return 0;
  }
  image_.imageLength = flasher_.LoadImage(path);
  window.EnableControl(ctl::kUpdateFirmware, false);
  window.EnableControl(ctl::kSelectFirmware, false);
  int result = flasher_.RunProgrammingSequence(path, context_.selection.cpuTarget);
  window.EnableControl(ctl::kSelectFirmware, true);
  AppendLogLine(window, kDash36);
  return result;
}

}  // namespace morlane
