// The in-memory firmware image and the percentage shown against it.
#include "link/image_buffer.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "app/headless_window.h"
#include "support/process.h"
#include "ui/control_ids.h"

namespace morlane {
namespace {

class ImageBufferTest : public ::testing::Test {
 protected:
  test::TempDir dir;
  ImageBuffer image;
};

TEST_F(ImageBufferTest, LoadHoldsTheWholeFileAndReplacesThePreviousImage) {
  dir.Write("a.bin", std::vector<uint8_t>{1, 2, 3});
  dir.Write("b.bin", std::vector<uint8_t>{9, 8, 7, 6, 5});
  EXPECT_EQ(image.LoadImageFile(dir.File("a.bin")), 3);
  image.AdvanceCursor(2);
  EXPECT_EQ(image.LoadImageFile(dir.File("b.bin")), 5);
  EXPECT_EQ(image.loadedBytes(), 5u);
  EXPECT_EQ(image.cursorOffset(), 0u);
  EXPECT_EQ(std::vector<uint8_t>(image.imageBuffer(), image.imageBuffer() + 5),
            (std::vector<uint8_t>{9, 8, 7, 6, 5}));
  image.AdvanceCursor(100);
  EXPECT_EQ(image.cursorOffset(), 5u);  // never past the end
}

TEST_F(ImageBufferTest, FailedLoadsKeepThePreviousImage) {
  dir.Write("a.bin", std::vector<uint8_t>{1, 2, 3});
  dir.Write("empty.bin", std::vector<uint8_t>{});
  ASSERT_EQ(image.LoadImageFile(dir.File("a.bin")), 3);
  EXPECT_EQ(image.LoadImageFile(dir.File("empty.bin")), -1);
  EXPECT_EQ(image.LoadImageFile(dir.File("missing.bin")), -1);
  EXPECT_EQ(image.LoadImageFile(dir.Path()), -1);
  EXPECT_EQ(image.loadedBytes(), 3u);
  EXPECT_EQ(image.imageBuffer()[2], 3);
}

TEST_F(ImageBufferTest, ReleaseEmptiesTheBufferAndMayBeRepeated) {
  dir.Write("a.bin", std::vector<uint8_t>{1});
  image.LoadImageFile(dir.File("a.bin"));
  image.ReleaseImage();
  EXPECT_EQ(image.imageBuffer(), nullptr);
  EXPECT_EQ(image.imageCursor(), nullptr);
  image.ReleaseImage();
  EXPECT_EQ(image.imageBuffer(), nullptr);
}

TEST(PercentDisplayTest, TruncatedAndKeptWithin0To100) {
  HeadlessWindow window;
  ShowPercent(window, 999, 1000);
  EXPECT_EQ(window.GetControlText(ctl::kPercentText), "99 %");
  EXPECT_EQ(window.GetProgressPos(ctl::kProgressBar), 99);
  ShowPercent(window, 224, -1);  // no image loaded
  EXPECT_EQ(window.GetControlText(ctl::kPercentText), "0 %");
  EXPECT_EQ(window.GetProgressPos(ctl::kProgressBar), 0);
  ShowPercent(window, 672, 60);  // counted past the length
  EXPECT_EQ(window.GetControlText(ctl::kPercentText), "100 %");
  EXPECT_EQ(window.GetProgressPos(ctl::kProgressBar), 100);
  EXPECT_EQ(PercentOf(30'000'000, 40'000'000), 75);  // no overflow on the way
}

}  // namespace
}  // namespace morlane
