// The MCU update over HID against an in-process device that answers as a script says,
// on a virtual clock: every 500 ms wait and 3 s read passes at once.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "app/headless_window.h"
#include "app/kestrum_dlg.h"
#include "platform/inprocess_hid.h"
#include "support/memory_serial.h"
#include "support/process.h"
#include "support/virtual_clock.h"
#include "ui/control_ids.h"

namespace morlane {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;

using Bytes = std::vector<uint8_t>;

// Answers with one-byte codes; -1 answers nothing.
struct ScriptedMcu {
  int selectionReply = 0x06;
  int tableReply = 0x06;
  int sizeReply = 0x11;
  int dataReply = 0x11;
  int endReply = 0x07;
  // Replies for the data report of that index (0-based), instead of dataReply.
  std::map<int, std::vector<int>> dataReplies;

  std::vector<Bytes> reports;  // whole output reports, id byte first
  int dataReports = 0;

  void Attach(InProcessHidDevice& device) {
    device.SetOutputHandler([this, &device](const Bytes& report) { OnReport(report, device); });
  }

 private:
  void OnReport(const Bytes& report, InProcessHidDevice& device) {
    reports.push_back(report);
    Bytes payload(report.begin() + 4, report.begin() + 4 + std::min<int>(report[3], 65));
    std::vector<int> codes;
    if (payload == Bytes{' ', 'f', 'M', 'a', 's', 't'} ||
        payload == Bytes{' ', 'f', 'S', 'l', 'a', 'v'}) {
      codes = {selectionReply};
    } else if (payload[0] == 'W') {
      codes = {tableReply};
    } else if (payload.size() == 8) {
      codes = {sizeReply};
    } else if (payload.size() == 2 && received_ >= Announced()) {
      codes = {endReply};
    } else {
      received_ += static_cast<int>(payload.size()) - 1;
      auto it = dataReplies.find(dataReports);
      codes = it != dataReplies.end() ? it->second : std::vector<int>{dataReply};
      ++dataReports;
    }
    for (int code : codes) {
      if (code >= 0) device.QueueInputReport({0x00, static_cast<uint8_t>(code)});
    }
  }
  int Announced() const {
    for (const Bytes& r : reports) {
      if (r[3] == 8 && r[4] == 0 && r[5] == 0) return r[8] << 24 | r[9] << 16 | r[10] << 8 | r[11];
    }
    return 0;
  }
  int received_ = 0;
};

// Records what the percentage text shows, as the window paints it.
class RecordingWindow : public HeadlessWindow {
 public:
  void SetControlText(int id, const std::string& text) override {
    if (id == ctl::kPercentText) percentTexts.push_back(text);
    HeadlessWindow::SetControlText(id, text);
  }
  void SetProgressPos(int id, int position) override {
    if (id == ctl::kProgressBar) barPositions.push_back(position);
    HeadlessWindow::SetProgressPos(id, position);
  }
  std::vector<std::string> percentTexts;
  std::vector<int> barPositions;
};

class McuUpdateTest : public ::testing::Test {
 protected:
  McuUpdateTest() : previous_(std::filesystem::current_path()) {
    std::filesystem::current_path(work.Path());
    window.SetCommandHandler([this](int id) { dialog.OnCommand(id); });
    dialog.OnInitDialog();
  }
  ~McuUpdateTest() override { std::filesystem::current_path(previous_); }

