// The S-record reader on real files in a temporary directory.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <tuple>

#include "app/headless_window.h"
#include "image/hex_byte.h"
#include "image/s19_text.h"
#include "image/xfer_s19.h"
#include "support/process.h"

namespace morlane {
namespace {

using test::S19End;
using test::S19File;
using test::S19Header;
using test::S19Image;
using test::S19Line;
using ::testing::ElementsAre;

class S19ReaderTest : public ::testing::Test {
 protected:
  int Read(const std::string& text) {
    dir.Write("image.S19", text);
    return xfer.BuildS19BlockList(dir.File("image.S19"));
  }
  std::vector<int> Addresses() const {
    std::vector<int> addresses;
    for (const CS19block& record : xfer.s19BlockList) addresses.push_back(record.address);
    return addresses;
  }

  test::TempDir dir;
  HeadlessWindow window;
  CXferS19 xfer{window};
};

TEST(HexByteTest, TakesTwoDigitsOfEitherCaseAndNothingElse) {
  EXPECT_EQ(HexByte("00"), 0);
  EXPECT_EQ(HexByte("9F"), 0x9F);
  EXPECT_EQ(HexByte("a5"), 0xA5);
  EXPECT_EQ(HexByte("Ff"), 0xFF);
  // A bad character spoils the whole pair; a pair cut short gives 0.
  EXPECT_EQ(HexByte("1G"), 0);
  EXPECT_EQ(HexByte(" 1"), 0);
  EXPECT_EQ(HexByte("F"), 0);
  EXPECT_EQ(HexByte(""), 0);
  EXPECT_EQ(HexByte("123"), 0);
}

TEST_F(S19ReaderTest, ParsesTheFieldsOfADataLine) {
  CS19block record;
  std::string line = S19Line('1', 0x0000, test::Bytes(0));
  ASSERT_EQ(xfer.ParseLine(record, line), 1);
  EXPECT_EQ(record.type, "S1");
  EXPECT_EQ(record.count, 0x13);
  EXPECT_EQ(record.address, 0);
  EXPECT_EQ(record.data, line.substr(8, 32));
  EXPECT_EQ(record.checksum, HexByte(line.substr(40, 2)));

  // Lower-case digits are read and the data keeps its case.
  ASSERT_EQ(xfer.ParseLine(record, "S107e61000ab0cde"), 1);
  EXPECT_EQ(record.address, 0xE610);
  EXPECT_EQ(record.count, 7);
  EXPECT_EQ(record.data, "00ab0cde");
}

TEST_F(S19ReaderTest, EndLineKeepsThePreviousFields) {
  CS19block record;
  ASSERT_EQ(xfer.ParseLine(record, S19End()), 1);
  EXPECT_EQ(record.type, "S9");
  EXPECT_EQ(record.count, 0);
  EXPECT_EQ(record.data, "");

  ASSERT_EQ(xfer.ParseLine(record, "S105E6002244AA"), 1);
  ASSERT_EQ(xfer.ParseLine(record, "S9031234B6"), 1);
  EXPECT_EQ(record.type, "S9");
  EXPECT_EQ(record.address, 0xE600);
  EXPECT_EQ(record.count, 5);
  EXPECT_EQ(record.data, "2244");
  EXPECT_EQ(record.checksum, 0xAA);
}

TEST_F(S19ReaderTest, RejectsEveryOtherType) {
  CS19block record;
  for (const char* line : {"s1130000", "S2140000000000", "S30500000000", "S5030001", "S70500000000",
                           "S8040000", "", " S1130000", "S"}) {
    EXPECT_EQ(xfer.ParseLine(record, line), 0) << "'" << line << "'";
  }
}

TEST_F(S19ReaderTest, LinesCutShortNeverReadPastTheirEnd) {
  CS19block record;
  // Count says 16 data bytes; the line ends after two of them and has no checksum.
  ASSERT_EQ(xfer.ParseLine(record, "S1130010AABB"), 1);
  EXPECT_EQ(record.address, 0x0010);
  EXPECT_EQ(record.data, "AABB");
  EXPECT_EQ(record.checksum, 0);
  // Address cut in the middle; a count below 4 leaves no data.
  ASSERT_EQ(xfer.ParseLine(record, "S102E6"), 1);
  EXPECT_EQ(record.count, 2);
  EXPECT_EQ(record.address, 0xE600);
  EXPECT_EQ(record.data, "");
  ASSERT_EQ(xfer.ParseLine(record, "S1"), 1);
  EXPECT_EQ(record.count, 0);
  EXPECT_EQ(record.address, 0);
}

TEST_F(S19ReaderTest, EmptyFileGivesAnEmptyList) {
  xfer.s19BlockList.resize(3);
  EXPECT_EQ(Read(""), 1);
  EXPECT_TRUE(xfer.s19BlockList.empty());
}

TEST_F(S19ReaderTest, LineEndingsDoNotChangeTheList) {
  std::vector<std::string> lines = S19Image(test::Span(0xE600, 0xE640));
  ASSERT_EQ(Read(S19File(lines, "\r\n")), 1);
  std::vector<CS19block> crlf = xfer.s19BlockList;
  ASSERT_EQ(Read(S19File(lines, "\n")), 1);
  ASSERT_EQ(xfer.s19BlockList.size(), crlf.size());
  for (size_t i = 0; i < crlf.size(); ++i) {
    EXPECT_EQ(xfer.s19BlockList[i].data, crlf[i].data) << i;
    EXPECT_EQ(xfer.s19BlockList[i].checksum, crlf[i].checksum) << i;
  }
  // The last line needs no line feed.
  std::string text = S19File(lines, "\r\n");
  text.resize(text.size() - 2);
  ASSERT_EQ(Read(text), 1);
  EXPECT_EQ(xfer.s19BlockList.size(), crlf.size());
  // A line that is only a carriage return is an empty line.
  EXPECT_EQ(Read(S19File(lines, "\r\n") + "\r\n"), 0);
}

TEST_F(S19ReaderTest, AcceptsWrongChecksumsAndCounts) {
  ASSERT_EQ(Read("S1130000000102030405060708090A0B0C0D0E0F00\nS105001000\nS9030000FC\n"), 1);
  ASSERT_EQ(xfer.s19BlockList.size(), 3u);
  EXPECT_EQ(xfer.s19BlockList[0].checksum, 0x00);
  EXPECT_EQ(xfer.s19BlockList[1].data, "00");
}

TEST_F(S19ReaderTest, StopsAtTheFirstRejectedLineKeepingTheLinesBefore) {
  std::vector<std::string> lines = S19Image({0x1000, 0x1010});
  EXPECT_EQ(Read(S19File(lines, "\n") + "\n"), 0);  // trailing blank line
  EXPECT_THAT(Addresses(), ElementsAre(0, 0x1000, 0x1010, 0x1010));
  EXPECT_EQ(xfer.s19BlockList.back().type, "S9");

  lines.insert(lines.begin() + 2, "S2080010000102030405");
  EXPECT_EQ(Read(S19File(lines, "\n")), 0);
  EXPECT_THAT(Addresses(), ElementsAre(0, 0x1000));
  EXPECT_EQ(Read("s1130000\n"), 0);
  EXPECT_TRUE(xfer.s19BlockList.empty());
  // Lines after an end record are read like any other.
  EXPECT_EQ(Read(S19File({S19End(), S19Line('1', 0x20, test::Bytes(0x20))}, "\n")), 1);
  EXPECT_EQ(xfer.s19BlockList.size(), 2u);
  EXPECT_TRUE(window.MessageBoxes().empty());
}

// The refused line is counted as an editor counts it, whatever ends the lines.
TEST_F(S19ReaderTest, RefusalNamesTheLineAndWhy) {
  auto refused = [this](const std::string& text) {
    EXPECT_EQ(xfer.ParseS19Text(text), 0);
    return std::make_tuple(xfer.refusal.line, xfer.refusal.reason, xfer.refusal.detail);
  };
  std::vector<std::string> image = S19Image({0x1000, 0x1010});  // lines 1 to 4
  for (const char* ending : {"\r\n", "\n"}) {
    SCOPED_TRACE(ending == std::string("\n") ? "LF" : "CRLF");
    // A count record before the end record, and a DOS end-of-file byte after it.
    std::vector<std::string> lines = image;
    lines.insert(lines.end() - 1, "S5030002FA");
    EXPECT_EQ(refused(S19File(lines, ending)),
              std::make_tuple(4, "record-type", "record type S5 is not read"));
    EXPECT_EQ(refused(S19File(image, ending) + "\x1A"),
              std::make_tuple(5, "record-type", "a DOS end-of-file byte (1A) is no record"));
    lines = image;
    lines.insert(lines.begin() + 2, "");
    EXPECT_EQ(refused(S19File(lines, ending)),
              std::make_tuple(3, "blank-line", "the line is empty"));
    EXPECT_EQ(refused("\tS1130000" + std::string(ending)),
              std::make_tuple(1, "record-type", "the line does not begin with S0, S1 or S9"));
  }
  // A file taken after a refused one carries no refusal of its own.
  ASSERT_EQ(xfer.ParseS19Text(S19File(image, "\r\n")), 1);
  EXPECT_EQ(xfer.refusal.reason, "");
  EXPECT_EQ(xfer.refusal.line, 0);
  EXPECT_TRUE(window.MessageBoxes().empty());
}

TEST_F(S19ReaderTest, FixedRecordGoesAfterTheFirstRecordOfAnImageAtE600) {
  ASSERT_EQ(Read(S19File(S19Image({0xE600, 0xE610}), "\n")), 1);
  EXPECT_THAT(Addresses(), ElementsAre(0, 0xDC80, 0xE600, 0xE610, 0xE610));
  const CS19block& fixed = xfer.s19BlockList[1];
  EXPECT_EQ(fixed.type, "S1");
  EXPECT_EQ(fixed.count, 0x23);
  EXPECT_EQ(fixed.checksum, 0x11);
  EXPECT_EQ(fixed.data, "FFFFFFFFFFFFFFFFFFFFFFFF45E68CFCFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF");

  // Without a header only the second record is looked at.
  ASSERT_EQ(Read(S19File(S19Image({0xE600, 0xE610}, false), "\n")), 1);
  EXPECT_THAT(Addresses(), ElementsAre(0xE600, 0xE610, 0xE610));
  ASSERT_EQ(Read(S19File(S19Image({0xE5F0, 0xE600}, false), "\n")), 1);
  EXPECT_THAT(Addresses(), ElementsAre(0xE5F0, 0xDC80, 0xE600, 0xE600));
  // A one-line file has no second record.
  ASSERT_EQ(Read(S19Line('1', 0xE600, test::Bytes(0xE600))), 1);
  EXPECT_THAT(Addresses(), ElementsAre(0xE600));
  // Also inserted when reading stopped at a bad line.
  EXPECT_EQ(
      Read(S19File({S19Header(), S19Line('1', 0xE600, test::Bytes(0xE600)), "S5030000"}, "\n")), 0);
  EXPECT_THAT(Addresses(), ElementsAre(0, 0xDC80, 0xE600));
}

TEST_F(S19ReaderTest, UnreadableFileLeavesTheListAsItWas) {
  ASSERT_EQ(Read(S19File(S19Image({0x1000}), "\n")), 1);
  EXPECT_EQ(xfer.BuildS19BlockList(dir.File("missing.S19")), 0);
  EXPECT_EQ(xfer.BuildS19BlockList(dir.Path()), 0);
  EXPECT_EQ(xfer.refusal.reason, "not-a-file");
  EXPECT_THAT(window.MessageBoxes(), ElementsAre("Read File Error !", "Read File Error !"));
  EXPECT_THAT(Addresses(), ElementsAre(0, 0x1000, 0x1000));
  EXPECT_EQ(xfer.BuildS19BlockList(dir.File("missing.S19")), 0);
  EXPECT_EQ(xfer.refusal.reason, "unreadable");
}

// A file of gigabytes picked by mistake is refused before it is read into memory (a sparse
// file: it takes no disk space here).
TEST_F(S19ReaderTest, FileFarLargerThanAnyImageIsRefusedUnread) {
  ASSERT_EQ(Read(S19File(S19Image({0x1000}), "\n")), 1);
  std::filesystem::resize_file(dir.File("image.S19"), 3ull << 30);
  EXPECT_EQ(xfer.BuildS19BlockList(dir.File("image.S19")), 0);
  EXPECT_THAT(window.MessageBoxes(), ElementsAre("S19 File Error (A) !"));
  EXPECT_TRUE(xfer.s19BlockList.empty());
  EXPECT_EQ(xfer.refusal.reason, "too-large");
  EXPECT_EQ(xfer.refusal.line, 0);
}

}  // namespace
}  // namespace morlane
