// CHIDControl against an in-process HID device, on the virtual clock.
#include "link/hid_control.h"

#include <gtest/gtest.h>

#include "platform/inprocess_hid.h"
#include "support/virtual_clock.h"

namespace morlane {
namespace {

using Bytes = std::vector<uint8_t>;

// Counts the device handles the link opens and closes.
class CountingBackend : public HidBackend {
 public:
  class Handle : public HidDevice {
   public:
    Handle(std::unique_ptr<HidDevice> inner, int* closes)
        : inner_(std::move(inner)), closes_(closes) {}
    ~Handle() override { ++*closes_; }
    HidCaps Caps() const override { return inner_->Caps(); }
    int Write(const uint8_t* r, int n, int ms) override { return inner_->Write(r, n, ms); }
    int Read(uint8_t* r, int n, int ms) override { return inner_->Read(r, n, ms); }

   private:
    std::unique_ptr<HidDevice> inner_;
    int* closes_;
  };

  std::vector<HidDeviceInfo> Enumerate() override { return devices.Enumerate(); }
  std::unique_ptr<HidDevice> Open(const std::string& path) override {
    std::unique_ptr<HidDevice> inner = devices.Open(path);
    if (!inner) return nullptr;
    ++opens;
    return std::make_unique<Handle>(std::move(inner), &closes);
  }

  InProcessHidBackend devices;
  int opens = 0;
  int closes = 0;
};

class HidControlTest : public ::testing::Test {
 protected:
  std::shared_ptr<InProcessHidDevice> Attach(HidCaps caps, const std::string& path = "mem:unit",
                                             uint16_t vendor = 0x590, uint16_t product = 0x4b) {
    auto device =
        std::make_shared<InProcessHidDevice>(HidDeviceInfo{path, vendor, product}, caps, clock);
    device->SetOutputHandler([this](const Bytes& report) { written.push_back(report); });
    backend.devices.Add(device);
    return device;
  }
  // A 64-byte reply in input reports of the device's length, id byte first.
  static void QueueReply(InProcessHidDevice& device, const std::string& text, int reports) {
    int chunk = device.Caps().inputReportLength - 1;
    Bytes payload(text.begin(), text.end());
    payload.resize(static_cast<size_t>(chunk * reports), 0);
    for (int i = 0; i < reports; ++i) {
      Bytes report{0x00};
      report.insert(report.end(), payload.begin() + i * chunk, payload.begin() + (i + 1) * chunk);
      device.QueueInputReport(report);
    }
  }

