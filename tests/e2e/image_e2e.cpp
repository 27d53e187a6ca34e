// Whole runs of morlane-cli on its simulated unit: prepare an S-record file, then send
// tmp.bin to the MCU, each run with a unit of its own.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "image/s19_text.h"
#include "support/process.h"

namespace morlane {
namespace {

using ::testing::Contains;
using ::testing::HasSubstr;
using ::testing::Not;

class ImageE2eTest : public ::testing::Test {
 protected:
  ImageE2eTest() {
    source.Write("image.S19", test::S19File(test::S19Image(test::Span(0xE600, 0xE700)), "\r\n"));
  }
  test::ProcessResult Cli(std::vector<std::string> args, const std::string& cwd = "") {
    args.insert(args.begin(), {MORLANE_CLI, "--simulate", "--quiet", "--dir", work.Path()});
    return test::RunProcess(args, cwd, 60);
  }
  std::string FirstTxtLine() const {
    std::vector<uint8_t> txt = work.Read("tmp.txt");
    std::string text(txt.begin(), txt.end());
    return text.substr(0, text.find('\n') + 1);
  }

  test::TempDir work;
  test::TempDir source;
};

TEST_F(ImageE2eTest, PrepareThenUpdateInstallsTheImage) {
  test::ProcessResult prepare = Cli({"prepare", source.File("image.S19")});
  ASSERT_EQ(prepare.status, 0) << prepare.out << prepare.err;
  std::vector<std::string> lines = test::SplitLines(prepare.out);
  EXPECT_THAT(lines, Contains("Build Raw block list OK"));
  EXPECT_THAT(lines, Contains("Write to tmp.bin file OK"));
  EXPECT_EQ(work.Read("tmp.bin").size(), 324u);
  EXPECT_EQ(FirstTxtLine(),
            "24-dc80-20-FFFFFFFFFFFFFFFFFFFFFFFF45E68CFCFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF\r\n");

  test::ProcessResult update = Cli({"mcu-update", "--cpu", "slave"});
  ASSERT_EQ(update.status, 0) << update.out << update.err;
  lines = test::SplitLines(update.out);
  EXPECT_THAT(lines, Contains("Map bin file OK"));
  EXPECT_THAT(lines, Contains("Install successful"));
  EXPECT_THAT(update.err, Not(HasSubstr("message:")));
}

TEST_F(ImageE2eTest, PrepareWithoutALinkWritesSixteenByteRows) {
  // A relative FILE is taken from --dir, as git -C takes it, not from where the tool was
  // started.
  work.Write("own.S19", source.Read("image.S19"));
  test::ProcessResult run = Cli({"prepare", "own.S19", "--link", "none"}, source.Path());
  ASSERT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_THAT(test::SplitLines(run.out), Contains("Please open device first!"));
  EXPECT_EQ(FirstTxtLine().substr(0, 11), "14-0000-10-");
  EXPECT_FALSE(std::filesystem::exists(source.File("tmp.bin")));
}

TEST_F(ImageE2eTest, RefusalsAndUsageErrors) {
  EXPECT_EQ(Cli({"prepare", source.File("missing.S19")}).status, 2);
  EXPECT_EQ(Cli({"prepare", source.Path()}).status, 2);
  EXPECT_EQ(Cli({"prepare", source.File("image.S19"), "--link", "lpt"}).status, 2);
  EXPECT_EQ(Cli({"mcu-update", "--cpu", "third"}).status, 2);

  // The simulated COM entry names no unit type that takes an image over the line.
  test::ProcessResult com = Cli({"prepare", source.File("image.S19"), "--link", "com"});
  EXPECT_EQ(com.status, 1);
  EXPECT_THAT(test::SplitLines(com.out), Contains("Unsupport This Type MCU!"));
  EXPECT_FALSE(std::filesystem::exists(work.File("tmp.bin")));

  test::ProcessResult update = Cli({"mcu-update"});
  EXPECT_EQ(update.status, 1);
  EXPECT_THAT(test::SplitLines(update.out), Contains("Map bin file Error"));
}

}  // namespace
}  // namespace morlane
