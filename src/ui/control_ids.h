#pragma once

namespace morlane::ctl {

// Control ids of the main dialog template.
inline constexpr int kLogList = 1005;
inline constexpr int kClearLog = 1007;
inline constexpr int kOpen = 1002;
inline constexpr int kClose = 1037;
inline constexpr int kInterfaceCombo = 1050;
inline constexpr int kCommandEdit = 1009;
inline constexpr int kSend = 1010;
inline constexpr int kStart = 1024;
inline constexpr int kStop = 1025;
inline constexpr int kSelectFirmware = 1028;
inline constexpr int kUpdateFirmware = 1036;
inline constexpr int kAutomatic = 1066;
inline constexpr int kCancelUpdate = 1039;
inline constexpr int kSelectUsbFirmware = 1053;
inline constexpr int kUpdateUsbFirmware = 1052;
inline constexpr int kUsbProgress = 1030;
inline constexpr int kProgressBar = 1029;
inline constexpr int kPercentText = 1034;
inline constexpr int kStatusText = 1054;
inline constexpr int kModeAuto = 1016;
inline constexpr int kModeManual = 1063;
inline constexpr int kProtectSection = 1038;
inline constexpr int kPlusEnter = 1033;
inline constexpr int kCheckQ1 = 1013;
inline constexpr int kCheckLf = 1014;
inline constexpr int kCheckBl = 1015;
inline constexpr int kCheckV2 = 1017;
inline constexpr int kCheckV3 = 1018;
inline constexpr int kCheckBtun = 1019;
inline constexpr int kCheckSi = 1021;
inline constexpr int kCheckBrr = 1022;
inline constexpr int kCheckUas = 1040;
inline constexpr int kCheckCf = 1041;
inline constexpr int kCheckCf2 = 1042;
inline constexpr int kCheckFwv = 1043;

// System-menu command of the About entry.
inline constexpr int kAboutCommand = 0x0010;
// The window's own entry that turns the service view on and off; never reaches the dialog.
inline constexpr int kServiceViewCommand = 0x0020;
// The window's own entry that presses "Close", which only the service view shows.
inline constexpr int kCloseLinkCommand = 0x0030;
// The window's own entry that chooses the dialog's working folder.
inline constexpr int kWorkingFolderCommand = 0x0040;
// The window menu's "Open Package...": a service package to program from.
inline constexpr int kOpenPackageCommand = 0x0050;

}  // namespace morlane::ctl
