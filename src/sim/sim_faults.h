#pragma once

#include <atomic>

namespace morlane::sim {

// Switches that make the simulated unit misbehave, as a real one can. All are plain
// atomics: tests flip them while the unit runs.
struct SimFaults {
  // Service commands and the USB side.
  std::atomic<bool> silent{false};  // answers nothing at all, on either side
  // No unit in the fixture: the cable ends in the air. Nothing the host sends arrives and
  // nothing answers, on either side; put back, the unit starts from its running firmware
  // with the flash it had.
  std::atomic<bool> takenOut{false};
  std::atomic<int> answerDelayMs{0};  // delay before each service answer
  // Delay before each answer of a bootloader to a command frame and each MCU updater
  // reply: a slow unit on either link.
  std::atomic<int> replyDelayMs{0};

  // CPU selection and bootloader.
  std::atomic<bool> noSelectionEcho{false};
  std::atomic<bool> noAutobaudEcho{false};
  std::atomic<bool> refuseErase{false};
  // -1: never; N: the unit carries out the commands after the N-th (counted from the
  // CPU's handover) but its answers to them are lost.
  std::atomic<int> dropAcksAfterFrames{-1};
  std::atomic<int> corruptResultOfFrame{-1};  // the N-th command's result gets a wrong CRC
  std::atomic<bool> verifyMismatch{false};
  // -1: never; N: the line goes away when the program frame after the N-th comes.
  std::atomic<int> lineGoneAfterProgramFrames{-1};

  // MCU updater over USB.
  std::atomic<bool> mcuSilent{false};
  std::atomic<bool> mcuTopBitReplies{false};  // every reply's first byte has bit 7 set
  std::atomic<int> mcuErrorAfterBlocks{-1};   // an error code after N data blocks
  std::atomic<bool> mcuSizeAnsweredWith07{false};
};

}  // namespace morlane::sim
