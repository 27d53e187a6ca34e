#include "package/zip_archive.h"

#include <unzip.h>
#include <zip.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <set>

namespace morlane::package {
namespace {

// The zip is read from and written to memory: the package file is read once, its digest
// taken over those bytes, and the entries unpacked from the same bytes, so nothing can
// change between the digest and the unpacking. It also keeps minizip away from the
// system's file names (UTF-8 paths on Windows are the platform layer's business).
struct MemoryFile {
  std::span<const uint8_t> source;       // reading
  std::vector<uint8_t>* sink = nullptr;  // writing
  uint64_t position = 0;
  bool failed = false;
  uint64_t Size() const { return sink ? sink->size() : source.size(); }
};

voidpf ZCALLBACK OpenMemory(voidpf opaque, const void*, int) {
  return opaque;
}

uLong ZCALLBACK ReadMemory(voidpf, voidpf stream, void* buffer, uLong size) {
  auto* file = static_cast<MemoryFile*>(stream);
  uint64_t total = file->Size();
  if (file->position >= total) return 0;
  uint64_t count = std::min<uint64_t>(size, total - file->position);
  const uint8_t* data = file->sink ? file->sink->data() : file->source.data();
  std::memcpy(buffer, data + file->position, count);
  file->position += count;
  return static_cast<uLong>(count);
}

uLong ZCALLBACK WriteMemory(voidpf, voidpf stream, const void* buffer, uLong size) {
  auto* file = static_cast<MemoryFile*>(stream);
  if (!file->sink) {
    file->failed = true;
    return 0;
  }
  uint64_t end = file->position + size;
  if (end > file->sink->size()) file->sink->resize(end);
  std::memcpy(file->sink->data() + file->position, buffer, size);
  file->position = end;
  return size;
}

ZPOS64_T ZCALLBACK TellMemory(voidpf, voidpf stream) {
  return static_cast<MemoryFile*>(stream)->position;
}

long ZCALLBACK SeekMemory(voidpf, voidpf stream, ZPOS64_T offset, int origin) {
  auto* file = static_cast<MemoryFile*>(stream);
  uint64_t base = 0;
  switch (origin) {
    case ZLIB_FILEFUNC_SEEK_SET:
      base = 0;
      break;
    case ZLIB_FILEFUNC_SEEK_CUR:
      base = file->position;
      break;
    case ZLIB_FILEFUNC_SEEK_END:
      base = file->Size();
      break;
    default:
      return -1;
  }
  if (offset > file->Size() - std::min(base, file->Size())) return -1;
  file->position = base + offset;
  return 0;
}

int ZCALLBACK CloseMemory(voidpf, voidpf) {
  return 0;
}

int ZCALLBACK ErrorMemory(voidpf, voidpf stream) {
  return static_cast<MemoryFile*>(stream)->failed ? 1 : 0;
}

zlib_filefunc64_def MemoryFunctions(MemoryFile* file) {
  zlib_filefunc64_def functions{};
  functions.zopen64_file = OpenMemory;
  functions.zread_file = ReadMemory;
  functions.zwrite_file = WriteMemory;
  functions.ztell64_file = TellMemory;
  functions.zseek64_file = SeekMemory;
  functions.zclose_file = CloseMemory;
  functions.zerror_file = ErrorMemory;
  functions.opaque = file;
  return functions;
}

std::string Lowered(const std::string& text) {
  std::string lowered = text;
  for (char& c : lowered) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return lowered;
}

struct UnzipCloser {
  unzFile zip;
  ~UnzipCloser() { unzClose(zip); }
};

bool ReadEntry(unzFile zip, const std::string& name, uint64_t limit, std::vector<uint8_t>* data,
               std::string* why) {
  if (unzOpenCurrentFile(zip) != UNZ_OK) {
    *why = "the entry \"" + name + "\" cannot be unpacked";
    return false;
  }
  uint8_t buffer[16384];
  bool over = false;
  int got = 0;
  while ((got = unzReadCurrentFile(zip, buffer, sizeof buffer)) > 0) {
    if (data->size() + static_cast<size_t>(got) > limit) {
      over = true;
      break;
    }
    data->insert(data->end(), buffer, buffer + got);
  }
  int closed = unzCloseCurrentFile(zip);
  if (over) {
    *why = "the entry \"" + name + "\" unpacks to more than a package may hold";
    return false;
  }
  if (got < 0) {
    *why = "the entry \"" + name + "\" is damaged (its compressed data cannot be read)";
    return false;
  }
  if (closed == UNZ_CRCERROR) {
    *why = "the entry \"" + name + "\" is damaged (its CRC does not match)";
    return false;
  }
  if (closed != UNZ_OK) {
    *why = "the entry \"" + name + "\" cannot be unpacked";
    return false;
  }
  return true;
}

}  // namespace

bool PlainFileName(const std::string& name) {
  if (name.empty() || name.size() > 255 || name == "." || name == "..") return false;
  for (unsigned char c : name) {
    if (c < 0x20 || c == 0x7F || c == '/' || c == '\\' || c == ':') return false;
  }
  return true;
}

std::optional<std::vector<ZipEntry>> ReadZip(std::span<const uint8_t> bytes,
                                             const ZipLimits& limits, std::string* why) {
  MemoryFile file{bytes};
  zlib_filefunc64_def functions = MemoryFunctions(&file);
  unzFile zip = unzOpen2_64("package", &functions);
  if (!zip) {
    *why = "it is not a zip file, or the zip is cut short";
    return std::nullopt;
  }
  UnzipCloser closer{zip};
  unz_global_info64 global{};
  if (unzGetGlobalInfo64(zip, &global) != UNZ_OK) {
    *why = "its zip directory cannot be read";
    return std::nullopt;
  }
  if (global.number_entry > limits.entries) {
    *why = "it holds " + std::to_string(global.number_entry) + " entries, more than a package may";
    return std::nullopt;
  }

  std::vector<ZipEntry> entries;
  std::set<std::string> seen;
  uint64_t total = 0;
  for (int status = unzGoToFirstFile(zip); status != UNZ_END_OF_LIST_OF_FILE;
       status = unzGoToNextFile(zip)) {
    if (status != UNZ_OK) {
      *why = "its zip directory is damaged";
      return std::nullopt;
    }
    if (entries.size() >= limits.entries) {
      *why = "it holds more entries than a package may";
      return std::nullopt;
    }
    unz_file_info64 info{};
    char name[512];
    if (unzGetCurrentFileInfo64(zip, &info, name, sizeof name, nullptr, 0, nullptr, 0) != UNZ_OK ||
        info.size_filename >= sizeof name) {
      *why = "an entry's name cannot be read";
      return std::nullopt;
    }
    std::string entryName(name, info.size_filename);
    if (!PlainFileName(entryName)) {
      *why = "the entry \"" + entryName + "\" is no plain file name (a package holds no folders)";
      return std::nullopt;
    }
    if (!seen.insert(Lowered(entryName)).second) {
      *why = "the name \"" + entryName + "\" is in it twice";
      return std::nullopt;
    }
    if (info.flag & 1) {
      *why = "the entry \"" + entryName + "\" is encrypted";
      return std::nullopt;
    }
    if (info.compression_method != 0 && info.compression_method != Z_DEFLATED) {
      *why = "the entry \"" + entryName + "\" is packed in a way this tool does not read";
      return std::nullopt;
    }
    uint64_t room = std::min(limits.entryBytes, limits.totalBytes - total);
    ZipEntry entry{entryName, {}};
    if (!ReadEntry(zip, entryName, room, &entry.data, why)) return std::nullopt;
    total += entry.data.size();
    entries.push_back(std::move(entry));
  }
  return entries;
}

std::optional<std::vector<uint8_t>> WriteZip(const std::vector<ZipEntry>& entries,
                                             const LocalTime& modified, std::string* why) {
  std::vector<uint8_t> bytes;
  MemoryFile file{{}, &bytes};
  zlib_filefunc64_def functions = MemoryFunctions(&file);
  zipFile zip = zipOpen2_64("package", APPEND_STATUS_CREATE, nullptr, &functions);
  if (!zip) {
    *why = "the zip cannot be begun";
    return std::nullopt;
  }
  zip_fileinfo info{};
  info.tmz_date.tm_sec = static_cast<uInt>(modified.second);
  info.tmz_date.tm_min = static_cast<uInt>(modified.minute);
  info.tmz_date.tm_hour = static_cast<uInt>(modified.hour);
  info.tmz_date.tm_mday = static_cast<uInt>(modified.day);
  info.tmz_date.tm_mon = static_cast<uInt>(modified.month - 1);
  info.tmz_date.tm_year = static_cast<uInt>(modified.year);
  bool written = true;
  for (const ZipEntry& entry : entries) {
    if (zipOpenNewFileInZip64(zip, entry.name.c_str(), &info, nullptr, 0, nullptr, 0, nullptr,
                              Z_DEFLATED, Z_BEST_COMPRESSION, 0) != ZIP_OK ||
        (!entry.data.empty() &&
         zipWriteInFileInZip(zip, entry.data.data(), static_cast<unsigned>(entry.data.size())) !=
             ZIP_OK) ||
        zipCloseFileInZip(zip) != ZIP_OK) {
      *why = "the entry \"" + entry.name + "\" cannot be packed";
      written = false;
      break;
    }
  }
  if (zipClose(zip, nullptr) != ZIP_OK && written) {
    *why = "the zip cannot be finished";
    written = false;
  }
  if (!written || file.failed) return std::nullopt;
  return bytes;
}

}  // namespace morlane::package
