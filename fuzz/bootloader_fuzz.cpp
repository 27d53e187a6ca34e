// The programming sequence of one CPU against a unit whose every answer comes from the
// fuzz input: the selection echo, the handshake, the acknowledgements and the result and
// data frames of erase, burn, verify and closing.
#include <cstddef>
#include <cstdint>
#include <string>

#include "flash/test_image_maker.h"
#include "fuzz_dialog.h"
#include "unit_script.h"

namespace {

std::string imagePath;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  std::string folder = morlane::fuzz::EnterScratchFolder();
  // Two sections, the first longer than one program frame, as a real image has.
  std::vector<uint8_t> image = morlane::test::MakeInverterImage(
      {{0x3F0000, morlane::test::Words(130)}, {0x3F8000, morlane::test::Words(6, 0x2000)}});
  imagePath = folder + "/master.bin";
  morlane::fuzz::WriteFile(imagePath, image.data(), image.size());
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  morlane::fuzz::FuzzDialog run;
  morlane::fuzz::UnitScript unit(data, size);
  unit.Attach(run.line);
  const int cpu = unit.Input().ConsumeIntegralInRange(0, 1);
  run.dialog.session.comPortNumber = 1;
  morlane::FlashProgrammer& programmer = run.dialog.flasher.Programmer();
  int passed = run.dialog.flasher.RunProgrammingSequence(imagePath, cpu);
  // Success is only ever reported for a verification the unit passed.
  if (passed && !programmer.verifyPassed) __builtin_trap();
  if (run.dialog.session.Serial().IsOpen()) __builtin_trap();
  return 0;
}
