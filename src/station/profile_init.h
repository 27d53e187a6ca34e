#pragma once

#include <string>
#include <utility>
#include <vector>

namespace morlane {

// What a line engineer gives for a new station profile: the images to approve (paths as
// given, in the order they are programmed) and the slots, NAME=PORT each.
struct ProfileRequest {
  std::string profilePath;
  std::vector<std::string> images;
  std::vector<std::string> slots;
};

// The text of the new profile: each image with the SHA-256 of its bytes now, named from the
// profile's folder where it can be (so that the folder can move as a whole), "auto" for
// more than one image and "flash" for one, scan start, records in "records" beside it, and
// the slots. "" with why when an image cannot be read, or a slot is not NAME=PORT or named
// twice.
std::string NewProfileText(const ProfileRequest& request, std::string* why);

// The text as a TOML basic string, quoted, with what must be escaped escaped.
std::string TomlString(const std::string& text);

}  // namespace morlane
