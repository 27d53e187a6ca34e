#include "link/hid_control.h"

#include <algorithm>
#include <cstring>

#include "platform/serve_wait.h"

namespace morlane {

CHIDControl::CHIDControl(HidBackend& backend, Clock& clock) : backend_(backend), clock_(clock) {}

CHIDControl::~CHIDControl() = default;

int CHIDControl::OpenDevice(int vendorId, int productId) {
  // A fresh search: a device still open from before is let go, so that a failed search
  // cannot leave writes going to it while the found flag says 0.
  device_.reset();
  caps_ = HidCaps{};
  int result = 0;
  for (const HidDeviceInfo& info : backend_.Enumerate()) {
    if (info.vendorId != vendorId || info.productId != productId) continue;
    // Interfaces that cannot be opened (held by the system) are passed over.
    std::unique_ptr<HidDevice> device = backend_.Open(info.path);
    if (!device) continue;
    HidCaps caps = device->Caps();
    // The input report buffer holds 65 bytes and the staging buffer 255: a device with
    // longer reports is refused rather than overrun (or sent a report cut short), and so
    // is one whose reports cannot carry a byte of payload.
    if (caps.inputReportLength < 2 || caps.inputReportLength > kMaxInputReport ||
        caps.outputReportLength < 5 || caps.outputReportLength > kStagingSize) {
      continue;
    }
    device_ = std::move(device);
    caps_ = caps;
    result = 1;
    break;
  }
  found_ = result;
  return result;
}

int CHIDControl::WriteReport(const uint8_t* payload, int count) {
  if (!device_) return 0;
  staging_.fill(0);
  staging_[0] = 0x00;
  staging_[1] = 0xCC;
  staging_[2] = 0x99;
  staging_[3] = static_cast<uint8_t>(count & 0xFF);
  int length = caps_.outputReportLength;  // at most kStagingSize, checked by OpenDevice
  // The payload is cut to what the report holds; the length byte still tells n.
  int room = std::max(0, length - 4);
  int copied = std::clamp(count, 0, room);
  if (copied > 0) std::memcpy(staging_.data() + 4, payload, static_cast<size_t>(copied));
  // Whole, also on the window thread: a report cannot be taken back and sent again in
  // slices, and a unit that takes reports at all takes one at once.
  int written = device_->Write(staging_.data(), length, kWaitMs);
  return written == length ? 1 : 0;
}

int CHIDControl::WriteCommand(std::string_view text) {
  return WriteReport(reinterpret_cast<const uint8_t*>(text.data()), static_cast<int>(text.size()));
}

int CHIDControl::WriteData(const uint8_t* bytes, int count) {
  return WriteReport(bytes, count);
}

int CHIDControl::ReadReply(Reply& buffer) {
  buffer.fill(0);
  if (!device_) return 0;
  const int m = caps_.inputReportLength;
  int total = 0;
  int misses = 0;
  while (true) {
    // Spaces before every read, not only the first: a short report then shows spaces in
    // its missing tail instead of the previous report's bytes a second time.
    inputReport_.fill(0x20);
    // One wait of 500 ms for its outcome, in slices on the window thread.
    int n = WaitServing(clock_, kWaitMs,
                        [this, m](int ms) { return device_->Read(inputReport_.data(), m, ms); });
    if (n > 0) {
      // Bytes 1 to M - 1 of the report, whatever the read counted.
      std::memcpy(buffer.data() + total, inputReport_.data() + 1, static_cast<size_t>(m - 1));
      total += m - 1;
      misses = 0;
      if (total >= kReplyBytes) return 1;
      // The unit sends a reply's reports back to back; the pass that brought part of one
      // already counts towards the silence that ends the read.
      misses = 1;
    } else if (n == 0) {
      if (++misses > 5) return 0;
    } else {
      return 0;
    }
  }
}

void CHIDControl::Close() {
  device_.reset();
}

std::string_view ReplyText(const CHIDControl::Reply& reply) {
  const char* text = reinterpret_cast<const char*>(reply.data());
  size_t n = 0;
  while (n < CHIDControl::kReplyBytes && reply[n] != 0) ++n;
  return std::string_view(text, n);
}

}  // namespace morlane
