// A named pipe where an image, an S-record file or an output file is expected is refused
// at once: opening it the ordinary way would wait for ever for a writer or a reader.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <filesystem>

#include "app/headless_window.h"
#include "flash/bin_file.h"
#include "image/xfer_s19.h"
#include "link/image_buffer.h"
#include "support/process.h"

namespace morlane {
namespace {

TEST(PipeRefusal, ReadersAndWritersRefusePipesWithoutWaiting) {
  test::TempDir dir;
  for (const char* name : {"image.bin", "image.S19", "tmp.txt", "tmp.bin"}) {
    ASSERT_EQ(mkfifo(dir.File(name).c_str(), 0600), 0) << name;
  }
  EXPECT_EQ(CheckBinFile(dir.File("image.bin")), 0);
  ImageBuffer image;
  EXPECT_EQ(image.LoadImageFile(dir.File("image.bin")), -1);

  HeadlessWindow window;
  CXferS19 xfer(window);
  EXPECT_EQ(xfer.BuildS19BlockList(dir.File("image.S19")), 0);
  std::filesystem::path before = std::filesystem::current_path();
  std::filesystem::current_path(dir.Path());
  CRawblock row;
  row.size = 5;
  row.length = 1;
  row.data = "00";
  xfer.rawBlockList = {row};
  EXPECT_EQ(xfer.WriteTxtFile("tmp.txt"), 0);
  EXPECT_EQ(xfer.WriteBinFile("tmp.bin"), 0);
  std::filesystem::current_path(before);
}

}  // namespace
}  // namespace morlane
