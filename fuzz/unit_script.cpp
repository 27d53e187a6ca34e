#include "unit_script.h"

#include "flash/boot_link.h"

namespace morlane::fuzz {

namespace {

constexpr uint8_t kCommandMark[3] = {0x01, 0x66, 0x99};
// The codes the MCU's controller answers with, most often the ones the update waits for.
constexpr uint8_t kHidCodes[] = {0x06, 0x07, 0x11, 0x15};

}  // namespace

void UnitScript::Attach(test::MemoryLine& line) {
  line.SetPeer([this](const std::vector<uint8_t>& written, int, test::MemoryLine& to) {
    AnswerSerial(written, to);
  });
}

void UnitScript::Attach(InProcessHidDevice& device) {
  device.SetOutputHandler(
      [this, &device](const std::vector<uint8_t>& report) { AnswerHid(report, device); });
}

std::vector<uint8_t> UnitScript::UnitFrame() {
  const bool inTurn = input_.ConsumeBool();
  const uint8_t sequence = inTurn ? lastSequence_ : input_.ConsumeIntegral<uint8_t>();
  std::vector<uint8_t> payload =
      input_.ConsumeBytes<uint8_t>(input_.ConsumeIntegralInRange<size_t>(1, kMaxPayload));
  if (payload.empty()) payload.push_back(0);
  const size_t length = payload.size() + kFrameHeader;
  const uint16_t check = BootLink::Crc16(payload.data(), payload.size());
  std::vector<uint8_t> frame = {0x01,
                                0x99,
                                0x66,
                                sequence,
                                static_cast<uint8_t>(length >> 8),
                                static_cast<uint8_t>(length),
                                static_cast<uint8_t>(check >> 8),
                                static_cast<uint8_t>(check)};
  frame.insert(frame.end(), payload.begin(), payload.end());
  return frame;
}

void UnitScript::AnswerSerial(const std::vector<uint8_t>& written, test::MemoryLine& line) {
  if (written.size() >= 4 && std::equal(kCommandMark, kCommandMark + 3, written.begin())) {
    lastSequence_ = written[3];
  }
  if (input_.remaining_bytes() == 0) return;
  switch (input_.ConsumeIntegralInRange(0, 5)) {
    case 0:  // silence
      break;
    case 1:  // whatever the line brings
      line.Queue(input_.ConsumeBytes<uint8_t>(input_.ConsumeIntegralInRange(0, 300)));
      break;
    case 2:  // the echo of what was written
      line.Queue(written);
      break;
    case 3:  // the acknowledgement of the frame just written
      line.Queue({0x06, 0x66, 0x99, lastSequence_, 0x00, 0x08, 0x00, 0x00});
      break;
    case 4:
      line.Queue(UnitFrame());
      break;
    default:  // the cable pulled
      line.Fail();
      break;
  }
}

void UnitScript::AnswerHid(const std::vector<uint8_t>& report, InProcessHidDevice& device) {
  (void)report;
  if (input_.remaining_bytes() == 0) return;
  const int reports = input_.ConsumeIntegralInRange(0, 3);
  for (int i = 0; i < reports; ++i) {
    switch (input_.ConsumeIntegralInRange(0, 3)) {
      case 0:
        device.QueueInputReport({0x00, input_.PickValueInArray(kHidCodes)});
        break;
      case 1:
        device.QueueInputReport(input_.ConsumeBytes<uint8_t>(input_.ConsumeIntegralInRange(0, 70)));
        break;
      case 2:  // a device that stops answering, or comes back
        device.SetUnresponsive(input_.ConsumeBool());
        break;
      default:
        device.QueueInputReport({0x00, input_.ConsumeIntegral<uint8_t>()});
        break;
    }
  }
}

}  // namespace morlane::fuzz
