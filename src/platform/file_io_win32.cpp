// Files on Windows: handles, with positioned reads through the OVERLAPPED offset.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "platform/file_io.h"

namespace morlane {

namespace {

// Paths come as UTF-8 and reach the system in its wide form, so that any name opens.
std::wstring Wide(const std::string& utf8) {
  if (utf8.empty()) return {};
  int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(n > 0 ? n : 0), L'\0');
  if (n > 0) {
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), n);
  }
  return wide;
}

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
  HANDLE file = CreateFileW(Wide(path).c_str(), GENERIC_READ, sharing, nullptr, OPEN_EXISTING,
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
  HANDLE file = CreateFileW(Wide(path).c_str(), GENERIC_READ | GENERIC_WRITE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
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

namespace {

std::string PartName(const std::string& path) {
  size_t slash = path.find_last_of("\\/");
  size_t name = slash == std::string::npos ? 0 : slash + 1;
  return path.substr(0, name) + "." + path.substr(name) + ".part";
}

bool Failed(std::string* error, const char* what, const std::string& path) {
  if (error)
    *error = std::string(what) + " " + path + " (error " + std::to_string(GetLastError()) + ")";
  return false;
}

}  // namespace

bool WriteFileDurably(const std::string& path, std::string_view bytes, std::string* error) {
  const std::string part = PartName(path);
  const std::wstring widePart = Wide(part);
  HANDLE file = CreateFileW(widePart.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return Failed(error, "cannot create", part);
  bool written = true;
  for (size_t done = 0; done < bytes.size() && written;) {
    DWORD want = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1u << 20));
    DWORD put = 0;
    written = WriteFile(file, bytes.data() + done, want, &put, nullptr) && put > 0;
    done += put;
  }
  if (!written || !FlushFileBuffers(file)) {
    Failed(error, written ? "cannot flush" : "cannot write", part);
    CloseHandle(file);
    DeleteFileW(widePart.c_str());
    return false;
  }
  CloseHandle(file);
  if (!MoveFileExW(widePart.c_str(), Wide(path).c_str(),
                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    Failed(error, "cannot rename to", path);
    DeleteFileW(widePart.c_str());
    return false;
  }
  return true;
}

std::FILE* OpenStream(const std::string& path, const char* mode) {
  return _wfopen(Wide(path).c_str(), Wide(mode).c_str());
}

std::string HostName() {
  wchar_t name[MAX_COMPUTERNAME_LENGTH + 1] = {};
  DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
  if (!GetComputerNameW(name, &size)) return {};
  int n =
      WideCharToMultiByte(CP_UTF8, 0, name, static_cast<int>(size), nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<size_t>(n > 0 ? n : 0), '\0');
  if (n > 0) {
    WideCharToMultiByte(CP_UTF8, 0, name, static_cast<int>(size), utf8.data(), n, nullptr, nullptr);
  }
  return utf8;
}

namespace {

// A folder named by the environment, as UTF-8; "" when it is not set.
std::string EnvironmentFolder(const wchar_t* name) {
  wchar_t folder[MAX_PATH + 1] = {};
  const DWORD length = GetEnvironmentVariableW(name, folder, MAX_PATH + 1);
  if (length == 0 || length > MAX_PATH) return {};
  const int n = WideCharToMultiByte(CP_UTF8, 0, folder, static_cast<int>(length), nullptr, 0,
                                    nullptr, nullptr);
  if (n <= 0) return {};
  std::string utf8(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, folder, static_cast<int>(length), utf8.data(), n, nullptr,
                      nullptr);
  return utf8;
}

}  // namespace

std::string UserStateFolder() {
  std::string folder = EnvironmentFolder(L"LOCALAPPDATA");
  return folder.empty() ? folder : folder + "\\Morlane";
}

std::vector<std::string> TrustedSignersFiles() {
  std::vector<std::string> files;
  for (const wchar_t* name : {L"APPDATA", L"ProgramData"}) {
    std::string folder = EnvironmentFolder(name);
    if (!folder.empty()) files.push_back(folder + "\\Morlane\\allowed_signers");
  }
  return files;
}

}  // namespace morlane
