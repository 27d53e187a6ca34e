#include "update/image_buffer.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <new>

#include "ui/control_ids.h"
#include "ui/log.h"
#include "ui/window.h"

namespace morlane {

namespace {

// Closes the descriptor, and with it the lock, however the load ends.
struct FileCloser {
  int fd;
  ~FileCloser() {
    if (fd >= 0) ::close(fd);
  }
};

}  // namespace

int ImageBuffer::LoadImageFile(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return -1;
  FileCloser closer{fd};
  // Exclusive use while it is read: a file another program holds locked is refused.
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) return -1;
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) return -1;
  // Only the low 32 bits of the length count, as a signed length.
  uint32_t length = static_cast<uint32_t>(info.st_size);
  if (length == 0 || length > static_cast<uint32_t>(INT32_MAX)) return -1;

  ReleaseImage();
  // A file too large for the heap is a failed load, not the end of the tool.
  buffer_.reset(new (std::nothrow) uint8_t[length]());
  if (!buffer_) return -1;
  loaded_ = length;
  cursor_ = 0;
  size_t done = 0;
  while (done < length) {
    ssize_t n = ::read(fd, buffer_.get() + done, length - done);
    if (n <= 0) return -1;
    done += static_cast<size_t>(n);
  }
  return static_cast<int>(length);
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

void ShowPercent(Window& window, int progressCount, int imageLength, PercentText text) {
  int percent = PercentOf(progressCount, imageLength);
  int bar = std::clamp(percent, 0, 100);
  window.SetControlText(ctl::kPercentText,
                        FormatText("%d %%", text == PercentText::Capped ? bar : percent));
  window.SetProgressPos(ctl::kProgressBar, bar);
}

}  // namespace morlane
