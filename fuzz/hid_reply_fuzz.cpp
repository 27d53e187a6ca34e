// The unit's USB side answering from the fuzz input: the MCU update (selection, address
// table, size, data reports, end report) and a single command sent with "Send", each
// against a device whose report lengths also come from the input.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "fuzz_dialog.h"
#include "ui/control_ids.h"
#include "unit_script.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  morlane::fuzz::EnterScratchFolder();
  // Two full blocks and a short last one.
  std::vector<uint8_t> image(130);
  for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<uint8_t>(i * 31 + 7);
  morlane::fuzz::WriteFile("tmp.bin", image.data(), image.size());
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace morlane;
  fuzz::FuzzDialog run;
  fuzz::UnitScript unit(data, size);
  FuzzedDataProvider& input = unit.Input();
  HidCaps caps{input.ConsumeIntegralInRange(1, 70), input.ConsumeIntegralInRange(4, 260)};
  auto device =
      std::make_shared<InProcessHidDevice>(HidDeviceInfo{"mem:usb", 0x590, 0x4b}, caps, run.clock);
  unit.Attach(*device);
  run.hid.Add(device);
  if (!run.Open(1)) return 0;
  if (input.ConsumeBool()) {
    run.dialog.selection.cpuTarget = input.ConsumeIntegralInRange(0, 1);
    run.dialog.OnCommand(ctl::kUpdateFirmware);
    // "Install successful" only when the unit said so to the end report.
    if (run.dialog.lastResult == 1) {
      const std::vector<std::string> lines = run.window.LogLines();
      if (std::find(lines.begin(), lines.end(), "Install successful") == lines.end()) {
        __builtin_trap();
      }
    }
  } else {
    run.window.TypeText(ctl::kCommandEdit, input.ConsumeRandomLengthString(80));
    run.window.SetCheck(ctl::kPlusEnter, input.ConsumeBool());
    run.window.Click(ctl::kSend);
  }
  return 0;
}
