// Real HID devices through the Windows HID class driver.
#include "platform/hid_win32.h"

#include <windows.h>

#include <setupapi.h>

// The mingw-w64 HID headers declare the hid.dll entry points without C linkage.
extern "C" {
#include <hidsdi.h>
}

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "platform/overlapped_win32.h"

namespace morlane {

namespace {

// Enumeration steps past interfaces that fail to report, but a device information set that
// fails for every index would otherwise never reach ERROR_NO_MORE_ITEMS.
constexpr int kMaxConsecutiveEnumFailures = 64;

class ScopedHandle {
 public:
  explicit ScopedHandle(HANDLE handle = INVALID_HANDLE_VALUE) : handle_(handle) {}
  ScopedHandle(ScopedHandle&& other) noexcept : handle_(other.Release()) {}
  ScopedHandle& operator=(ScopedHandle&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
  }
  ScopedHandle(const ScopedHandle&) = delete;
  ScopedHandle& operator=(const ScopedHandle&) = delete;
  ~ScopedHandle() { Reset(INVALID_HANDLE_VALUE); }

  HANDLE Get() const { return handle_; }
  bool Valid() const { return handle_ != INVALID_HANDLE_VALUE && handle_ != nullptr; }
  HANDLE Release() { return std::exchange(handle_, INVALID_HANDLE_VALUE); }
  void Reset(HANDLE handle) {
    if (Valid()) CloseHandle(handle_);
    handle_ = handle;
  }

 private:
  HANDLE handle_;
};

// A path with a NUL inside would be cut short by CreateFileA and open some other device.
bool UsablePath(const std::string& path) {
  return !path.empty() && path.find('\0') == std::string::npos;
}

ScopedHandle OpenPath(const std::string& path, DWORD access, DWORD flags) {
  return ScopedHandle(CreateFileA(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, flags, nullptr));
}

DWORD WaitMs(int timeoutMs) {
  return timeoutMs < 0 ? 0 : static_cast<DWORD>(timeoutMs);
}

class Win32HidDevice : public HidDevice {
 public:
  Win32HidDevice(ScopedHandle handle, HidCaps caps)
      : handle_(std::move(handle)),
        caps_(caps),
        readOp_(std::make_unique<OverlappedOp>()),
        writeOp_(std::make_unique<OverlappedOp>()) {
    readOp_->bytes.resize(static_cast<size_t>(std::max(caps.inputReportLength, 0)));
  }

  bool Usable() const { return readOp_->Usable() && writeOp_->Usable(); }

  ~Win32HidDevice() override {
    // Only a transfer the driver would not hand back after its cancel is still in its hands.
    LetGo(handle_.Get(), readOp_);
    LetGo(handle_.Get(), writeOp_);
  }

  HidCaps Caps() const override { return caps_; }

  // The report goes out exactly as given: the link builds full-length reports, and the
  // class driver refuses any other length rather than sending a short report.
  int Write(const uint8_t* report, int length, int timeoutMs) override {
    if (!report || length <= 0 || broken_) return -1;
    OverlappedOp& op = *writeOp_;
    op.bytes.assign(report, report + length);
    if (!WriteFile(handle_.Get(), op.bytes.data(), static_cast<DWORD>(length), nullptr, op.Arm()) &&
        GetLastError() != ERROR_IO_PENDING) {
      return -1;
    }
    DWORD written = 0;
    int outcome = Finish(op, timeoutMs, &written);
    return outcome > 0 ? static_cast<int>(written) : outcome;
  }

  // The driver delivers whole input reports only, so the read always asks for the full
  // report length into a buffer of our own; the caller may take fewer bytes.
  int Read(uint8_t* report, int length, int timeoutMs) override {
    OverlappedOp& op = *readOp_;
    if (!report || length <= 0 || op.bytes.empty() || broken_) return -1;
    if (!ReadFile(handle_.Get(), op.bytes.data(), static_cast<DWORD>(op.bytes.size()), nullptr,
                  op.Arm()) &&
        GetLastError() != ERROR_IO_PENDING) {
      return -1;
    }
    DWORD got = 0;
    int outcome = Finish(op, timeoutMs, &got);
    if (outcome <= 0) return outcome;
    int n = std::min({static_cast<int>(got), length, static_cast<int>(op.bytes.size())});
    std::copy_n(op.bytes.data(), n, report);
    return n;
  }

 private:
  // Waits for a started transfer and settles it: 1 when it completed (count in
  // *transferred), 0 when it timed out, -1 when it failed. On time-out the transfer is
  // cancelled and given a bounded wait to come back. A transfer that finished just as it
  // was cancelled still counts: dropping it would lose an input report, or make the link
  // resend a report the unit already has. One the driver does not hand back stays its
  // own (see LetGo), and the device fails every later call.
  int Finish(OverlappedOp& op, int timeoutMs, DWORD* transferred) {
    const OpEnd end = AwaitOp(handle_.Get(), op, WaitMs(timeoutMs));
    if (end.stuck) {
      broken_ = true;
      return -1;
    }
    *transferred = end.moved;
    if (end.completed) return 1;
    return end.timedOut && end.error == ERROR_OPERATION_ABORTED ? 0 : -1;
  }

