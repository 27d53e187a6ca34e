#pragma once

#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/inprocess_hid.h"
#include "support/memory_serial.h"

namespace morlane::fuzz {

// The unit's side of a whole run, read piece by piece from the fuzz input: each write of
// the host is answered by the next piece. Besides raw bytes, a piece may be a well-formed
// answer (an echo, the acknowledgement of the frame just written, a unit frame with a
// correct check value, a one-byte HID code), so that the runs get past the handshake and
// the check values and reach the later steps. When the input runs out the unit is silent.
class UnitScript {
 public:
  UnitScript(const uint8_t* data, size_t size) : input_(data, size) {}

  FuzzedDataProvider& Input() { return input_; }

  // Answers every write on the line.
  void Attach(test::MemoryLine& line);
  // Answers every output report of the device; may also stall it.
  void Attach(InProcessHidDevice& device);

 private:
  void AnswerSerial(const std::vector<uint8_t>& written, test::MemoryLine& line);
  void AnswerHid(const std::vector<uint8_t>& report, InProcessHidDevice& device);
  std::vector<uint8_t> UnitFrame();

  FuzzedDataProvider input_;
  uint8_t lastSequence_ = 0;
};

}  // namespace morlane::fuzz
