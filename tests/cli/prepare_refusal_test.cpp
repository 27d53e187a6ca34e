// "prepare" on an S-record file it refuses says, on stderr, the file as it was given, the
// line at fault and why.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <CLI/CLI.hpp>

#include <filesystem>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "cli/cli_app.h"
#include "image/s19_text.h"
#include "support/process.h"

namespace morlane {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;

class PrepareRefusalTest : public ::testing::Test {
 protected:
  PrepareRefusalTest() : previous_(std::filesystem::current_path()) {
    std::filesystem::current_path(dir.Path());
    std::filesystem::create_directory("images");
  }
  ~PrepareRefusalTest() override { std::filesystem::current_path(previous_); }

  // The lines the run wrote on stderr; the verdict line is main's and not among them.
  std::vector<std::string> Prepare(const std::string& file) {
    GlobalOptions options;
    CommandRunner selected;
    std::unique_ptr<CLI::App> app = BuildCliApp(options, selected);
    const char* argv[] = {"morlane-cli", "--simulate", "--quiet", "prepare",
                          file.c_str(),  "--link",     "none"};
    app->parse(static_cast<int>(std::size(argv)), argv);
    CliSession session(options);
    std::string error;
    EXPECT_TRUE(session.Setup(&error)) << error;
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(selected(session), kExitFailed);
    std::string err = ::testing::internal::GetCapturedStderr();
    session.Finish();
    EXPECT_EQ(session.FailedStep(), "prepare");
    std::vector<std::string> lines = test::SplitLines(err);
    for (std::string& line : lines) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
    }
    return lines;
  }

  test::TempDir dir;

 private:
  std::filesystem::path previous_;
};

TEST_F(PrepareRefusalTest, NamesTheFileAsGivenWithTheLineAndWhy) {
  dir.Write("images/fw.S19", test::S19File({test::S19Header(), test::S19Line('1', 0x1000, {1, 2}),
                                            "S5030002FA", test::S19End()},
                                           "\r\n"));
  EXPECT_THAT(Prepare("images/fw.S19"),
              ElementsAre("refused: images/fw.S19 line 3: record type S5 is not read"));

  // A refusal of the whole file has no line to name.
  dir.Write("images/empty.S19", "");
  EXPECT_THAT(Prepare("images/empty.S19"),
              Contains("refused: images/empty.S19: the file holds no record"));
}

}  // namespace
}  // namespace morlane
