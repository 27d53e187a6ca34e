// Files on Windows: handles, with positioned reads through the OVERLAPPED offset.
#include <windows.h>

#include "platform/file_io.h"

namespace morlane {

namespace {

HANDLE Handle(intptr_t handle) {
  return reinterpret_cast<HANDLE>(handle);
}

// Only files on a disk: a device or a pipe opened by name could block a read for ever.
bool IsDiskFile(HANDLE file) {
  if (GetFileType(file) != FILE_TYPE_DISK) return false;
  BY_HANDLE_FILE_INFORMATION info{};
  return GetFileInformationByHandle(file, &info) &&
         (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// The handle as kept, or -1 (closed) for what is no file on a disk.
intptr_t KeepDiskFile(HANDLE file) {
  if (file == INVALID_HANDLE_VALUE) return -1;
  if (!IsDiskFile(file)) {
    CloseHandle(file);
    return -1;
  }
  return reinterpret_cast<intptr_t>(file);
}

}  // namespace

InputFile::~InputFile() {
  Close();
}

bool InputFile::Open(const std::string& path, Share share) {
  Close();
  DWORD sharing = share == Share::Exclusive ? FILE_SHARE_READ : FILE_SHARE_READ | FILE_SHARE_WRITE;
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, sharing, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  handle_ = KeepDiskFile(file);
  return IsOpen();
}

uint64_t InputFile::Size() const {
  LARGE_INTEGER size{};
  if (!IsOpen() || !GetFileSizeEx(Handle(handle_), &size) || size.QuadPart < 0) return 0;
  return static_cast<uint64_t>(size.QuadPart);
}

int64_t InputFile::ReadSomeAt(uint64_t offset, void* into, size_t count) {
  if (!IsOpen()) return -1;
  auto* bytes = static_cast<uint8_t*>(into);
  size_t done = 0;
  while (done < count) {
    uint64_t at = offset + done;
    OVERLAPPED position{};
    position.Offset = static_cast<DWORD>(at & 0xFFFFFFFFu);
    position.OffsetHigh = static_cast<DWORD>(at >> 32);
    size_t left = count - done;
    DWORD want = left > 0x40000000u ? 0x40000000u : static_cast<DWORD>(left);
    DWORD got = 0;
    if (!ReadFile(Handle(handle_), bytes + done, want, &got, &position)) {
      if (GetLastError() == ERROR_HANDLE_EOF) break;
      return -1;
    }
    if (got == 0) break;
    done += got;
  }
  return static_cast<int64_t>(done);
}

void InputFile::Close() {
  if (!IsOpen()) return;
  CloseHandle(Handle(handle_));
  handle_ = kClosed;
}

OutputFile::~OutputFile() {
  Close();
}

bool OutputFile::Create(const std::string& path) {
  Close();
  HANDLE file =
      CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                  nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  handle_ = KeepDiskFile(file);
  return IsOpen();
}

bool OutputFile::Write(std::string_view bytes) {
  if (!IsOpen()) return false;
  size_t done = 0;
  while (done < bytes.size()) {
    size_t left = bytes.size() - done;
    DWORD want = left > 0x40000000u ? 0x40000000u : static_cast<DWORD>(left);
    DWORD put = 0;
    if (!WriteFile(Handle(handle_), bytes.data() + done, want, &put, nullptr) || put == 0) {
      return false;
    }
    done += put;
  }
  return true;
}

void OutputFile::Close() {
  if (!IsOpen()) return;
  CloseHandle(Handle(handle_));
  handle_ = kClosed;
}

std::string UnitFileName(const std::string& unit, const std::string& extension) {
  return "unit-" + unit + extension;
}

}  // namespace morlane
