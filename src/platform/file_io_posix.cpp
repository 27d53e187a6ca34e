// Files on POSIX systems: plain descriptors.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "platform/file_io.h"

namespace morlane {

namespace {

int Fd(intptr_t handle) {
  return static_cast<int>(handle);
}

}  // namespace

InputFile::~InputFile() {
  Close();
}

bool InputFile::Open(const std::string& path, Share share) {
  Close();
  // Non-blocking, so that a named pipe cannot hold the open until a writer comes; the
  // type is checked before the first read.
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) return false;
  struct stat info {};
  bool usable = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
  // A shared lock, as Windows' read-only sharing: a program that holds the file locked
  // (writing it) is refused, while other readers, such as the units of a production run
  // loading the same image, read it side by side.
  if (usable && share == Share::Exclusive) usable = ::flock(fd, LOCK_SH | LOCK_NB) == 0;
  if (!usable) {
    ::close(fd);
    return false;
  }
  handle_ = fd;
  return true;
}

uint64_t InputFile::Size() const {
  struct stat info {};
  if (!IsOpen() || ::fstat(Fd(handle_), &info) != 0 || info.st_size < 0) return 0;
  return static_cast<uint64_t>(info.st_size);
}

int64_t InputFile::ReadSomeAt(uint64_t offset, void* into, size_t count) {
  if (!IsOpen()) return -1;
  auto* bytes = static_cast<uint8_t*>(into);
  size_t done = 0;
  while (done < count) {
    ssize_t n = ::pread(Fd(handle_), bytes + done, count - done, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return -1;
    if (n == 0) break;
    done += static_cast<size_t>(n);
  }
  return static_cast<int64_t>(done);
}

void InputFile::Close() {
  if (!IsOpen()) return;
  ::close(Fd(handle_));
  handle_ = kClosed;
}

OutputFile::~OutputFile() {
  Close();
}

bool OutputFile::Create(const std::string& path) {
  Close();
  // No lock is taken: other programs may read (or write) the file meanwhile.
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC | O_NONBLOCK, 0644);
  if (fd < 0) return false;
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    ::close(fd);
    return false;
  }
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  handle_ = fd;
  return true;
}

bool OutputFile::Write(std::string_view bytes) {
  if (!IsOpen()) return false;
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::write(Fd(handle_), bytes.data() + done, bytes.size() - done);
    if (n > 0) {
      done += static_cast<size_t>(n);
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      return false;
    }
  }
  return true;
}

void OutputFile::Close() {
  if (!IsOpen()) return;
  ::close(Fd(handle_));
  handle_ = kClosed;
}

namespace {

std::string PartName(const std::string& path) {
  std::filesystem::path target(path);
  return (target.parent_path() / ("." + target.filename().string() + ".part")).string();
}

bool Failed(std::string* error, const char* what, const std::string& path) {
  if (error) *error = std::string(what) + " " + path + ": " + std::strerror(errno);
  return false;
}

}  // namespace

bool WriteFileDurably(const std::string& path, std::string_view bytes, std::string* error) {
  const std::string part = PartName(path);
  int fd = ::open(part.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOCTTY, 0644);
  if (fd < 0) return Failed(error, "cannot create", part);
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n > 0) {
      done += static_cast<size_t>(n);
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      if (n == 0) errno = ENOSPC;
      Failed(error, "cannot write", part);
      ::close(fd);
      ::unlink(part.c_str());
      return false;
    }
  }
  if (::fsync(fd) != 0) {
    Failed(error, "cannot flush", part);
    ::close(fd);
    ::unlink(part.c_str());
    return false;
  }
  if (::close(fd) != 0) {
    Failed(error, "cannot close", part);
    ::unlink(part.c_str());
    return false;
  }
  if (::rename(part.c_str(), path.c_str()) != 0) {
    Failed(error, "cannot rename to", path);
    ::unlink(part.c_str());
    return false;
  }
  // The rename itself is kept only once the folder's entry is on the disk.
  std::string folder = std::filesystem::path(path).parent_path().string();
  int dir = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    ::fsync(dir);
    ::close(dir);
  }
  return true;
}

std::FILE* OpenStream(const std::string& path, const char* mode) {
  return std::fopen(path.c_str(), mode);
}

std::string HostName() {
  char name[256] = {};
  if (::gethostname(name, sizeof name - 1) != 0) return {};
  return name;
}

std::string UserStateFolder() {
  // Only an absolute path counts, as the base directory rules say: a relative one would
  // put the runs wherever the station happened to start.
  const char* state = std::getenv("XDG_STATE_HOME");
  if (state && state[0] == '/') return std::string(state) + "/morlane";
  const char* home = std::getenv("HOME");
  if (home && home[0] == '/') return std::string(home) + "/.local/state/morlane";
  return {};
}

std::vector<std::string> TrustedSignersFiles() {
  std::vector<std::string> files;
  const char* config = std::getenv("XDG_CONFIG_HOME");
  const char* home = std::getenv("HOME");
  if (config && config[0] == '/') {
    files.push_back(std::string(config) + "/morlane/allowed_signers");
  } else if (home && home[0] == '/') {
    files.push_back(std::string(home) + "/.config/morlane/allowed_signers");
  }
  files.push_back("/etc/morlane/allowed_signers");
  return files;
}

}  // namespace morlane
