// Rows cut from the S19 block list, and the bytes of tmp.txt and tmp.bin.
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <tuple>

#include "app/headless_window.h"
#include "image/s19_text.h"
#include "image/xfer_s19.h"
#include "support/process.h"

namespace morlane {
namespace {

using test::Bytes;
using test::S19End;
using test::S19File;
using test::S19Header;
using test::S19Image;
using test::S19Line;
using test::Span;
using ::testing::ElementsAre;

std::string Hex(const std::vector<uint8_t>& bytes) {
  std::string text;
  char pair[4];
  for (uint8_t b : bytes) {
    std::snprintf(pair, sizeof pair, "%02X", b);
    text += pair;
  }
  return text;
}

std::string Fill(int bytes) {
  return std::string(static_cast<size_t>(2 * bytes), 'F');
}

const char kFixed[] = "FFFFFFFFFFFFFFFFFFFFFFFF45E68CFCFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF";

class RawBlockListTest : public ::testing::Test {
 protected:
  RawBlockListTest() : previous_(std::filesystem::current_path()) {
    std::filesystem::current_path(dir.Path());
  }
  ~RawBlockListTest() override { std::filesystem::current_path(previous_); }

  int Build(const std::vector<std::string>& lines, int rowSize, bool skipFirst) {
    dir.Write("image.S19", S19File(lines, "\r\n"));
    EXPECT_EQ(xfer.BuildS19BlockList(dir.File("image.S19")), 1);
    xfer.rowSize = rowSize;
    xfer.skipFirst = skipFirst;
    return xfer.BuildRawBlockList();
  }
  std::vector<int> RowAddresses() const {
    std::vector<int> addresses;
    for (const CRawblock& row : xfer.rawBlockList) addresses.push_back(row.address);
    return addresses;
  }
  std::string TmpTxt() const {
    std::vector<uint8_t> bytes = dir.Read("tmp.txt");
    return std::string(bytes.begin(), bytes.end());
  }

  test::TempDir dir;
  HeadlessWindow window;
  CXferS19 xfer{window};

