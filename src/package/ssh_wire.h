#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// The byte layouts signatures and keys travel in: big-endian lengths, length-prefixed
// strings, and the base64 text around them. Everything read here may come from a hostile
// file, so every length is checked against what is left before it is used.
namespace morlane::package::wire {

class Reader {
 public:
  explicit Reader(std::span<const uint8_t> bytes) : bytes_(bytes) {}

  bool U32(uint32_t* value);
  // Exactly count bytes; false (and nothing taken) when fewer are left.
  bool Fixed(size_t count, std::span<const uint8_t>* out);
  // A uint32 length and that many bytes.
  bool String(std::span<const uint8_t>* out);
  bool Text(std::string* out);
  bool AtEnd() const { return offset_ == bytes_.size(); }

 private:
  std::span<const uint8_t> bytes_;
  size_t offset_ = 0;
};

void AppendU32(std::vector<uint8_t>* out, uint32_t value);
void AppendString(std::vector<uint8_t>* out, std::span<const uint8_t> bytes);
void AppendString(std::vector<uint8_t>* out, std::string_view text);

std::string Base64Encode(std::span<const uint8_t> bytes, bool padded);
// Standard alphabet, '=' padding optional at the very end; any other character (spaces
// included) makes it nullopt.
std::optional<std::vector<uint8_t>> Base64Decode(std::string_view text);

inline std::span<const uint8_t> AsBytes(std::string_view text) {
  return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}
inline std::string AsText(std::span<const uint8_t> bytes) {
  return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

}  // namespace morlane::package::wire
