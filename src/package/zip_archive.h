#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/clock.h"

namespace morlane::package {

struct ZipEntry {
  std::string name;
  std::vector<uint8_t> data;
};

// What a package may hold. A package is a handful of images of a few hundred kilobytes
// each and two small texts: anything far beyond that is no package of ours, and a zip
// whose entries unpack to more (a zip bomb) is refused before it fills the memory.
struct ZipLimits {
  size_t entries = 32;
  uint64_t entryBytes = 16u << 20;
  uint64_t totalBytes = 48u << 20;
};

// A name that stays inside the folder it is unpacked to on any system, and that a
// technician can read: no "/", "\\", ":", control character, "." or "..".
bool PlainFileName(const std::string& name);

// Every entry of a zip held in memory, checked as it is unpacked: stored or deflated only,
// no encryption, no folders, names plain file names (no "/", "\", ".." or drive, nothing
// the system would take as a path elsewhere), no name twice (also not when the case alone
// differs: Windows would take both for one file), each entry's CRC as the zip says. nullopt
// with the reason otherwise.
std::optional<std::vector<ZipEntry>> ReadZip(std::span<const uint8_t> zip, const ZipLimits& limits,
                                             std::string* why);

// A zip of the entries, deflated, in the order given, each dated modified (local time as
// zips keep it).
std::optional<std::vector<uint8_t>> WriteZip(const std::vector<ZipEntry>& entries,
                                             const LocalTime& modified, std::string* why);

}  // namespace morlane::package
