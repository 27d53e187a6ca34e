#pragma once

#include <string_view>

namespace morlane::flashtext {

// The log lines of the CPU programming, character for character as the technicians know
// them (the spelling included).
inline constexpr std::string_view kConnected = "Connected inverter Sucessful!\n";
inline constexpr std::string_view kConnectFailed = "Connected inverter Fail!\n";
inline constexpr std::string_view kCommunicationFailed =
    "the communicaton with inverter is fail,please check it!";
inline constexpr std::string_view kBlankLine = "            \n";
inline constexpr std::string_view kErasing = "Flash Erasing...\n";
inline constexpr std::string_view kErased = "Flash Erased Successful!\n";
inline constexpr std::string_view kEraseFailed = "Flash Erased Fail!\n";
inline constexpr std::string_view kBinFileError = "Bin file is error!\n";
inline constexpr std::string_view kBurning = "Flash burning in...\n";
inline constexpr std::string_view kBurnFailed = "Bruned failure\n";
inline constexpr std::string_view kBurned = "Flash update firmware Successful!\n";
inline constexpr std::string_view kVerified = "Flash verified Successful!!\n";
inline constexpr std::string_view kVerifyFailed = "Flash verified fail!\n";
inline constexpr std::string_view kIdentical = "Flash content identical, not programmed";
// A production station's own lines: an image its profile does not approve, and another
// try of a CPU whose handshake failed.
inline constexpr std::string_view kNotApproved = "Image not approved for this station: ";
inline constexpr const char* kRetryFormat = "Handshake failed, trying again (%d of %d)";
// A station told to stop now: the CPU being reached is left as it is.
inline constexpr std::string_view kStopped = "Stopped before this CPU was reached: not programmed";

// After the dialog's own failure line, when the port itself failed (the CPU's programming
// stops there and no further CPU is tried on it): the port as the technician gave it.
inline constexpr const char* kPortGoneFormat =
    "the port %s went away: is the cable or adapter unplugged?";

// The automatic update.
inline constexpr std::string_view kNoBinFile =
    "there are not the bin file,please check your software \n";
inline constexpr std::string_view kInstallDirectory = "install directory!\n";
// After the two lines above: where the images were looked for.
inline constexpr std::string_view kSearchedFolder = "Images (*.bin) were searched for in ";
inline constexpr std::string_view kBadImage = "bin file Error";
inline constexpr const char* kNeitherCpuFormat = "%s is not master file or slave file\n";
inline constexpr std::string_view kFileNameIs = "The MCU firmware file name is";
inline constexpr std::string_view kImageOk = "bin file OK";
inline constexpr std::string_view kAllBurned = "File flash burn Successful!\n";
inline constexpr std::string_view kNotAllBurned = "File flash burn Fail!\n";

}  // namespace morlane::flashtext