  ScopedHandle handle_;
  HidCaps caps_;
  // One transfer each way at a time, each with its own event and bytes.
  std::unique_ptr<OverlappedOp> readOp_;
  std::unique_ptr<OverlappedOp> writeOp_;
  // A transfer is stuck in the driver; set by either direction's thread.
  std::atomic<bool> broken_{false};
};

bool ReadCaps(const std::string& path, HidCaps* caps) {
  // Access 0 is enough for the report lengths.
  ScopedHandle handle = OpenPath(path, 0, 0);
  if (!handle.Valid()) return false;
  PHIDP_PREPARSED_DATA preparsed = nullptr;
  if (!HidD_GetPreparsedData(handle.Get(), &preparsed)) return false;
  HIDP_CAPS hidCaps{};
  NTSTATUS status = HidP_GetCaps(preparsed, &hidCaps);
  HidD_FreePreparsedData(preparsed);
  if (status != HIDP_STATUS_SUCCESS) return false;
  caps->inputReportLength = hidCaps.InputReportByteLength;
  caps->outputReportLength = hidCaps.OutputReportByteLength;
  return true;
}

// The interface's path, or "" when SetupAPI cannot give it.
std::string InterfacePath(HDEVINFO set, SP_DEVICE_INTERFACE_DATA* interfaceData) {
  DWORD required = 0;
  SetupDiGetDeviceInterfaceDetailA(set, interfaceData, nullptr, 0, &required, nullptr);
  if (GetLastError() != ERROR_INSUFFICIENT_BUFFER ||
      required < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)) {
    return {};
  }
  // The extra zero bytes keep the path terminated whatever SetupAPI writes into it.
  std::vector<uint8_t> storage(required + sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A), 0);
  auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(storage.data());
  detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
  if (!SetupDiGetDeviceInterfaceDetailA(set, interfaceData, detail, required, nullptr, nullptr)) {
    return {};
  }
  return std::string(detail->DevicePath);
}

}  // namespace

std::vector<HidDeviceInfo> Win32HidBackend::Enumerate() {
  std::vector<HidDeviceInfo> infos;
  GUID hidGuid{};
  HidD_GetHidGuid(&hidGuid);
  HDEVINFO set =
      SetupDiGetClassDevsA(&hidGuid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  if (set == INVALID_HANDLE_VALUE) return infos;

  int consecutiveFailures = 0;
  for (DWORD index = 0; consecutiveFailures < kMaxConsecutiveEnumFailures; ++index) {
    SP_DEVICE_INTERFACE_DATA interfaceData{};
    interfaceData.cbSize = sizeof(interfaceData);
    if (!SetupDiEnumDeviceInterfaces(set, nullptr, &hidGuid, index, &interfaceData)) {
      if (GetLastError() == ERROR_NO_MORE_ITEMS) break;
      ++consecutiveFailures;
      continue;
    }
    consecutiveFailures = 0;

    std::string path = InterfacePath(set, &interfaceData);
    if (path.empty()) continue;
    // Access 0 opens even keyboards and mice, which the system holds for itself; the
    // attributes need no more.
    ScopedHandle handle = OpenPath(path, 0, 0);
    if (!handle.Valid()) continue;
    HIDD_ATTRIBUTES attributes{};
    attributes.Size = sizeof(attributes);
    if (!HidD_GetAttributes(handle.Get(), &attributes)) continue;
    infos.push_back(HidDeviceInfo{std::move(path), attributes.VendorID, attributes.ProductID});
  }

  SetupDiDestroyDeviceInfoList(set);
  return infos;
}

std::unique_ptr<HidDevice> Win32HidBackend::Open(const std::string& path) {
  if (!UsablePath(path)) return nullptr;
  HidCaps caps;
  if (!ReadCaps(path, &caps)) return nullptr;

  ScopedHandle handle = OpenPath(path, GENERIC_READ | GENERIC_WRITE, FILE_FLAG_OVERLAPPED);
  if (!handle.Valid()) return nullptr;
  auto device = std::make_unique<Win32HidDevice>(std::move(handle), caps);
  if (!device->Usable()) return nullptr;
  return device;
}

std::unique_ptr<HidDevice> AdoptWin32HidDevice(void* handle, HidCaps caps) {
  ScopedHandle owned(handle);
  if (!owned.Valid()) return nullptr;
  auto device = std::make_unique<Win32HidDevice>(std::move(owned), caps);
  if (!device->Usable()) return nullptr;
  return device;
}

}  // namespace morlane
