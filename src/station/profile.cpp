// The station's profile. TOML is read by the tomlplusplus headers, without exceptions, so
// that every fault comes back with its place in the file.
#include "station/profile.h"

#include <toml++/toml.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <set>

#include "link/sha256.h"
#include "platform/file_io.h"
#include "platform/utf8_path.h"

namespace morlane {

namespace {

// A profile is a page of settings; anything larger is some other file.
constexpr uint64_t kLargestProfile = 1u << 20;
// The largest image the CPUs take comes to about 3 MiB.
constexpr uint64_t kLargestImage = 8u << 20;

const std::set<std::string> kKeys = {
    "station",         "procedure",      "images",  "records", "records_db",       "start",
    "require_unit_id", "skip_identical", "retries", "slot",    "presence_absent_s"};

class ProfileReader {
 public:
  ProfileReader(std::string shown, std::filesystem::path folder)
      : shown_(std::move(shown)), folder_(std::move(folder)) {}

  bool Fault(const toml::node* node, const std::string& what) {
    if (why_.empty()) {
      why_ = shown_;
      if (node && node->source().begin.line > 0) {
        why_ += " line " + std::to_string(node->source().begin.line);
      }
      why_ += ": " + what;
    }
    return false;
  }

  // A text setting; absent leaves *out as it is.
  bool Text(const toml::table& table, const char* key, std::string* out) {
    const toml::node* node = table.get(key);
    if (!node) return true;
    const auto* text = node->as_string();
    if (!text) return Fault(node, std::string(key) + " is a text in quotes");
    *out = text->get();
    return true;
  }

  bool Flag(const toml::table& table, const char* key, bool* out) {
    const toml::node* node = table.get(key);
    if (!node) return true;
    const auto* flag = node->as_boolean();
    if (!flag) return Fault(node, std::string(key) + " is true or false");
    *out = flag->get();
    return true;
  }

  bool OneOf(const toml::table& table, const char* key, std::string* out,
             std::initializer_list<const char*> allowed, bool required) {
    const toml::node* node = table.get(key);
    if (!node) return required ? Fault(nullptr, std::string(key) + " is missing") : true;
    if (!Text(table, key, out)) return false;
    std::string list;
    for (const char* value : allowed) {
      if (*out == value) return true;
      list += std::string(list.empty() ? "\"" : " or \"") + value + "\"";
    }
    return Fault(node, std::string(key) + " is " + list + ", not \"" + *out + "\"");
  }

  std::string Absolute(const std::string& path) const {
    std::filesystem::path given = PathFromUtf8(path);
    return PathToUtf8(given.is_absolute() ? given : folder_ / given);
  }

