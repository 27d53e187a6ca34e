#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/file_io.h"
#include "platform/folder_lock.h"

namespace morlane {
namespace {

class PosixFolderLock : public FolderLock {
 public:
  explicit PosixFolderLock(int fd) : fd_(fd) {}
  ~PosixFolderLock() override { ::close(fd_); }  // the lock ends with the descriptor

 private:
  int fd_;
};

std::string ReadHolder(int fd) {
  char text[256] = {};
  const ssize_t n = ::pread(fd, text, sizeof text - 1, 0);
  return HolderOfLockText(n > 0 ? std::string(text, static_cast<size_t>(n)) : std::string());
}

}  // namespace

std::unique_ptr<FolderLock> FolderLock::Take(const std::string& folder, const std::string& name,
                                             Outcome* outcome, std::string* holder,
                                             std::string* why) {
  const std::string path = folder + "/" + name;
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
  if (fd < 0) {
    *outcome = Outcome::Failed;
    *why = "cannot make " + path + ": " + std::strerror(errno);
    return nullptr;
  }
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int error = errno;
    *outcome = error == EWOULDBLOCK ? Outcome::Held : Outcome::Failed;
    if (*outcome == Outcome::Held) {
      *holder = ReadHolder(fd);
    } else {
      *why = "cannot lock " + path + ": " + std::strerror(error);
    }
    ::close(fd);
    return nullptr;
  }
  const std::string text = std::to_string(::getpid()) + " " + HostName() + "\n";
  // Who holds it is for the message of another start only: a file left unwritten costs
  // nothing but that message's detail.
  if (::ftruncate(fd, 0) == 0) {
    [[maybe_unused]] const ssize_t written = ::pwrite(fd, text.data(), text.size(), 0);
  }
  *outcome = Outcome::Taken;
  return std::make_unique<PosixFolderLock>(fd);
}

}  // namespace morlane
