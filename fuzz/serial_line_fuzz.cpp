// The serial line reader: an answer line read up to its carriage return, whatever the
// unit sends, through "Send" on an open COM link and directly at any capacity.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "fuzz_dialog.h"
#include "ui/control_ids.h"
#include "unit_script.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace morlane;
  fuzz::FuzzDialog run;
  fuzz::UnitScript unit(data, size);
  FuzzedDataProvider& input = unit.Input();
  unit.Attach(run.line);
  if (input.ConsumeBool()) {
    if (!run.Open(0)) return 0;
    run.window.TypeText(ctl::kCommandEdit, input.ConsumeRandomLengthString(80));
    run.window.SetCheck(ctl::kPlusEnter, input.ConsumeBool());
    run.window.Click(ctl::kSend);
    return 0;
  }
  CSerialLink& serial = run.dialog.session.Serial();
  if (!serial.Open(1, 2400)) return 0;
  const int capacity = input.ConsumeIntegralInRange(0, 300);
  const int seconds = input.ConsumeIntegralInRange(0, 3);
  run.line.Queue(input.ConsumeRemainingBytes<uint8_t>());
  // Exactly capacity bytes of room: the reader must never write past them.
  std::vector<uint8_t> buffer(static_cast<size_t>(capacity));
  (void)serial.ReadLine(buffer.data(), capacity, seconds);
  return 0;
}
