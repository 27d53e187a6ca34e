// An image file that another program holds locked is refused.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "link/image_buffer.h"
#include "support/process.h"

namespace morlane {
namespace {

TEST(ImageBufferLock, FileHeldByAnotherProgramIsRefusedAndKeepsThePreviousImage) {
  test::TempDir dir;
  ImageBuffer image;
  dir.Write("a.bin", std::vector<uint8_t>{1, 2, 3});
  ASSERT_EQ(image.LoadImageFile(dir.File("a.bin")), 3);
  int holder = ::open(dir.File("a.bin").c_str(), O_RDONLY);
  ASSERT_GE(holder, 0);
  ASSERT_EQ(::flock(holder, LOCK_EX), 0);
  EXPECT_EQ(image.LoadImageFile(dir.File("a.bin")), -1);
  ::close(holder);
  EXPECT_EQ(image.loadedBytes(), 3u);
  EXPECT_EQ(image.imageBuffer()[2], 3);
}

}  // namespace
}  // namespace morlane
