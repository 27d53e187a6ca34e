#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace morlane::package {

inline constexpr std::string_view kManifestFormat = "morlane-package";
inline constexpr int kManifestVersion = 1;
// A manifest names a few images and a note; one far larger is no manifest of ours.
inline constexpr size_t kManifestLimit = 256 * 1024;

struct ManifestImage {
  std::string file;
  std::string target;  // "master", "slave", "mcu"
  std::string sha256;  // 64 lowercase hexadecimal digits
  uint64_t bytes = 0;
};

struct Manifest {
  std::string format{kManifestFormat};
  int version = kManifestVersion;
  std::string model;
  std::string release;
  std::string created;  // ISO 8601 with offset
  std::string notes;
  std::vector<ManifestImage> images;

  // The image for a target, or nullptr.
  const ManifestImage* ForTarget(std::string_view target) const;
};

// The manifest's text read: a JSON object with the fields above, each of its type, every
// image with a plain file name, a known target (each target once, each file once) and a
// well-formed digest. The format and version are checked too: a manifest of another
// format or a later version is refused as such, since its fields may mean other things.
std::optional<Manifest> ParseManifest(std::string_view text, std::string* why);

// The manifest as the package keeps it: JSON, the fields in the order above, two-space
// indents, a line feed at the end.
std::string ManifestText(const Manifest& manifest);

}  // namespace morlane::package