  bool Images(const toml::table& table, StationProfile& profile) {
    const toml::node* node = table.get("images");
    if (!node)
      return Fault(nullptr, "images is missing: the station programs only approved images");
    const toml::array* list = node->as_array();
    if (!list || list->empty()) return Fault(node, "images lists at least one { file, sha256 }");
    for (const toml::node& entry : *list) {
      const toml::table* image = entry.as_table();
      if (!image) return Fault(&entry, "each image is { file = \"...\", sha256 = \"...\" }");
      ApprovedImage approved;
      if (!Text(*image, "file", &approved.file) || !Text(*image, "sha256", &approved.sha256)) {
        return false;
      }
      if (approved.file.empty()) return Fault(&entry, "an image without its file");
      std::transform(approved.sha256.begin(), approved.sha256.end(), approved.sha256.begin(),
                     [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
      const bool hex = approved.sha256.size() == 64 &&
                       approved.sha256.find_first_not_of("0123456789abcdef") == std::string::npos;
      if (!hex) return Fault(&entry, approved.file + ": sha256 is 64 hexadecimal digits");
      for (const auto& [key, value] : *image) {
        if (key != "file" && key != "sha256") {
          return Fault(&value, "an image has no setting \"" + std::string(key.str()) + "\"");
        }
      }
      approved.path = Absolute(approved.file);
      profile.images.push_back(std::move(approved));
    }
    if (profile.procedure == "flash" && profile.images.size() != 1) {
      return Fault(node, "procedure \"flash\" programs one image; images lists " +
                             std::to_string(profile.images.size()));
    }
    return true;
  }

  bool Slots(const toml::table& table, StationProfile& profile) {
    const toml::node* node = table.get("slot");
    const toml::array* list = node ? node->as_array() : nullptr;
    if (!list || list->empty()) {
      return Fault(node, "no slot: each is a [[slot]] with its name and port");
    }
    std::set<std::string> names;
    std::set<std::string> ports;
    for (const toml::node& entry : *list) {
      const toml::table* slot = entry.as_table();
      if (!slot) return Fault(&entry, "each slot is a [[slot]] with its name and port");
      StationSlot read;
      if (!Text(*slot, "name", &read.name) || !Text(*slot, "port", &read.port)) return false;
      if (read.name.empty() || read.port.empty()) {
        return Fault(&entry, "a slot needs its name and its port");
      }
      if (read.name.find_first_of(" \t") != std::string::npos) {
        return Fault(slot->get("name"),
                     "a slot's name has no blanks (scans give \"SLOT UNIT_ID\")");
      }
      if (!names.insert(read.name).second) {
        return Fault(slot->get("name"), "two slots are named " + read.name);
      }
      if (!ports.insert(read.port).second) {
        return Fault(slot->get("port"), "two slots use " + read.port);
      }
      for (const auto& [key, value] : *slot) {
        if (key != "name" && key != "port") {
          return Fault(&value, "a slot has no setting \"" + std::string(key.str()) + "\"");
        }
      }
      profile.slots.push_back(std::move(read));
    }
    return true;
  }

  bool Read(const toml::table& table, StationProfile& profile) {
    for (const auto& [key, value] : table) {
      if (!kKeys.count(std::string(key.str()))) {
        return Fault(&value, "no setting \"" + std::string(key.str()) + "\" in a profile");
      }
    }
    if (!Text(table, "station", &profile.station) ||
        !OneOf(table, "procedure", &profile.procedure, {"auto", "flash"}, true) ||
        !Images(table, profile) || !Text(table, "records", &profile.records) ||
        !Text(table, "records_db", &profile.recordsDb) ||
        !OneOf(table, "start", &profile.start, {"scan", "presence", "both"}, false) ||
        !Flag(table, "require_unit_id", &profile.requireUnitId) ||
        !Flag(table, "skip_identical", &profile.skipIdentical) || !Slots(table, profile)) {
      return false;
    }
    if (const toml::node* retries = table.get("retries")) {
      const auto* count = retries->as_integer();
      if (!count || count->get() < 0 || count->get() > 10) {
        return Fault(retries, "retries is a whole number from 0 to 10");
      }
      profile.retries = static_cast<int>(count->get());
    }
    if (const toml::node* absent = table.get("presence_absent_s")) {
      // A whole or fractional number of seconds; longer than a minute would keep a slot
      // waiting for a unit already gone.
      const std::optional<double> seconds = absent->value<double>();
      if (!seconds || !(*seconds >= 0.5 && *seconds <= 60)) {
        return Fault(absent, "presence_absent_s is a number of seconds from 0.5 to 60");
      }
      profile.presenceAbsentMs = static_cast<int>(*seconds * 1000);
    }
    profile.records = Absolute(profile.records.empty() ? "." : profile.records);
    return true;
  }

  const std::string& Why() const { return why_; }

 private:
  std::string shown_;
  std::filesystem::path folder_;
  std::string why_;
};

}  // namespace

std::optional<StationProfile> ReadProfile(const std::string& path, std::string* why) {
  std::string text;
  switch (ReadWholeFile(path, &text, kLargestProfile)) {
    case WholeFile::Read:
      break;
    case WholeFile::TooLarge:
      *why = path + ": larger than a profile can be";
      return std::nullopt;
    default:
      *why = path + ": cannot be read";
      return std::nullopt;
  }
  // The images and the records are found beside the profile, whatever folder the program
  // works in later; its messages name it as it was given.
  const std::filesystem::path file = PathFromUtf8(path);
  std::error_code unresolved;
  std::filesystem::path folder = std::filesystem::absolute(file, unresolved).parent_path();
  if (unresolved)
    folder = file.parent_path().empty() ? std::filesystem::path(".") : file.parent_path();
  ProfileReader reader(path, folder);
  toml::parse_result parsed = toml::parse(text, path);
  if (!parsed) {
    const toml::parse_error& error = parsed.error();
    *why = path + " line " + std::to_string(error.source().begin.line) + ": " +
           std::string(error.description());
    return std::nullopt;
  }
  StationProfile profile;
  if (!reader.Read(parsed.table(), profile)) {
    *why = reader.Why();
    return std::nullopt;
  }
  Sha256 digest;
  digest.Update(reinterpret_cast<const uint8_t*>(text.data()), text.size());
  profile.sha256 = digest.HexDigest();
  return profile;
}

std::string CheckApprovedImage(const ApprovedImage& image) {
  std::string bytes;
  if (ReadWholeFile(image.path, &bytes, kLargestImage) != WholeFile::Read) {
    return image.file + ": cannot be read";
  }
  Sha256 digest;
  digest.Update(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
  return DigestRefusal(image, digest.HexDigest());
}

std::string DigestRefusal(const ApprovedImage& image, const std::string& sha256) {
  if (sha256 == image.sha256) return {};
  if (sha256.empty()) return image.file + ": cannot be read";
  return image.file + ": its SHA-256 is " + sha256 + ", the profile approves " + image.sha256;
}

std::string CheckApprovedImages(const StationProfile& profile) {
  for (const ApprovedImage& image : profile.images) {
    if (std::string why = CheckApprovedImage(image); !why.empty()) return why;
  }
  return {};
}

}  // namespace morlane
