#pragma once

#include <string_view>

namespace morlane::image_text {

// Message boxes of the S-record reader and the row builder.
inline constexpr std::string_view kReadFileError = "Read File Error !";
inline constexpr std::string_view kS19FileErrorA = "S19 File Error (A) !";
inline constexpr std::string_view kS19FileErrorB = "S19 File Error (B) !";
inline constexpr std::string_view kTxtWriteError = "TXT File Write Error !";
inline constexpr std::string_view kBinWriteError = "BIN File Write Error !";

// Log lines of the preparation steps.
inline constexpr std::string_view kOpenDeviceFirst = "Please open device first!";
inline constexpr std::string_view kUnsupportedMcu = "Unsupport This Type MCU!";
inline constexpr std::string_view kS19ListError = "Build S19 block list error";
inline constexpr std::string_view kS19ListOk = "Build S19 block list OK";
inline constexpr std::string_view kRawListError = "Build Raw block list error";
inline constexpr std::string_view kRawListOk = "Build Raw block list OK";
inline constexpr std::string_view kTxtError = "Write to tmp.txt file error";
inline constexpr std::string_view kTxtOk = "Write to tmp.txt file OK";
inline constexpr std::string_view kBinError = "Write to tmp.bin file error";
inline constexpr std::string_view kBinOk = "Write to tmp.bin file OK";
inline constexpr std::string_view kUsbFileNameIs = "The USB firmware file name is";

// Images the row format of tmp.bin cannot carry. Each is followed by the step's error line.
inline constexpr std::string_view kNoDataRecord =
    "Image refused: no data record before the last S19 record";
inline constexpr const char* kShortRecordFormat =
    "Image refused: S19 record at %04X has a byte count below 3";
inline constexpr const char* kCutRecordFormat =
    "Image refused: S19 record at %04X holds fewer data bytes than its count";
inline constexpr const char* kLongRowFormat = "Image refused: row at %04X would exceed 255 bytes";
inline constexpr const char* kBadRowSizeFormat = "Image refused: row size %d";

}  // namespace morlane::image_text
