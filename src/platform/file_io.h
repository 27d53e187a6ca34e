#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace morlane {

// A regular file opened for reading; the handle closes itself. Devices, pipes and folders
// are refused before anything could block on them: an image is always a plain file.
class InputFile {
 public:
  enum class Share {
    Shared,
    // No other program may hold it for writing (or locked) while it is read; other
    // readers may.
    Exclusive,
  };

  InputFile() = default;
  ~InputFile();
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;

  // False when the file is missing, not a regular file or held by another program.
  bool Open(const std::string& path, Share share = Share::Shared);
  bool IsOpen() const { return handle_ != kClosed; }
  // The length the file has now.
  uint64_t Size() const;
  // Reads up to count bytes at offset, fewer at the end of the file; -1 on a read error.
  int64_t ReadSomeAt(uint64_t offset, void* into, size_t count);
  // Reads exactly count bytes at offset; false when fewer are there.
  bool ReadAt(uint64_t offset, void* into, size_t count) {
    return ReadSomeAt(offset, into, count) == static_cast<int64_t>(count);
  }
  void Close();

 private:
  static constexpr intptr_t kClosed = -1;
  intptr_t handle_ = kClosed;
};

// A file created anew (emptied when it exists) and written as bytes come, without
// buffering, so that a reader sees each write at once. Other programs may read it meanwhile.
class OutputFile {
 public:
  OutputFile() = default;
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  bool Create(const std::string& path);
  bool IsOpen() const { return handle_ != kClosed; }
  // False when the disk refused part of the bytes.
  bool Write(std::string_view bytes);
  void Close();

 private:
  static constexpr intptr_t kClosed = -1;
  intptr_t handle_ = kClosed;
};

enum class WholeFile { Read, NotOpened, TooLarge, Failed };

// Reads a whole regular file of at most limit bytes; a larger one is not read at all. One
// that shrinks while it is read is taken as far as it went.
WholeFile ReadWholeFile(const std::string& path, std::string* contents, uint64_t limit);

// Writes a whole file so that a reader never sees half of it and a power cut leaves either
// no file or the whole one: the bytes go to a hidden temporary name beside path
// (".NAME.part"), are flushed to the disk, and the file is renamed to path (the folder
// flushed too, where the system allows). False, with the reason in *error, when any part
// failed; the temporary file is then removed.
bool WriteFileDurably(const std::string& path, std::string_view bytes, std::string* error);

// fopen for a UTF-8 path: Windows' own fopen reads the name in the narrow code page.
std::FILE* OpenStream(const std::string& path, const char* mode);

// This machine's name, as the network knows it; "" when the system gives none.
std::string HostName();

// Where this tool keeps what belongs to the user and must outlive a run, but is no
// setting: $XDG_STATE_HOME/morlane (by default ~/.local/state/morlane), on Windows
// %LOCALAPPDATA%\Morlane. "" when the system names no such place.
std::string UserStateFolder();

// Where the signers a service package may come from are listed, in the order they are
// read: the user's ($XDG_CONFIG_HOME/morlane, by default ~/.config/morlane; on Windows
// %APPDATA%\Morlane), then the machine's (/etc/morlane; %ProgramData%\Morlane), each
// ending in allowed_signers. A place the system names not is left out.
std::vector<std::string> TrustedSignersFiles();

}  // namespace morlane
