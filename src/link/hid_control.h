#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string_view>

#include "platform/clock.h"
#include "platform/hid_device.h"

namespace morlane {

// The USB link to the unit, found by vendor and product id among the present HID
// interfaces. Output reports are 00 CC 99 n payload, zero-filled to the output report
// length; replies are 64 payload bytes collected from input reports.
class CHIDControl {
 public:
  static constexpr int kMaxInputReport = 65;
  static constexpr int kStagingSize = 255;
  static constexpr int kReplyBytes = 64;
  static constexpr int kWaitMs = 500;
  // Room for a whole reply whatever the input report length up to 65 (64 + M - 2).
  using Reply = std::array<uint8_t, kReplyBytes + kMaxInputReport - 2 + 1>;

  CHIDControl(HidBackend& backend, Clock& clock);
  virtual ~CHIDControl();
  CHIDControl(const CHIDControl&) = delete;
  CHIDControl& operator=(const CHIDControl&) = delete;

  // 1 when a present interface with both ids was found and opened; sets the found flag.
  // A device whose input reports exceed 65 bytes is refused.
  int OpenDevice(int vendorId, int productId);
  // One output report with the text as payload (a trailing carriage return included).
  int WriteCommand(std::string_view text);
  int WriteData(const uint8_t* bytes, int count);
  // Collects input reports until 64 payload bytes are in; 0 after six empty waits. The
  // reply is zero-terminated after the bytes received.
  int ReadReply(Reply& buffer);
  int IsOpen() const { return found_; }
  void Close();

  HidCaps Caps() const { return caps_; }

 private:
  int WriteReport(const uint8_t* payload, int count);

  HidBackend& backend_;
  Clock& clock_;
  std::unique_ptr<HidDevice> device_;
  HidCaps caps_{};
  std::array<uint8_t, kStagingSize> staging_{};
  std::array<uint8_t, kMaxInputReport> inputReport_{};
  int found_ = 0;
};

// The reply's text: its bytes up to the first zero, at most 64.
std::string_view ReplyText(const CHIDControl::Reply& reply);

}  // namespace morlane
