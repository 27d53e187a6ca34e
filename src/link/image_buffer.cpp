#include "link/image_buffer.h"

#include <algorithm>
#include <new>

#include "platform/file_io.h"
#include "ui/control_ids.h"
#include "ui/log.h"
#include "ui/window.h"

namespace morlane {

int ImageBuffer::LoadImageFile(const std::string& path) {
  // Exclusive use while it is read: a file another program holds is refused.
  InputFile file;
  if (!file.Open(path, InputFile::Share::Exclusive)) return -1;
  // Only the low 32 bits of the length count, as a signed length.
  uint32_t length = static_cast<uint32_t>(file.Size());
  if (length == 0 || length > static_cast<uint32_t>(INT32_MAX)) return -1;

  ReleaseImage();
  // A file too large for the heap is a failed load, not the end of the tool.
  buffer_.reset(new (std::nothrow) uint8_t[length]());
  if (!buffer_) return -1;
  loaded_ = length;
  cursor_ = 0;
  if (!file.ReadAt(0, buffer_.get(), length)) return -1;
  return static_cast<int>(length);
}

int ImageBuffer::LoadImageBytes(const std::string& bytes) {
  if (bytes.empty() || bytes.size() > static_cast<size_t>(INT32_MAX)) return -1;
  ReleaseImage();
  buffer_.reset(new (std::nothrow) uint8_t[bytes.size()]);
  if (!buffer_) return -1;
  std::copy(bytes.begin(), bytes.end(), buffer_.get());
  loaded_ = bytes.size();
  cursor_ = 0;
  return static_cast<int>(bytes.size());
}

void ImageBuffer::ReleaseImage() {
  buffer_.reset();
  loaded_ = 0;
  cursor_ = 0;
}

void ImageBuffer::AdvanceCursor(size_t bytes) {
  cursor_ = std::min(loaded_, cursor_ + bytes);
}

int PercentOf(int progressCount, int imageLength) {
  if (imageLength <= 0) return 0;
  return static_cast<int>(static_cast<int64_t>(progressCount) * 100 / imageLength);
}

int ShowPercent(Window& window, int progressCount, int imageLength, PercentText text) {
  int percent = PercentOf(progressCount, imageLength);
  int bar = std::clamp(percent, 0, 100);
  const int shown = text == PercentText::Capped ? bar : percent;
  window.SetControlText(ctl::kPercentText, FormatText("%d %%", shown));
  window.SetProgressPos(ctl::kProgressBar, bar);
  return shown;
}

}  // namespace morlane
