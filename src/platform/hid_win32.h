#pragma once

#include "platform/hid_device.h"

namespace morlane {

// Real HID devices through the Windows HID class driver (SetupAPI to find them, hid.dll
// for attributes and report lengths, overlapped ReadFile/WriteFile for the reports).
// Windows hands every report over with its id byte in front, 0x00 for unnumbered reports,
// which is the layout the link expects, so reports pass through unchanged.
//
// A device allows one Read and one Write in flight at a time (each direction has its own
// event), so a reader thread and a writer thread may share it; two concurrent Reads or
// two concurrent Writes may not. No call waits longer than its time-out and a short,
// bounded wait for a cancelled transfer to come back; a transfer the driver keeps past that
// makes the device fail every later call.
class Win32HidBackend : public HidBackend {
 public:
  // Interfaces that cannot be opened (held exclusively, vanished meanwhile) are left out.
  std::vector<HidDeviceInfo> Enumerate() override;
  // nullptr when the path cannot be opened for reading and writing or its report lengths
  // cannot be read.
  std::unique_ptr<HidDevice> Open(const std::string& path) override;
};

// Takes over a handle already opened for overlapped use (a HANDLE) as a HID device with the
// given report lengths; nullptr for no handle. Lets the device's waits be driven by handles
// of any kind, such as a pipe nobody reads.
std::unique_ptr<HidDevice> AdoptWin32HidDevice(void* handle, HidCaps caps);

}  // namespace morlane
