// One holder of a folder at a time, and the holder named to whoever finds it held.
#include "platform/folder_lock.h"

#include <gmock/gmock.h>

#include "platform/file_io.h"
#include "support/process.h"

namespace morlane {
namespace {

using ::testing::HasSubstr;
using ::testing::StartsWith;

TEST(FolderLockTest, HeldUntilLetGoAndTheHolderIsNamed) {
  test::TempDir dir;
  FolderLock::Outcome outcome = FolderLock::Outcome::Failed;
  std::string holder, why;
  std::unique_ptr<FolderLock> first =
      FolderLock::Take(dir.Path(), "x.lock", &outcome, &holder, &why);
  ASSERT_NE(first, nullptr) << why;
  EXPECT_EQ(outcome, FolderLock::Outcome::Taken);

  // Another holder, even in this process, finds it held and learns by whom.
  EXPECT_EQ(FolderLock::Take(dir.Path(), "x.lock", &outcome, &holder, &why), nullptr);
  EXPECT_EQ(outcome, FolderLock::Outcome::Held);
  EXPECT_THAT(holder, StartsWith("process "));
  EXPECT_THAT(holder, HasSubstr(" on " + HostName()));

  first.reset();
  EXPECT_NE(FolderLock::Take(dir.Path(), "x.lock", &outcome, &holder, &why), nullptr);
  EXPECT_EQ(outcome, FolderLock::Outcome::Taken);

  // A folder that is not there is a failure with its reason, not a holder.
  EXPECT_EQ(FolderLock::Take(dir.File("gone"), "x.lock", &outcome, &holder, &why), nullptr);
  EXPECT_EQ(outcome, FolderLock::Outcome::Failed);
  EXPECT_THAT(why, HasSubstr("x.lock"));
}

TEST(FolderLockTest, AHolderThatSaysNothingReadableIsAnotherProgram) {
  EXPECT_EQ(HolderOfLockText("4711 line1-pc\r\n"), "process 4711 on line1-pc");
  EXPECT_EQ(HolderOfLockText(""), "another program");
  EXPECT_EQ(HolderOfLockText("x1 host"), "another program");
  EXPECT_EQ(HolderOfLockText("12 ho\x1bst"), "process 12 on ho?st");
}

}  // namespace
}  // namespace morlane
