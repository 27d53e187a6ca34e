#include "ui/control_table.h"

#include <array>

#include "ui/control_ids.h"

namespace morlane {

namespace {

using K = ControlKind;

constexpr std::array kMainControls{
    ControlSpec{0, K::GroupBox, "Interface", 7, 8, 175, 45, true, true},
    ControlSpec{ctl::kInterfaceCombo, K::ComboBox, "", 22, 27, 79, 41, true, true},
    ControlSpec{ctl::kOpen, K::PushButton, "Open", 120, 27, 52, 13, true, true},
    ControlSpec{1026, K::GroupBox, "MCU Firmware Update", 7, 62, 176, 140, true, true},
    ControlSpec{ctl::kModeAuto, K::ManualCheckBox, "Auto", 14, 81, 30, 9, true, false},
    ControlSpec{ctl::kModeManual, K::CheckBox, "Manual", 14, 108, 42, 10, true, false},
    ControlSpec{ctl::kAutomatic, K::PushButton, "Automatic", 62, 78, 87, 14, true, false},
    ControlSpec{ctl::kSelectFirmware, K::PushButton, "Select Firmware File", 62, 105, 87, 15, true,
                false},
    ControlSpec{ctl::kStatusText, K::StaticText, "", 20, 130, 21, 10, true, true},
    ControlSpec{ctl::kUpdateFirmware, K::PushButton, "Update Firmware", 62, 132, 88, 16, true,
                false},
    ControlSpec{1056, K::StaticText, "Firmware Update Progress:", 17, 157, 102, 8, true, true},
    ControlSpec{ctl::kPercentText, K::StaticText, "", 127, 158, 21, 10, true, true},
    ControlSpec{ctl::kProgressBar, K::ProgressBar, "", 14, 173, 155, 12, true, true},
    ControlSpec{1006, K::StaticText, "Log Information:", 201, 12, 67, 8, true, true},
    ControlSpec{ctl::kClearLog, K::PushButton, "Clear Log", 355, 7, 50, 11, true, true},
    ControlSpec{ctl::kLogList, K::ListBox, "", 186, 25, 224, 177, true, true},
    ControlSpec{ctl::kClose, K::PushButton, "Close", 316, 73, 58, 12, false, false},
    ControlSpec{ctl::kCancelUpdate, K::PushButton, "Cancel Update", 239, 64, 57, 11, false, false},
    ControlSpec{ctl::kSelectUsbFirmware, K::PushButton, "Select Firmware File", 273, 59, 87, 12,
                false, false},
    ControlSpec{ctl::kUpdateUsbFirmware, K::PushButton, "Update Firmware", 237, 89, 65, 12, false,
                false},
    ControlSpec{ctl::kUsbProgress, K::ProgressBar, "", 228, 47, 140, 12, false, true},
    ControlSpec{ctl::kSend, K::PushButton, "Send", 213, 95, 39, 12, false, false},
    ControlSpec{ctl::kStart, K::PushButton, "Start", 280, 79, 46, 11, false, false},
    ControlSpec{ctl::kStop, K::PushButton, "Stop", 241, 78, 45, 11, false, false},
    ControlSpec{ctl::kCommandEdit, K::Edit, "", 239, 170, 74, 12, false, true},
    ControlSpec{ctl::kProtectSection, K::CheckBox, "Update Protect Section", 202, 93, 106, 12,
                false, true},
    ControlSpec{ctl::kPlusEnter, K::CheckBox, "+Enter", 226, 79, 38, 12, false, true},
    ControlSpec{ctl::kCheckQ1, K::CheckBox, "Q1", 18, 193, 35, 9, false, true},
    ControlSpec{ctl::kCheckLf, K::CheckBox, "Lf?", 327, 93, 32, 9, false, true},
    ControlSpec{ctl::kCheckBl, K::CheckBox, "Bl?", 373, 129, 32, 9, false, true},
    ControlSpec{ctl::kCheckV2, K::CheckBox, "V2", 197, 125, 34, 11, false, true},
    ControlSpec{ctl::kCheckV3, K::CheckBox, "V3", 240, 135, 34, 11, false, true},
    ControlSpec{ctl::kCheckBtun, K::CheckBox, "BTUN", 273, 125, 36, 11, false, true},
    ControlSpec{ctl::kCheckSi, K::CheckBox, "Si?", 310, 79, 36, 11, false, true},
    ControlSpec{ctl::kCheckBrr, K::CheckBox, "BRR", 320, 111, 38, 11, false, true},
    ControlSpec{ctl::kCheckUas, K::CheckBox, "UAS", 364, 111, 41, 11, false, true},
    ControlSpec{ctl::kCheckCf, K::CheckBox, "CF", 242, 109, 32, 11, false, true},
    ControlSpec{ctl::kCheckCf2, K::CheckBox, "CF2", 197, 109, 36, 11, false, true},
    ControlSpec{ctl::kCheckFwv, K::CheckBox, "FWV", 279, 113, 44, 11, false, true},
};

constexpr std::array kAboutControls{
    ControlSpec{0, K::StaticText, "", 11, 17, 21, 20, true, true},  // the application icon
    ControlSpec{1, K::PushButton, "OK", 178, 34, 50, 14, true, true},
};

}  // namespace

const DialogTemplate& MainDialogTemplate() {
  static const DialogTemplate main{"Morlane V1.0", 413, 208, "SimSun", 9, kMainControls};
  return main;
}

const DialogTemplate& AboutDialogTemplate() {
  static const DialogTemplate about{"About Tessaly", 235, 55, "SimSun", 9, kAboutControls};
  return about;
}

const ControlSpec* FindControl(int id) {
  for (const auto& control : kMainControls) {
    if (control.id == id && id != 0) return &control;
  }
  return nullptr;
}

}  // namespace morlane
