#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace morlane {

// SHA-256, for the run records: a factory keeps the digest of every image it programmed.
class Sha256 {
 public:
  Sha256();
  void Update(const uint8_t* data, size_t length);
  // The digest as 64 lowercase hexadecimal digits; the object is spent afterwards.
  std::string HexDigest();

 private:
  void Block(const uint8_t* block);

  std::array<uint32_t, 8> state_;
  std::array<uint8_t, 64> pending_{};
  size_t pendingLength_ = 0;
  uint64_t totalBytes_ = 0;
};

// The digest of bytes held in memory.
std::string BytesSha256(std::string_view bytes);

// The digest of a whole file, read in pieces; empty when it cannot be read.
std::string FileSha256(const std::string& path);

}  // namespace morlane