 private:
  std::filesystem::path previous_;
};

TEST_F(RawBlockListTest, ImageAtE600InAUsbBuild) {
  ASSERT_EQ(Build(S19Image(Span(0xE600, 0xE700)), 32, true), 1);
  ASSERT_EQ(xfer.rawBlockList.size(), 9u);
  EXPECT_THAT(RowAddresses(),
              ElementsAre(0xDC80, 0xE600, 0xE620, 0xE640, 0xE660, 0xE680, 0xE6A0, 0xE6C0, 0xE6E0));
  for (const CRawblock& row : xfer.rawBlockList) {
    EXPECT_EQ(row.size, 0x24);
    EXPECT_EQ(row.length, 0x20);
  }
  ASSERT_EQ(xfer.WriteTxtFile("tmp.txt"), 1);
  ASSERT_EQ(xfer.WriteBinFile("tmp.bin"), 1);

  std::vector<std::string> lines = test::SplitLines(TmpTxt());
  ASSERT_EQ(lines.size(), 9u);
  EXPECT_EQ(lines[0], std::string("24-dc80-20-") + kFixed + "\r");
  EXPECT_EQ(lines[1], "24-e600-20-" + Hex(Bytes(0xE600)) + Hex(Bytes(0xE610)) + "\r");

  std::vector<uint8_t> bin = dir.Read("tmp.bin");
  ASSERT_EQ(bin.size(), 324u);
  EXPECT_THAT(std::vector<uint8_t>(bin.begin(), bin.begin() + 4),
              ElementsAre(0x24, 0xDC, 0x80, 0x20));
  // Each row: size, address high byte first, length, data.
  std::vector<uint8_t> second(bin.begin() + 36, bin.begin() + 72);
  std::vector<uint8_t> expected{0x24, 0xE6, 0x00, 0x20};
  for (uint16_t a : {0xE600, 0xE610}) {
    std::vector<uint8_t> data = Bytes(a);
    expected.insert(expected.end(), data.begin(), data.end());
  }
  EXPECT_EQ(second, expected);
  EXPECT_EQ(bin.back(), Bytes(0xE6F0).back());
}

TEST_F(RawBlockListTest, WholePageGivesNonOverlappingRowsOfTwoRecords) {
  ASSERT_EQ(Build(S19Image(Span(0x3000, 0x3100)), 32, true), 1);
  EXPECT_THAT(RowAddresses(),
              ElementsAre(0x3000, 0x3020, 0x3040, 0x3060, 0x3080, 0x30A0, 0x30C0, 0x30E0));
  for (const CRawblock& row : xfer.rawBlockList) {
    EXPECT_EQ(row.data, Hex(Bytes(static_cast<uint16_t>(row.address))) +
                            Hex(Bytes(static_cast<uint16_t>(row.address + 16))));
  }
}

TEST_F(RawBlockListTest, GapsAndStretchEndsAreFilledWithFF) {
  ASSERT_EQ(Build(S19Image({0xE600, 0xE610, 0xE630, 0xE640}, false), 32, false), 1);
  ASSERT_THAT(RowAddresses(), ElementsAre(0xE600, 0xE630, 0xE640));
  EXPECT_EQ(xfer.rawBlockList[0].data, Hex(Bytes(0xE600)) + Hex(Bytes(0xE610)));
  EXPECT_EQ(xfer.rawBlockList[1].data, Hex(Bytes(0xE630)) + Fill(16));
  EXPECT_EQ(xfer.rawBlockList[2].data, Hex(Bytes(0xE640)) + Fill(16));

  // A gap inside a 128-byte row, then the row filled to its end.
  ASSERT_EQ(Build(S19Image({0xE600, 0xE620}, false), 128, false), 1);
  ASSERT_EQ(xfer.rawBlockList.size(), 1u);
  EXPECT_EQ(xfer.rawBlockList[0].data,
            Hex(Bytes(0xE600)) + Fill(16) + Hex(Bytes(0xE620)) + Fill(80));
  EXPECT_EQ(xfer.rawBlockList[0].size, 0x84);
}

TEST_F(RawBlockListTest, ShortClosingRecordIsFilledWithinItsRow) {
  std::vector<std::string> lines{S19Line('1', 0xE600, Bytes(0xE600)),
                                 S19Line('1', 0xE610, Bytes(0xE610, 8)), S19End()};
  ASSERT_EQ(Build(lines, 32, false), 1);
  ASSERT_EQ(xfer.rawBlockList.size(), 1u);
  EXPECT_EQ(xfer.rawBlockList[0].data, Hex(Bytes(0xE600)) + Hex(Bytes(0xE610, 8)) + Fill(8));
  EXPECT_EQ(xfer.rawBlockList[0].length, 32);
}

TEST_F(RawBlockListTest, SixteenByteRowsKeepTheHeader) {
  ASSERT_EQ(Build(S19Image({0x0100, 0x0110}), 16, false), 1);
  EXPECT_THAT(RowAddresses(), ElementsAre(0x0000, 0x0100, 0x0110));
  ASSERT_EQ(xfer.WriteTxtFile("tmp.txt"), 1);
  std::string header = Hex({'m', 'o', 'r', 'l', 'a', 'n', 'e'});
  EXPECT_EQ(test::SplitLines(TmpTxt())[0], "14-0000-10-" + header + Fill(9) + "\r");

  // The fixed record's row keeps its 32 bytes.
  ASSERT_EQ(Build(S19Image({0xE600}), 16, false), 1);
  ASSERT_THAT(RowAddresses(), ElementsAre(0x0000, 0xDC80, 0xE600));
  EXPECT_EQ(xfer.rawBlockList[1].size, 0x24);
}

TEST_F(RawBlockListTest, FirstAndLastRecordsThatAddNothing) {
  // Without a header, skipping the first record loses the first data record.
  ASSERT_EQ(Build(S19Image({0x2000, 0x2010, 0x2020}, false), 32, true), 1);
  EXPECT_THAT(RowAddresses(), ElementsAre(0x2010, 0x2020));
  // Without an end record the last data record is lost.
  std::vector<std::string> lines = S19Image({0x2000, 0x2010, 0x2020}, false);
  lines.pop_back();
  ASSERT_EQ(Build(lines, 32, false), 1);
  ASSERT_EQ(xfer.rawBlockList.size(), 1u);
  EXPECT_EQ(xfer.rawBlockList[0].data, Hex(Bytes(0x2000)) + Hex(Bytes(0x2010)));
}

TEST_F(RawBlockListTest, ListsWithoutDataAreRefused) {
  dir.Write("empty.S19", "");
  ASSERT_EQ(xfer.BuildS19BlockList(dir.File("empty.S19")), 1);
  EXPECT_EQ(xfer.BuildRawBlockList(), 0);
  EXPECT_THAT(window.MessageBoxes(), ElementsAre("S19 File Error (B) !"));

  // The first row would start at the last record, or there is no record to start it.
  EXPECT_EQ(Build({S19End()}, 16, false), 0);
  EXPECT_EQ(Build({S19Header(), S19End()}, 32, true), 0);
  EXPECT_EQ(Build({S19Header()}, 32, true), 0);
  EXPECT_TRUE(xfer.rawBlockList.empty());
  EXPECT_THAT(window.LogLines(),
              ElementsAre("Image refused: no data record before the last S19 record",
                          "Image refused: no data record before the last S19 record",
                          "Image refused: no data record before the last S19 record"));
}

TEST_F(RawBlockListTest, RowsTheBinFormatCannotCarryAreRefused) {
  // 250 data bytes make a 128-byte build's row 256 bytes long.
  std::vector<std::string> lines{S19Line('1', 0x4000, Bytes(0x4000, 250)),
                                 S19Line('1', 0x4100, Bytes(0x4100)), S19End()};
  EXPECT_EQ(Build(lines, 128, false), 0);
  // A count below 3, a line shorter than its count.
  EXPECT_EQ(Build({S19Line('1', 0x4000, Bytes(0x4000)), "S1024010", S19End()}, 32, false), 0);
  EXPECT_EQ(Build({"S11350000102", S19Line('1', 0x5010, Bytes(0x5010)), S19End()}, 32, false), 0);
  EXPECT_TRUE(xfer.rawBlockList.empty());
  EXPECT_THAT(
      window.LogLines(),
      ElementsAre("Image refused: row at 4000 would exceed 255 bytes",
                  "Image refused: S19 record at 4010 has a byte count below 3",
                  "Image refused: S19 record at 5000 holds fewer data bytes than its count"));
}

// The line is the file's, not the record's place in the list: the fixed record inserted
// for an image at E600 is in no line.
TEST_F(RawBlockListTest, RefusedRecordIsNamedByItsLine) {
  auto refused = [this](const std::vector<std::string>& lines, int rowSize) {
    EXPECT_EQ(Build(lines, rowSize, true), 0);
    return std::make_tuple(xfer.refusal.line, xfer.refusal.reason, xfer.refusal.detail);
  };
  std::vector<std::string> lines = S19Image(Span(0xE600, 0xE640));  // lines 1 to 6
  lines.insert(lines.begin() + 3, "S1024620");
  EXPECT_EQ(refused(lines, 32),
            std::make_tuple(4, "byte-count",
                            "the byte count is 2, below the 3 bytes of address and checksum"));
  lines[3] = "S11346200102";  // cut after two of its 16 data bytes
  EXPECT_EQ(refused(lines, 32),
            std::make_tuple(4, "short-line",
                            "the line ends before the 16 data bytes its byte count gives"));
  // The row started by line 2 outgrows its size byte (4 header bytes and 256 of data).
  lines = {S19Header(), S19Line('1', 0x4000, Bytes(0x4000, 250)),
           S19Line('1', 0x4100, Bytes(0x4100)), S19End()};
  EXPECT_EQ(refused(lines, 128),
            std::make_tuple(2, "long-row", "the row at 4000 would be 260 bytes long, over 255"));

  ASSERT_EQ(Build(S19Image({0x1000, 0x1010}), 32, true), 1);
  EXPECT_EQ(xfer.refusal.reason, "");
}

TEST_F(RawBlockListTest, LetterCaseShowsInTheListingOnly) {
  std::vector<std::string> lines{"S1130000000102030405060708090a0b0c0d0e0fab",
                                 "S1130010f0f1f2f3f4f5f6f7f8f9fafbfcfdfeffab", S19End()};
  ASSERT_EQ(Build(lines, 32, false), 1);
  ASSERT_EQ(xfer.WriteTxtFile("tmp.txt"), 1);
  ASSERT_EQ(xfer.WriteBinFile("tmp.bin"), 1);
  EXPECT_EQ(TmpTxt(),
            "24-0000-20-000102030405060708090a0b0c0d0e0ff0f1f2f3f4f5f6f7f8f9fafbfcfdfeff\r\n");
  std::vector<uint8_t> lower = dir.Read("tmp.bin");

  for (std::string& line : lines) {
    for (char& c : line) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  }
  ASSERT_EQ(Build(lines, 32, false), 1);
  ASSERT_EQ(xfer.WriteBinFile("tmp.bin"), 1);
  EXPECT_EQ(dir.Read("tmp.bin"), lower);
  ASSERT_EQ(lower.size(), 36u);
  EXPECT_EQ(lower[4 + 0x1A], 0xFA);
}

TEST_F(RawBlockListTest, WritersFollowTheRowsAsHeld) {
  CRawblock odd;
  odd.size = 7;
  odd.address = 0xAB;
  odd.length = 3;
  odd.data = "0aFF1";  // an odd character count ends in a 0 byte
  xfer.rawBlockList = {odd};
  ASSERT_EQ(xfer.WriteTxtFile("tmp.txt"), 1);
  ASSERT_EQ(xfer.WriteBinFile("rows.bin"), 1);
  EXPECT_EQ(TmpTxt(), "07-00ab-03-0aFF1\r\n");
  EXPECT_THAT(dir.Read("rows.bin"), ElementsAre(0x07, 0x00, 0xAB, 0x03, 0x0A, 0xFF, 0x00));

  std::filesystem::create_directory(dir.File("tmp.txt.d"));
  EXPECT_EQ(xfer.WriteBinFile("tmp.txt.d"), 0);
  std::filesystem::remove(dir.File("tmp.txt"));
  std::filesystem::create_directory(dir.File("tmp.txt"));
  EXPECT_EQ(xfer.WriteTxtFile("tmp.txt"), 0);
  EXPECT_THAT(window.MessageBoxes(),
              ElementsAre("BIN File Write Error !", "TXT File Write Error !"));
}

}  // namespace
}  // namespace morlane
