// The window's parts that need no window: the file filter, the options, the icon's
// picture and the picture files.
#include <gmock/gmock.h>

#include "win/app_icon.h"
#include "win/file_dialog.h"
#include "win/win_options.h"
#include "win/window_picture.h"

namespace morlane::win::test {
namespace {

using namespace std::string_literals;

TEST(OpenDialogFilter, FromTheBarSeparatedForm) {
  EXPECT_EQ(OpenDialogFilter("FirmWare Files (*.bin)|*.bin|All Files (*.*)|*.*|"),
            "FirmWare Files (*.bin)\0*.bin\0All Files (*.*)\0*.*\0\0"s);
  // Without the closing bar, and with a pattern list.
  EXPECT_EQ(OpenDialogFilter("Images|*.bin;*.S19"), "Images\0*.bin;*.S19\0\0"s);
  // A name without its pattern is dropped; an empty name is the pattern.
  EXPECT_EQ(OpenDialogFilter("|*.bin|Broken|"), "*.bin\0*.bin\0\0"s);
  EXPECT_EQ(OpenDialogFilter(""), "All Files (*.*)\0*.*\0\0"s);
  EXPECT_EQ(DefaultExtension("*.bin"), "bin");
  EXPECT_EQ(DefaultExtension("S19"), "S19");
  EXPECT_EQ(DefaultExtension("*.*"), "");
  EXPECT_EQ(DefaultExtension("*.bin;*.S19"), "");
}

TEST(WinOptions, ParsedAsTheOtherFrontEndsTakeThem) {
  WinOptions options;
  std::string message;
  EXPECT_EQ(ParseWinOptions({"--simulate", "--service", "--port", "COM7", "--port=COM9",
                             "--screenshot", "a.png", "--instance-tag=t"},
                            &options, &message),
            ParseOutcome::Run);
  EXPECT_TRUE(options.simulate);
  EXPECT_TRUE(options.service);
  EXPECT_THAT(options.ports, ::testing::ElementsAre("COM7", "COM9"));
  EXPECT_EQ(options.screenshot, "a.png");
  EXPECT_EQ(options.instanceTag, "t");

  EXPECT_EQ(ParseWinOptions({"--help"}, &options, &message), ParseOutcome::Help);
  EXPECT_EQ(ParseWinOptions({"--version"}, &options, &message), ParseOutcome::Version);
  EXPECT_EQ(VersionText(), "morlane 1.0");
  for (const auto& wrong : std::vector<std::vector<std::string>>{
           {"--bogus"}, {"extra"}, {"--port"}, {"--port="}, {"--simulate", "--screenshot"}}) {
    message.clear();
    EXPECT_EQ(ParseWinOptions(wrong, &options, &message), ParseOutcome::Usage) << wrong[0];
    EXPECT_FALSE(message.empty());
  }
}

TEST(AppIcon, OpaqueTileClearCorners) {
  std::vector<uint32_t> pixels = AppIconPixels(32);
  ASSERT_EQ(pixels.size(), 32u * 32u);
  EXPECT_EQ(pixels[0] >> 24, 0u);
  const uint32_t tile = pixels[16 * 32 + 2];
  EXPECT_EQ(tile >> 24, 0xFFu);
  EXPECT_GT(tile & 0xFF, (tile >> 16) & 0xFF);  // blue
}

TEST(WindowPicture, PngKeepsTheScanlines) {
  Picture picture{3, 2, {0xFF0000, 0x00FF00, 0x0000FF, 0x000000, 0xFFFFFF, 0x123456}};
  std::vector<uint8_t> png = EncodePng(picture);
  EXPECT_EQ(std::string(png.begin() + 1, png.begin() + 4), "PNG");
  EXPECT_EQ(std::string(png.begin() + 12, png.begin() + 16), "IHDR");
  EXPECT_EQ(png[19], 3);
  EXPECT_EQ(png[23], 2);
  // Stored as they are: the second row after its filter byte.
  const std::vector<uint8_t> row{0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0x12, 0x34, 0x56};
  EXPECT_NE(std::search(png.begin(), png.end(), row.begin(), row.end()), png.end());
  EXPECT_EQ(std::string(png.end() - 8, png.end() - 4), "IEND");
}

}  // namespace
}  // namespace morlane::win::test