  void Connect(HidCaps caps = {65, 69}) {
    device =
        std::make_shared<InProcessHidDevice>(HidDeviceInfo{"mem:usb", 0x590, 0x4b}, caps, clock);
    mcu.Attach(*device);
    hid.Add(device);
    window.SetComboSelection(ctl::kInterfaceCombo, 1);
    window.Click(ctl::kOpen);
    ASSERT_EQ(dialog.session.sessionState, SessionState::Hid);
    openLines = window.LogLines().size();
  }
  Bytes WriteImage(int length) {
    Bytes image;
    for (int i = 0; i < length; ++i) image.push_back(static_cast<uint8_t>(i * 31 + 7));
    work.Write("tmp.bin", image);
    return image;
  }
  // "Update Firmware" as the enabled button presses it.
  int Update() {
    dialog.OnCommand(ctl::kUpdateFirmware);
    return dialog.lastResult;
  }
  std::vector<std::string> UpdateLines() const {
    std::vector<std::string> lines = window.LogLines();
    return std::vector<std::string>(lines.begin() + static_cast<std::ptrdiff_t>(openLines),
                                    lines.end());
  }
  // Output reports of the given payload length byte.
  std::vector<Bytes> ReportsOfLength(int n) const {
    std::vector<Bytes> found;
    for (const Bytes& r : mcu.reports) {
      if (r[3] == n) found.push_back(r);
    }
    return found;
  }
  void ExpectControlsReset() {
    for (int id : {ctl::kSend, ctl::kClose, ctl::kStart, ctl::kSelectUsbFirmware}) {
      EXPECT_TRUE(window.IsControlEnabled(id)) << id;
    }
    for (int id : {ctl::kStop, ctl::kUpdateUsbFirmware, ctl::kUpdateFirmware, ctl::kCancelUpdate}) {
      EXPECT_FALSE(window.IsControlEnabled(id)) << id;
    }
    // The dispatch enables "Select Firmware File" again once the update returns.
    EXPECT_TRUE(window.IsControlEnabled(ctl::kSelectFirmware));
    EXPECT_EQ(window.GetControlText(ctl::kPercentText), "");
    EXPECT_EQ(window.GetProgressPos(ctl::kProgressBar), 0);
    EXPECT_EQ(dialog.image.progressCount, 0);
  }

  test::TempDir work;
  test::VirtualClock clock;
  test::MemoryPortFactory ports;
  InProcessHidBackend hid;
  std::shared_ptr<InProcessHidDevice> device;
  ScriptedMcu mcu;
  RecordingWindow window;
  CKestrumDlg dialog{window, clock, ports, hid};
  size_t openLines = 0;

