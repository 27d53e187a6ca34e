#include "station/profile_init.h"

#include <cstdio>
#include <filesystem>
#include <set>

#include "link/sha256.h"
#include "platform/utf8_path.h"

namespace morlane {
namespace {

namespace fs = std::filesystem;

// The image as the profile names it: from the profile's folder where both are on one
// root, else its whole path.
std::string NameFromProfile(const fs::path& image, const fs::path& profileFolder) {
  std::error_code failure;
  const fs::path whole = fs::absolute(image, failure).lexically_normal();
  if (failure) return PathToUtf8(image);
  const fs::path relative = whole.lexically_relative(profileFolder);
  if (relative.empty()) return PathToUtf8(whole);
  // "/" on every system: Windows takes it, and the profile reads the same on both.
  std::string name = PathToUtf8(relative);
  for (char& c : name) {
    if (c == '\\') c = '/';
  }
  return name;
}

}  // namespace

std::string TomlString(const std::string& text) {
  std::string quoted = "\"";
  for (char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      quoted += '\\';
      quoted += c;
    } else if (byte < 0x20 || byte == 0x7f) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
      quoted += escaped;
    } else {
      quoted += c;
    }
  }
  return quoted + "\"";
}

std::string NewProfileText(const ProfileRequest& request, std::string* why) {
  if (!request.package.empty() && !request.images.empty()) {
    *why =
        "give the images to approve with --images, or a service package with --package: "
        "a station takes one of them";
    return {};
  }
  if (request.images.empty() && request.package.empty()) {
    *why = "give the images to approve with --images (or a service package with --package)";
    return {};
  }
  if (request.slots.empty()) {
    // A profile without a slot would not start; a port guessed for it could be the wrong
    // unit's.
    *why = "give each slot with --slot NAME=PORT";
    return {};
  }
  std::error_code failure;
  const fs::path profileFolder =
      fs::absolute(PathFromUtf8(request.profilePath), failure).lexically_normal().parent_path();
  std::string approved;
  if (!request.package.empty()) {
    // The package is checked whole when the profile is read; its digest is the package
    // file's, taken again at every start.
    approved =
        "package = " + TomlString(NameFromProfile(PathFromUtf8(request.package), profileFolder)) +
        "\nmodel = " + TomlString(request.model) + "\n";
    if (!request.trustedKeys.empty()) {
      approved += "trusted_keys = " +
                  TomlString(NameFromProfile(PathFromUtf8(request.trustedKeys), profileFolder)) +
                  "\n";
    }
  }
  std::string images;
  for (const std::string& image : request.images) {
    const std::string digest = FileSha256(image);
    if (digest.empty()) {
      *why = "cannot read the image " + image;
      return {};
    }
    images += std::string(images.empty() ? "" : ",\n           ") +
              "{ file = " + TomlString(NameFromProfile(PathFromUtf8(image), profileFolder)) +
              ", sha256 = \"" + digest + "\" }";
  }
  std::string slots;
  std::set<std::string> names;
  for (const std::string& slot : request.slots) {
    const size_t equals = slot.find('=');
    if (equals == std::string::npos || equals == 0 || equals + 1 == slot.size()) {
      *why = "--slot " + slot + ": give it as NAME=PORT (A=/dev/ttyUSB0, on Windows A=COM7)";
      return {};
    }
    const std::string name = slot.substr(0, equals);
    if (!names.insert(name).second) {
      *why = "--slot " + slot + ": the slot " + name + " is given twice";
      return {};
    }
    slots += "\n[[slot]]\nname = " + TomlString(name) +
             "\nport = " + TomlString(slot.substr(equals + 1)) + "\n";
  }
  return "# A station profile (man 5 morlane-station), written by morlane-cli station --init.\n" +
         std::string(request.package.empty()
                         ? "# The digests are of the images as they were then: approve a new "
                           "image by writing\n# its digest here.\n"
                         : "# The package is checked (signature, signer, model, images) at every "
                           "start.\n") +
         "procedure = \"" + std::string(request.images.size() == 1 ? "flash" : "auto") + "\"\n" +
         (images.empty() ? approved : "images = [ " + images + " ]\n") +
         "records = \"records\"\n"
         "start = \"scan\"             # \"scan\", \"presence\" or \"both\"\n"
         "require_unit_id = true\n" +
         slots;
}

}  // namespace morlane
