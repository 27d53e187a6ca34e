#include <windows.h>

#include <string>

#include "platform/file_io.h"
#include "platform/folder_lock.h"
#include "platform/utf8_path.h"

namespace morlane {
namespace {

class Win32FolderLock : public FolderLock {
 public:
  explicit Win32FolderLock(HANDLE file) : file_(file) {}
  ~Win32FolderLock() override { CloseHandle(file_); }  // the lock ends with the handle

 private:
  HANDLE file_;
};

std::string ReadHolder(const std::wstring& path) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return HolderOfLockText({});
  char text[256] = {};
  DWORD got = 0;
  if (!ReadFile(file, text, sizeof text - 1, &got, nullptr)) got = 0;
  CloseHandle(file);
  return HolderOfLockText(std::string(text, got));
}

}  // namespace

std::unique_ptr<FolderLock> FolderLock::Take(const std::string& folder, const std::string& name,
                                             Outcome* outcome, std::string* holder,
                                             std::string* why) {
  const std::string path = folder + "\\" + name;
  const std::wstring wide = PathFromUtf8(path).wstring();
  // Held for writing by one handle only: another writer is refused by the system while it
  // is open, readers may look who holds it.
  HANDLE file = CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    if (error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION) {
      *outcome = Outcome::Held;
      *holder = ReadHolder(wide);
    } else {
      *outcome = Outcome::Failed;
      *why = "cannot make " + path + " (Windows error " + std::to_string(error) + ")";
    }
    return nullptr;
  }
  const std::string text = std::to_string(GetCurrentProcessId()) + " " + HostName() + "\r\n";
  DWORD written = 0;
  // Who holds it is for the message of another start only.
  if (SetEndOfFile(file)) {
    WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  }
  *outcome = Outcome::Taken;
  return std::make_unique<Win32FolderLock>(file);
}

}  // namespace morlane
