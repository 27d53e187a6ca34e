#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace morlane {

class Window;

// The in-memory copy of one firmware image and the progress count shown against it.
class ImageBuffer {
 public:
  // Reads the whole file (opened for exclusive use) into a fresh buffer; returns its
  // length, or -1 when it is missing, held by another program, empty or unreadable. A
  // file that cannot be opened or is empty leaves the previous image in place.
  int LoadImageFile(const std::string& path);
  // The same for bytes read before (a held image); -1 for none or too many.
  int LoadImageBytes(const std::string& bytes);
  void ReleaseImage();

  const uint8_t* imageBuffer() const { return buffer_.get(); }
  // Where the next byte to transfer lies, as an offset into the buffer.
  size_t cursorOffset() const { return cursor_; }
  const uint8_t* imageCursor() const { return buffer_ ? buffer_.get() + cursor_ : nullptr; }
  // Moves the cursor on, never past the end of the image.
  void AdvanceCursor(size_t bytes);
  size_t loadedBytes() const { return loaded_; }

  int imageLength = -1;
  int progressCount = 0;

 private:
  std::unique_ptr<uint8_t[]> buffer_;
  size_t loaded_ = 0;
  size_t cursor_ = 0;
};

// progressCount x 100 / imageLength, truncated. With no image loaded (length -1 or 0)
// the display stays at 0 rather than showing a meaningless figure.
int PercentOf(int progressCount, int imageLength);

// How the percentage text treats a count past the image's length.
enum class PercentText {
  // Stops at 100: the CPU burn counts 224 per program call whatever the block's size, so
  // a small image with several sections would otherwise read past its end.
  Capped,
  // Shows the figure as counted: the MCU transfer runs one block ahead and reads 101 in
  // its end cycle.
  Raw,
};

// Shows the percentage as "%d %%" in 1034 and as the position of bar 1029 (always within
// 0 to 100); returns the figure shown in 1034.
int ShowPercent(Window& window, int progressCount, int imageLength,
                PercentText text = PercentText::Capped);

}  // namespace morlane
