#pragma once

#include <atomic>
#include <string>
#include <utility>
#include <vector>

#include "flash/bin_file.h"
#include "flash/boot_link.h"
#include "flash/flash_programmer.h"
#include "link/dialog_context.h"
#include "link/image_buffer.h"

namespace morlane {

// What became of one image file that "Automatic" tried.
struct ImageAttempt {
  std::string path;
  char cpu = 0;  // 'M' or 'S'; 0 when the name names neither CPU
  bool passed = false;
  FlashOutcome outcome;
};

// Programs the flash of the unit's master and slave CPUs through their bootloader.
class InverterFlasher {
 public:
  InverterFlasher(DialogContext& context, ImageBuffer& image);

  // 1 when the file opens and begins with 0x08 0xAA.
  static int CheckBinFile(const std::string& path);
  // The same, the survey of its sections, and the image buffer's load, for an image whose
  // bytes were read before the run (the programmer's heldImage: a station's approved
  // images, a service package's) from those bytes, else from the file: a package's images
  // are no files, and a held image is never read again.
  int CheckImage(const std::string& path);
  ImageSurvey SurveyOf(const std::string& path);
  int LoadImage(const std::string& path);

  // Sequence 0, last received -1, frame buffer cleared, master preset.
  void ResetBootLink();
  // The programming sequence for one CPU (0 master, 1 slave, anything else selects
  // none); 1 when erase, burn and verify all passed.
  int RunProgrammingSequence(const std::string& path, int cpuTarget);
  // "Automatic": every image file in the working directory; 1 when every image file
  // found was programmed and verified.
  int AutoUpdate();
  // Every image file the last "Automatic" tried, in order, with its outcome.
  std::vector<ImageAttempt> attempts;
  // When set and true, "Automatic" starts no further CPU (a production station's first
  // Ctrl-C); the CPU being programmed is finished.
  const std::atomic<bool>* holdNextCpu = nullptr;
  // Whether that hold kept the last "Automatic" from a CPU it would have programmed.
  bool heldBack = false;
  // When not empty, "Automatic" programs exactly these image files, in this order, instead
  // of what the working directory holds (a production station's approved images); their
  // names still decide the CPU, unless imageCpus gives it.
  std::vector<std::string> imageList;
  // The CPU ('M', 'S') of an image of imageList whose CPU is known from elsewhere than its
  // name (a service package's manifest names each image's target).
  std::vector<std::pair<std::string, char>> imageCpus;
  // More tries for a CPU whose selection or handshake failed: nothing was erased then, so
  // trying again costs only time. A station's fixture may seat a unit's plug late.
  int handshakeRetries = 0;

  BootLink& Link() { return link_; }
  FlashProgrammer& Programmer() { return programmer_; }

 private:
  DialogContext& context_;
  ImageBuffer& image_;
  // One CPU from its selection to its closing command, tried again while its handshake
  // fails and tries are left. endRun: the unit did not listen and "Automatic" ends.
  int ProgramCpu(const std::string& path, char cpu, bool* endRun);
  void LogRetry(int attempt);

  BootLink link_;
  FlashProgrammer programmer_;
};

}  // namespace morlane
