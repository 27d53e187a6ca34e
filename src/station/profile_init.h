#pragma once

#include <string>
#include <utility>
#include <vector>

namespace morlane {

// What a line engineer gives for a new station profile: the images to approve (paths as
// given, in the order they are programmed), or a service package with the units' model and
// the signers trusted for it, and the slots, NAME=PORT each.
struct ProfileRequest {
  std::string profilePath;
  std::vector<std::string> images;
  std::vector<std::string> slots;
  std::string package;
  std::string model;
  std::string trustedKeys;  // empty: the user's and the machine's signers
};

// The text of the new profile: each image with the SHA-256 of its bytes now, named from the
// profile's folder where it can be (so that the folder can move as a whole), "auto" for
// more than one image and "flash" for one, scan start, records in "records" beside it, and
// the slots; with a package, the package, model and trusted keys instead of the images
// (procedure "auto"). "" with why when an image cannot be read, images and a package are
// both given, or a slot is not NAME=PORT or named twice.
std::string NewProfileText(const ProfileRequest& request, std::string* why);

// The text as a TOML basic string, quoted, with what must be escaped escaped.
std::string TomlString(const std::string& text);

}  // namespace morlane
