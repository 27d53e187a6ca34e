// Real HID devices through hidapi; on Linux its hidraw backend.
#include "platform/hidapi_backend.h"

#include <hidapi.h>

#include <atomic>
#include <fstream>

#include "platform/report_descriptor.h"

namespace morlane {

namespace {

#ifndef HID_API_MAX_REPORT_DESCRIPTOR_SIZE
#define HID_API_MAX_REPORT_DESCRIPTOR_SIZE 4096
#endif

std::atomic<int> backendCount{0};

#if defined(HID_API_VERSION) && HID_API_VERSION >= HID_API_MAKE_VERSION(0, 14, 0)
std::vector<uint8_t> ReadDescriptor(hid_device* device, const std::string&) {
  std::vector<uint8_t> descriptor(HID_API_MAX_REPORT_DESCRIPTOR_SIZE);
  int n = hid_get_report_descriptor(device, descriptor.data(), descriptor.size());
  descriptor.resize(n > 0 ? static_cast<size_t>(n) : 0);
  return descriptor;
}
#else
// Older hidapi has no call for the descriptor; the kernel shows it for each hidraw node.
std::vector<uint8_t> ReadDescriptor(hid_device*, const std::string& path) {
  size_t slash = path.rfind('/');
  std::string node = slash == std::string::npos ? path : path.substr(slash + 1);
  if (node.rfind("hidraw", 0) != 0) return {};
  std::ifstream file("/sys/class/hidraw/" + node + "/device/report_descriptor", std::ios::binary);
  std::vector<uint8_t> descriptor;
  char byte = 0;
  while (descriptor.size() < HID_API_MAX_REPORT_DESCRIPTOR_SIZE && file.get(byte)) {
    descriptor.push_back(static_cast<uint8_t>(byte));
  }
  return descriptor;
}
#endif

// hidapi takes a negative time-out as "wait for ever"; no read of the tool waits unbounded.
int Bounded(int timeoutMs) {
  return timeoutMs < 0 ? 0 : timeoutMs;
}

class HidapiDevice : public HidDevice {
 public:
  HidapiDevice(hid_device* device, ReportDescriptorInfo info) : device_(device), info_(info) {}
  ~HidapiDevice() override { hid_close(device_); }

  HidCaps Caps() const override { return info_.caps; }

  // The kernel bounds a report write itself (the USB stack gives up on an output report
  // after a few seconds); hidraw offers no shorter time-out for it.
  int Write(const uint8_t* report, int length, int) override {
    if (length <= 0) return -1;
    int n = hid_write(device_, report, static_cast<size_t>(length));
    return n < 0 ? -1 : n;
  }

  int Read(uint8_t* report, int length, int timeoutMs) override {
    if (length <= 0) return -1;
    if (info_.numberedReports) {
      int n = hid_read_timeout(device_, report, static_cast<size_t>(length), Bounded(timeoutMs));
      return n < 0 ? -1 : n;
    }
    // Unnumbered reports arrive without the id byte; it is put back in front, as the
    // link expects every report to start with it.
    if (length < 2) return -1;
    int n =
        hid_read_timeout(device_, report + 1, static_cast<size_t>(length - 1), Bounded(timeoutMs));
    if (n <= 0) return n < 0 ? -1 : 0;
    report[0] = 0x00;
    return n + 1;
  }

 private:
  hid_device* device_;
  ReportDescriptorInfo info_;
};

}  // namespace

HidapiBackend::HidapiBackend() {
  if (backendCount++ == 0) hid_init();
}

HidapiBackend::~HidapiBackend() {
  if (--backendCount == 0) hid_exit();
}

std::vector<HidDeviceInfo> HidapiBackend::Enumerate() {
  std::vector<HidDeviceInfo> infos;
  hid_device_info* list = hid_enumerate(0, 0);
  for (hid_device_info* it = list; it; it = it->next) {
    if (!it->path) continue;
    infos.push_back(HidDeviceInfo{it->path, it->vendor_id, it->product_id});
  }
  hid_free_enumeration(list);
  return infos;
}

std::unique_ptr<HidDevice> HidapiBackend::Open(const std::string& path) {
  hid_device* device = hid_open_path(path.c_str());
  if (!device) return nullptr;
  std::vector<uint8_t> descriptor = ReadDescriptor(device, path);
  // A device whose descriptor cannot be read keeps lengths of 0, which the link refuses.
  ReportDescriptorInfo info = ParseReportDescriptorInfo(descriptor.data(), descriptor.size());
  return std::make_unique<HidapiDevice>(device, info);
}

}  // namespace morlane
