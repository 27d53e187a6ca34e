#include "update/mcu_update.h"

#include <algorithm>
#include <array>
#include <string>

#include "platform/utf8_path.h"
#include "ui/control_ids.h"
#include "ui/log.h"
#include "ui/window.h"

namespace morlane {

namespace {

constexpr char kNotReady[] = "System not ready. Please repeat the flash action again !";
constexpr char kReportTooShort[] = "USB report too short for firmware blocks (69 bytes needed) !";
constexpr char kMapError[] = "Map bin file Error";
constexpr char kMapOk[] = "Map bin file OK";
constexpr char kTimeOut[] = "Time out !";
constexpr char kReceiveError[] = "Receive Error !";
constexpr char kInstallOk[] = "Install successful";
constexpr char kImageFile[] = "tmp.bin";

// Where the unit's memory regions start; fixed, whatever the image.
constexpr uint32_t kAddressTable[] = {0, 1024, 2048, 3072, 4096, 32768, 65536, 98304};

void PutBigEndian32(uint8_t* at, uint32_t value) {
  at[0] = static_cast<uint8_t>(value >> 24);
  at[1] = static_cast<uint8_t>(value >> 16);
  at[2] = static_cast<uint8_t>(value >> 8);
  at[3] = static_cast<uint8_t>(value);
}

// 0x00 and codes with the top bit set are what the controller leaves in its buffer
// when it has nothing to say: no answer, not an error.
bool Usable(int readResult, const CHIDControl::Reply& reply) {
  return readResult == 1 && reply[0] != 0x00 && (reply[0] & 0x80) == 0;
}

}  // namespace

McuUpdater::McuUpdater(DialogContext& context, ImageBuffer& image)
    : context_(context), image_(image) {}

int McuUpdater::UpdateMcuOverHid() {
  RunEvents& events = context_.events;
  const int cpuTarget = context_.selection.cpuTarget;
  const std::string cpu = cpuTarget == 0 ? "master" : cpuTarget == 1 ? "slave" : "";
  ReportStepStarted(events, "mcu-update", cpu);
  why_ = StepReason::None;
  detail_.clear();
  lastPercent_ = -1;
  const int installed = RunUpdate();
  ReportStepEnded(events, "mcu-update", cpu, installed != 0, why_, detail_);
  return installed;
}

int McuUpdater::Failed(StepReason why, const char* detail) {
  why_ = why;
  detail_ = detail;
  return 0;
}

int McuUpdater::RunUpdate() {
  Window& window = context_.window;
  CHIDControl& hid = context_.session.Hid();

  CHIDControl::Reply selectionReply{};
  mcuReady = hid.ReadReply(selectionReply) == 1 && selectionReply[0] == kReadyCode ? 1 : 0;
  if (!mcuReady) {
    window.MessageBox(kNotReady);
    return Failed(StepReason::NoAnswer, "the MCU did not say it is ready");
  }
  mcuReady = 0;
  if (hid.Caps().outputReportLength < kDataReportLength) {
    window.MessageBox(kReportTooShort);
    return Failed(StepReason::Port, "USB report too short for firmware blocks");
  }

  AppendLogLine(window, kDash36);
  image_.imageLength = image_.LoadImageFile(PathToUtf8(context_.InWorkingDir(kImageFile)));
  if (image_.imageLength < 0) {
    AppendLogLine(window, kMapError);
    return Failed(StepReason::File, "tmp.bin cannot be read");
  }
  AppendLogLine(window, kMapOk);

  int installed = 0;
  context_.clock.SleepMs(kHandshakeWaitMs);
  SendAddressTable();
  int tableRead = hid.ReadReply(firstHandshakeReply);
  context_.clock.SleepMs(kHandshakeWaitMs);
  if (tableRead == 1 && firstHandshakeReply[0] == kTableAccepted) SendSize();
  // Even without the table accepted a reply is awaited; only 0x11 starts the transfer.
  int sizeRead = hid.ReadReply(secondHandshakeReply);
  if (sizeRead == 1 && secondHandshakeReply[0] == kAccepted) {
    installed = TransferImage();
  } else {
    Failed(sizeRead == 1 ? StepReason::Status : StepReason::NoAnswer,
           "the image's address table or size was not accepted");
  }

  ResetControls();
  AppendLogLine(window, kDash36);
  return installed;
}

void McuUpdater::SendAddressTable() {
  std::array<uint8_t, 2 + 4 * std::size(kAddressTable)> report{};
  report[0] = 'W';
  report[1] = static_cast<uint8_t>(std::size(kAddressTable));
  for (size_t i = 0; i < std::size(kAddressTable); ++i) {
    PutBigEndian32(report.data() + 2 + 4 * i, kAddressTable[i]);
  }
  context_.session.Hid().WriteData(report.data(), static_cast<int>(report.size()));
}

void McuUpdater::SendSize() {
  std::array<uint8_t, 8> report{};
  PutBigEndian32(report.data() + 4, static_cast<uint32_t>(image_.imageLength));
  context_.session.Hid().WriteData(report.data(), static_cast<int>(report.size()));
}

// The figure runs one block ahead and so reads 101 (or more) in the end cycle; only the
// bar stops at its end.
void McuUpdater::ShowTransferPercent() {
  const int percent =
      ShowPercent(context_.window, image_.progressCount, image_.imageLength, PercentText::Raw);
  if (percent == lastPercent_ || !context_.events.Listening()) return;
  lastPercent_ = percent;
  const int64_t total = std::max(image_.imageLength, 0);
  context_.events.Report(event::Progress{
      "mcu-update", std::min<int64_t>(image_.progressCount, total), total, percent});
}

void McuUpdater::SendNextReport() {
  CHIDControl& hid = context_.session.Hid();
  const int length = image_.imageLength;
  int remaining = length - image_.progressCount;
  // Whole blocks count 64; the short last block counts its own bytes; the end cycle
  // counts 64 again and so shows more than 100.
  image_.progressCount += remaining > 0 ? std::min(remaining, kBlockBytes) : kBlockBytes;
  ShowTransferPercent();

  std::array<uint8_t, 1 + kBlockBytes> report{};
  report[0] = kDataMarker;
  if (image_.progressCount > length) {
    report[1] = static_cast<uint8_t>(~checksumByte);
    hid.WriteData(report.data(), 2);
    return;
  }
  // Never past the loaded bytes, whatever the counts say.
  size_t left = image_.imageBuffer() ? image_.loadedBytes() - image_.cursorOffset() : 0;
  size_t bytes = std::min({static_cast<size_t>(remaining), static_cast<size_t>(kBlockBytes), left});
  const uint8_t* block = image_.imageCursor();
  for (size_t i = 0; i < bytes; ++i) {
    report[1 + i] = block[i];
    checksumByte = static_cast<uint8_t>(checksumByte + block[i]);
  }
  hid.WriteData(report.data(), static_cast<int>(1 + bytes));
}

int McuUpdater::TransferImage() {
  Window& window = context_.window;
  CHIDControl& hid = context_.session.Hid();
  image_.progressCount = 0;
  transferPhase = 0;
  checksumByte = 0;
  CHIDControl::Reply reply{};
  while (true) {
    if (transferPhase == 0) {
      SendNextReport();
      transferPhase = 1;
      continue;
    }
    if (noAnswerCount > kNoAnswerLimit) {
      window.MessageBox(kTimeOut);
      noAnswerCount = 0;
      image_.ReleaseImage();
      return Failed(StepReason::NoAnswer, "no answer to a data block");
    }
    int read = hid.ReadReply(reply);
    if (!Usable(read, reply)) {
      ++noAnswerCount;
      continue;
    }
    noAnswerCount = 0;
    if (reply[0] == kAccepted) {
      image_.AdvanceCursor(kBlockBytes);
      transferPhase = 0;
    } else if (reply[0] == kInstalled) {
      AppendLogLine(window, kDash38);
      AppendLogLine(window, kInstallOk);
      image_.ReleaseImage();
      return 1;
    } else {
      window.MessageBox(kReceiveError);
      image_.ReleaseImage();
      return Failed(StepReason::Status, "a data block was refused");
    }
  }
}

void McuUpdater::ResetControls() {
  Window& window = context_.window;
  image_.progressCount = 0;
  window.SetProgressPos(ctl::kProgressBar, 0);
  window.SetControlText(ctl::kPercentText, "");
  for (int id : {ctl::kSend, ctl::kClose, ctl::kStart, ctl::kSelectUsbFirmware}) {
    window.EnableControl(id, true);
  }
  for (int id : {ctl::kStop, ctl::kUpdateUsbFirmware, ctl::kUpdateFirmware, ctl::kSelectFirmware,
                 ctl::kCancelUpdate}) {
    window.EnableControl(id, false);
  }
}

}  // namespace morlane