 private:
  std::filesystem::path previous_;
};

const char kDash36[] = "------------------------------------";
const char kDash38[] = "--------------------------------------";

TEST_F(McuUpdateTest, ReportsOfAnImageWithAShortLastBlock) {
  Connect();
  Bytes image = WriteImage(100);
  ASSERT_EQ(Update(), 1);
  EXPECT_THAT(UpdateLines(),
              ElementsAre("MCU ready for firmware update", kDash36, "Map bin file OK", kDash38,
                          "Install successful", kDash36));
  ASSERT_EQ(mcu.reports.size(), 6u);
  for (const Bytes& r : mcu.reports) ASSERT_EQ(r.size(), 69u);

  EXPECT_THAT(Bytes(mcu.reports[0].begin(), mcu.reports[0].begin() + 10),
              ElementsAre(0x00, 0xCC, 0x99, 0x06, 0x20, 0x66, 0x4D, 0x61, 0x73, 0x74));
  Bytes table{0x00, 0xCC, 0x99, 0x22, 0x57, 0x08, 0, 0,    0, 0, 0,    0,    0x04,
              0,    0,    0,    0x08, 0,    0,    0, 0x0C, 0, 0, 0,    0x10, 0,
              0,    0,    0x80, 0x00, 0,    1,    0, 0,    0, 1, 0x80, 0};
  table.resize(69, 0);
  EXPECT_EQ(mcu.reports[1], table);
  Bytes size{0x00, 0xCC, 0x99, 0x08, 0, 0, 0, 0, 0, 0, 0, 100};
  size.resize(69, 0);
  EXPECT_EQ(mcu.reports[2], size);

  Bytes first{0x00, 0xCC, 0x99, 0x41, 0x11};
  first.insert(first.end(), image.begin(), image.begin() + 64);
  EXPECT_EQ(mcu.reports[3], first);
  // The last 36 bytes go in a short report, zero-filled after them.
  Bytes last{0x00, 0xCC, 0x99, 0x25, 0x11};
  last.insert(last.end(), image.begin() + 64, image.end());
  last.resize(69, 0);
  EXPECT_EQ(mcu.reports[4], last);

  uint8_t sum = 0;
  for (uint8_t b : image) sum = static_cast<uint8_t>(sum + b);
  Bytes end{0x00, 0xCC, 0x99, 0x02, 0x11, static_cast<uint8_t>(~sum)};
  end.resize(69, 0);
  EXPECT_EQ(mcu.reports[5], end);

  EXPECT_THAT(window.percentTexts, ElementsAre("64 %", "100 %", "164 %", ""));
  EXPECT_THAT(clock.Sleeps(), ElementsAre(500, 500));
  EXPECT_EQ(dialog.image.imageBuffer(), nullptr);
  EXPECT_THAT(window.MessageBoxes(), IsEmpty());
  ExpectControlsReset();
}

TEST_F(McuUpdateTest, PercentRunsOneBlockAheadTo101) {
  Connect();
  WriteImage(6400);
  ASSERT_EQ(Update(), 1);
  EXPECT_EQ(mcu.dataReports, 100);
  EXPECT_EQ(ReportsOfLength(0x41).size(), 100u);
  EXPECT_EQ(ReportsOfLength(0x02).size(), 1u);

  std::vector<std::string> texts;
  std::vector<int> bar;
  for (int percent = 1; percent <= 100; ++percent) {
    texts.push_back(std::to_string(percent) + " %");
    bar.push_back(percent);
  }
  texts.push_back("101 %");
  texts.push_back("");
  bar.push_back(100);  // the bar stops at its end
  bar.push_back(0);
  EXPECT_THAT(window.percentTexts, ElementsAreArray(texts));
  EXPECT_THAT(window.barPositions, ElementsAreArray(bar));
  EXPECT_EQ(dialog.image.imageBuffer(), nullptr);
}

TEST_F(McuUpdateTest, SixtyFourBytesAreOneDataReportAndTheEnd) {
  Connect();
  WriteImage(64);
  ASSERT_EQ(Update(), 1);
  EXPECT_EQ(ReportsOfLength(0x41).size(), 1u);
  EXPECT_EQ(ReportsOfLength(0x02).size(), 1u);
  EXPECT_THAT(window.percentTexts, ElementsAre("100 %", "200 %", ""));
}

TEST_F(McuUpdateTest, EmptyOrTopBitRepliesCountAsNoAnswer) {
  Connect();
  WriteImage(192);
  mcu.dataReplies[0] = {0x85, 0x11};
  mcu.dataReplies[1] = {0x00, 0xFF, 0x11};
  ASSERT_EQ(Update(), 1);
  EXPECT_THAT(window.MessageBoxes(), IsEmpty());
  EXPECT_EQ(mcu.dataReports, 3);  // nothing sent again
  EXPECT_EQ(dialog.dispatch.Mcu().noAnswerCount, 0);
}

TEST_F(McuUpdateTest, OtherCodesDuringTheTransferAreReceiveErrors) {
  Connect();
  WriteImage(640);
  mcu.dataReplies[1] = {0x06};
  ASSERT_EQ(Update(), 0);
  EXPECT_THAT(window.MessageBoxes(), ElementsAre("Receive Error !"));
  EXPECT_EQ(mcu.dataReports, 2);
  EXPECT_THAT(UpdateLines(),
              ElementsAre("MCU ready for firmware update", kDash36, "Map bin file OK", kDash36));
  EXPECT_EQ(dialog.image.imageBuffer(), nullptr);
  ExpectControlsReset();
}

TEST_F(McuUpdateTest, SizeAnsweredInstalledRunsNoTransfer) {
  Connect();
  WriteImage(640);
  mcu.sizeReply = 0x07;
  ASSERT_EQ(Update(), 0);
  EXPECT_EQ(mcu.dataReports, 0);
  EXPECT_EQ(mcu.reports.size(), 3u);
  EXPECT_THAT(UpdateLines(),
              ElementsAre("MCU ready for firmware update", kDash36, "Map bin file OK", kDash36));
  // Never started, so never released.
  EXPECT_NE(dialog.image.imageBuffer(), nullptr);
  ExpectControlsReset();
}

TEST_F(McuUpdateTest, TableNotAcceptedSendsNoSizeButStillAwaitsAReply) {
  Connect();
  WriteImage(640);
  mcu.tableReply = 0x15;
  int64_t start = clock.MonotonicMs();
  ASSERT_EQ(Update(), 0);
  EXPECT_EQ(mcu.reports.size(), 2u);
  EXPECT_TRUE(ReportsOfLength(0x08).empty());
  // The two handshake waits and one read that got nothing.
  EXPECT_EQ(clock.MonotonicMs() - start, 1000 + 3000);
  ExpectControlsReset();
}

TEST_F(McuUpdateTest, TimesOutAfter101CyclesWithoutAnswer) {
  Connect();
  WriteImage(640);
  mcu.dataReply = -1;
  int64_t start = clock.MonotonicMs();
  ASSERT_EQ(Update(), 0);
  EXPECT_THAT(window.MessageBoxes(), ElementsAre("Time out !"));
  EXPECT_EQ(clock.MonotonicMs() - start, 1000 + 101 * 3000);
  EXPECT_EQ(mcu.dataReports, 1);
  EXPECT_EQ(dialog.dispatch.Mcu().noAnswerCount, 0);
  EXPECT_EQ(dialog.image.imageBuffer(), nullptr);
  ExpectControlsReset();
}

TEST_F(McuUpdateTest, UnitNotReadyGetsNothingMore) {
  Connect();
  WriteImage(640);
  for (int reply : {-1, 0x15}) {
    mcu.selectionReply = reply;
    mcu.reports.clear();
    ASSERT_EQ(Update(), 0);
    EXPECT_EQ(mcu.reports.size(), 1u);
  }
  EXPECT_THAT(window.MessageBoxes(),
              ElementsAre("System not ready. Please repeat the flash action again !",
                          "System not ready. Please repeat the flash action again !"));
  EXPECT_THAT(UpdateLines(),
              ElementsAre("MCU ready for firmware update", "MCU ready for firmware update"));
  EXPECT_EQ(dialog.image.imageBuffer(), nullptr);
}

TEST_F(McuUpdateTest, OutputReportTooShortForABlockIsRefused) {
  Connect({65, 65});
  WriteImage(640);
  ASSERT_EQ(Update(), 0);
  EXPECT_EQ(mcu.reports.size(), 1u);
  EXPECT_THAT(window.MessageBoxes(),
              ElementsAre("USB report too short for firmware blocks (69 bytes needed) !"));
}

TEST_F(McuUpdateTest, MissingImageSendsNothing) {
  Connect();
  ASSERT_EQ(Update(), 0);
  EXPECT_THAT(UpdateLines(),
              ElementsAre("MCU ready for firmware update", kDash36, "Map bin file Error"));
  EXPECT_EQ(mcu.reports.size(), 1u);
  EXPECT_EQ(dialog.image.imageLength, -1);
}

TEST_F(McuUpdateTest, CpuSelectionAndSessionState) {
  ASSERT_EQ(Update(), 0);
  EXPECT_THAT(window.LogLines(), ElementsAre("Please open device first!"));
  Connect();
  WriteImage(64);
  dialog.selection.cpuTarget = 1;
  ASSERT_EQ(Update(), 1);
  EXPECT_THAT(Bytes(mcu.reports[0].begin(), mcu.reports[0].begin() + 10),
              ElementsAre(0x00, 0xCC, 0x99, 0x06, 0x20, 0x66, 0x53, 0x6C, 0x61, 0x76));
}

}  // namespace
}  // namespace morlane