  test::VirtualClock clock;
  CountingBackend backend;
  CHIDControl hid{backend, clock};
  std::vector<Bytes> written;
};

TEST_F(HidControlTest, CommandReportIsFramedAndZeroFilled) {
  Attach({65, 65});
  ASSERT_EQ(hid.OpenDevice(0x590, 0x4b), 1);
  EXPECT_EQ(hid.WriteCommand("V2\r"), 1);
  ASSERT_EQ(written.size(), 1u);
  Bytes expected{0x00, 0xCC, 0x99, 0x03, 0x56, 0x32, 0x0D};
  expected.resize(65, 0x00);
  EXPECT_EQ(written[0], expected);

  const uint8_t data[] = {0xA5, 0x5A};
  EXPECT_EQ(hid.WriteData(data, 2), 1);
  expected = {0x00, 0xCC, 0x99, 0x02, 0xA5, 0x5A};
  expected.resize(65, 0x00);
  EXPECT_EQ(written[1], expected);
  // Nothing of the longer report before stays in the staging buffer.
  EXPECT_EQ(hid.WriteCommand(""), 1);
  expected = {0x00, 0xCC, 0x99, 0x00};
  expected.resize(65, 0x00);
  EXPECT_EQ(written[2], expected);
}

TEST_F(HidControlTest, LongPayloadsAreCutWhileTheLengthByteKeepsN) {
  Attach({65, 65});
  ASSERT_EQ(hid.OpenDevice(0x590, 0x4b), 1);
  Bytes payload(65);
  for (size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<uint8_t>(i + 1);
  EXPECT_EQ(hid.WriteData(payload.data(), 65), 1);
  ASSERT_EQ(written.back().size(), 65u);
  EXPECT_EQ(written.back()[3], 0x41);
  EXPECT_EQ(Bytes(written.back().begin() + 4, written.back().end()),
            Bytes(payload.begin(), payload.begin() + 61));

  // A wider report: 129 bytes carry 125 of 300, the length byte the low 8 bits of 300.
  backend.devices.RemoveAll();
  Attach({65, 129});
  ASSERT_EQ(hid.OpenDevice(0x590, 0x4b), 1);
  Bytes big(300, 0x77);
  EXPECT_EQ(hid.WriteData(big.data(), 300), 1);
  ASSERT_EQ(written.back().size(), 129u);
  EXPECT_EQ(written.back()[3], 300 & 0xFF);
  EXPECT_EQ(written.back()[128], 0x77);
}

TEST_F(HidControlTest, WriteThatDoesNotCompleteFailsAfterHalfASecond) {
  auto device = Attach({65, 65});
  ASSERT_EQ(hid.OpenDevice(0x590, 0x4b), 1);
  device->SetUnresponsive(true);
  int64_t before = clock.MonotonicMs();
  EXPECT_EQ(hid.WriteCommand("Q1\r"), 0);
  EXPECT_EQ(clock.MonotonicMs() - before, 500);
  EXPECT_TRUE(written.empty());
  device->SetUnresponsive(false);
  EXPECT_EQ(hid.WriteCommand("Q1\r"), 1);  // the link stays usable
}

TEST_F(HidControlTest, ReplyFromOneFullReport) {
  auto device = Attach({65, 65});
  ASSERT_EQ(hid.OpenDevice(0x590, 0x4b), 1);
  QueueReply(*device, "(V2 01.20\r", 1);
  CHIDControl::Reply reply{};
  EXPECT_EQ(hid.ReadReply(reply), 1);
  EXPECT_EQ(ReplyText(reply), "(V2 01.20\r");
  EXPECT_EQ(clock.MonotonicMs(), 0);
}

TEST_F(HidControlTest, NineByteReportsAssembleSixtyFourBytes) {
  auto device = Attach({9, 65});
  ASSERT_EQ(hid.OpenDevice(0x590, 0x4b), 1);
  std::string text = "(230.1 229.8 230.0 012 50.0 27.2 --.- 00000000 and the rest.....";
  ASSERT_EQ(text.size(), 64u);
  QueueReply(*device, text, 8);
  QueueReply(*device, "next", 1);
  CHIDControl::Reply reply{};
  EXPECT_EQ(hid.ReadReply(reply), 1);
  EXPECT_EQ(std::string(reply.begin(), reply.begin() + 64), text);
  EXPECT_EQ(device->QueuedInputReports(), 1u);  // eight reports taken, not more
}

TEST_F(HidControlTest, SilenceEndsTheReadAfterSixMisses) {
  Attach({65, 65});
  ASSERT_EQ(hid.OpenDevice(0x590, 0x4b), 1);
  CHIDControl::Reply reply{};
  EXPECT_EQ(hid.ReadReply(reply), 0);
  EXPECT_EQ(clock.MonotonicMs(), 3000);
}

TEST_F(HidControlTest, CutReplyKeepsTheReportsThatCame) {
  auto device = Attach({9, 65});
  ASSERT_EQ(hid.OpenDevice(0x590, 0x4b), 1);
  QueueReply(*device, "(NAK\r and more", 2);
  CHIDControl::Reply reply{};
  EXPECT_EQ(hid.ReadReply(reply), 0);
  EXPECT_EQ(std::string(reply.begin(), reply.begin() + 16), std::string("(NAK\r and more\0\0", 16));
  EXPECT_EQ(ReplyText(reply), "(NAK\r and more");
  EXPECT_LE(clock.MonotonicMs(), 3000);
}

TEST_F(HidControlTest, FoundFlagFollowsOpenDeviceOnly) {
  EXPECT_EQ(hid.IsOpen(), 0);
  auto device = Attach({65, 65});
  EXPECT_EQ(hid.OpenDevice(0x1234, 0x4b), 0);
  EXPECT_EQ(hid.IsOpen(), 0);
  EXPECT_EQ(backend.opens, 0);  // other ids are not even opened
  EXPECT_EQ(hid.WriteCommand("Q1\r"), 0);
  // A later search that succeeds works with the same link object.
  EXPECT_EQ(hid.OpenDevice(0x590, 0x4b), 1);
  EXPECT_EQ(hid.IsOpen(), 1);
  EXPECT_EQ(device->OpenCount(), 1);
  hid.Close();
  EXPECT_EQ(hid.IsOpen(), 1);  // Close leaves the flag alone
  EXPECT_EQ(hid.WriteCommand("Q1\r"), 0);
  CHIDControl::Reply reply{};
  EXPECT_EQ(hid.ReadReply(reply), 0);
  EXPECT_EQ(clock.MonotonicMs(), 0);  // nothing to wait on without a device
}

TEST_F(HidControlTest, CloseTwiceClosesTheDeviceOnce) {
  Attach({65, 65});
  ASSERT_EQ(hid.OpenDevice(0x590, 0x4b), 1);
  hid.Close();
  hid.Close();
  EXPECT_EQ(backend.opens, 1);
  EXPECT_EQ(backend.closes, 1);
  // A fresh search lets go of a device still open from before, found or not.
  ASSERT_EQ(hid.OpenDevice(0x590, 0x4b), 1);
  EXPECT_EQ(hid.OpenDevice(0x590, 0x4c), 0);
  EXPECT_EQ(backend.closes, 2);
  EXPECT_EQ(hid.IsOpen(), 0);
}

TEST_F(HidControlTest, DevicesWhoseReportsDoNotFitAreRefused) {
  Attach({129, 65}, "mem:wide-input");
  Attach({65, 256}, "mem:wide-output");
  Attach({1, 65}, "mem:no-input-payload");
  EXPECT_EQ(hid.OpenDevice(0x590, 0x4b), 0);
  EXPECT_EQ(backend.closes, backend.opens);  // each one let go again
  // Another interface of the unit with usable reports is still found.
  Attach({65, 65}, "mem:unit");
  EXPECT_EQ(hid.OpenDevice(0x590, 0x4b), 1);
  EXPECT_EQ(hid.Caps().inputReportLength, 65);
}

}  // namespace
}  // namespace morlane
