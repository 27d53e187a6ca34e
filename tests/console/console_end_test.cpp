// However the dialog ends while a test runs, the worker is stopped and joined, its finish
// line written and MCUlog.txt closed, before anything of the dialog goes.
#include <gmock/gmock.h>

#include "console_fixture.h"
#include "support/open_files.h"

namespace morlane::test {
namespace {

using ::testing::EndsWith;

class EndTest : public ConsoleTest {
 protected:
  void StartAndWaitForAnswers(int entry, const std::string& answer, int answers) {
    Open(entry);
    CheckOnly({ctl::kCheckQ1});
    ASSERT_TRUE(window.Click(ctl::kStart));
    ASSERT_TRUE(ServeUntil([&] { return CountLines(answer) >= answers; }));
    ASSERT_TRUE(FileOpenHere(dir.File("MCUlog.txt")));
  }
  void ExpectEndedCleanly(const char* exitLine, const char* finish) {
    EXPECT_FALSE(dialog->console.TestRunning());
    std::vector<std::string> lines = window.LogLines();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[lines.size() - 2], exitLine);
    EXPECT_EQ(lines.back(), std::string(36, '-'));
    EXPECT_THAT(McuLogText(), EndsWith(finish));
    EXPECT_FALSE(FileOpenHere(dir.File("MCUlog.txt")));
  }
};

constexpr const char* kHidFinish = "\r\rTest Finish Time: 2012/4/12 9:5:3----------------------\r";
constexpr const char* kSerialFinish =
    "\r\nTest Finish Time: 2012/4/12 9:5:3----------------------\r\n";

TEST_F(EndTest, EscapeDuringAnHidTest) {
  StartAndWaitForAnswers(1, kQ1Answer, 2);
  dialog->OnCommand(CKestrumDlg::kIdCancel);
  EXPECT_TRUE(dialog->Ended());
  ExpectEndedCleanly("The auto send command Eixt!", kHidFinish);
}

TEST_F(EndTest, CloseCommandDuringASerialTest) {
  StartAndWaitForAnswers(0, kQ1Answer, 1);
  dialog->OnSysCommand(CKestrumDlg::kSysClose);
  ExpectEndedCleanly("Stop auto send command!", kSerialFinish);
  EXPECT_FALSE(dialog->serial.IsOpen());
}

TEST_F(EndTest, DialogDestroyedDuringATest) {
  // The sanitizer build catches a worker that would touch the dialog after this.
  StartAndWaitForAnswers(1, kQ1Answer, 1);
  dialog.reset();
  std::vector<std::string> lines = window.LogLines();
  EXPECT_EQ(lines[lines.size() - 2], "The auto send command Eixt!");
  EXPECT_THAT(McuLogText(), EndsWith(kHidFinish));
  EXPECT_FALSE(FileOpenHere(dir.File("MCUlog.txt")));
}

TEST_F(EndTest, EndingAfterStopWaitsForTheWorkerStill) {
  StartAndWaitForAnswers(1, kQ1Answer, 1);
  ASSERT_TRUE(window.Click(ctl::kStop));
  dialog->EndDialog();
  ExpectEndedCleanly("The auto send command Eixt!", kHidFinish);
  dialog->EndDialog();  // a second end finds nothing to do
}

}  // namespace
}  // namespace morlane::test
