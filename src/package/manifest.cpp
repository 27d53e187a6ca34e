#include "package/manifest.h"

#include <nlohmann/json.hpp>

#include <set>

#include "package/zip_archive.h"

namespace morlane::package {
namespace {

using Json = nlohmann::ordered_json;

bool HexDigest(const std::string& text) {
  if (text.size() != 64) return false;
  for (char c : text) {
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  }
  return true;
}

// A string field: absent or of another type is a refusal naming the field.
bool TextField(const Json& object, const char* key, bool required, std::string* out,
               std::string* why) {
  auto found = object.find(key);
  if (found == object.end()) {
    if (!required) return true;
    *why = std::string("the manifest has no \"") + key + "\"";
    return false;
  }
  if (!found->is_string()) {
    *why = std::string("the manifest's \"") + key + "\" is no text";
    return false;
  }
  *out = found->get<std::string>();
  return true;
}

bool ReadImage(const Json& item, size_t index, ManifestImage* image, std::string* why) {
  std::string where = "the manifest's image " + std::to_string(index + 1);
  if (!item.is_object()) {
    *why = where + " is no object";
    return false;
  }
  std::string fieldWhy;
  if (!TextField(item, "file", true, &image->file, &fieldWhy) ||
      !TextField(item, "target", true, &image->target, &fieldWhy) ||
      !TextField(item, "sha256", true, &image->sha256, &fieldWhy)) {
    *why = where + ": " + fieldWhy.substr(std::string("the manifest ").size());
    return false;
  }
  if (!PlainFileName(image->file)) {
    *why = where + " names no plain file (\"" + image->file + "\")";
    return false;
  }
  if (image->target != "master" && image->target != "slave" && image->target != "mcu") {
    *why = where + " (" + image->file + ") has the target \"" + image->target +
           "\"; a package knows master, slave and mcu";
    return false;
  }
  if (!HexDigest(image->sha256)) {
    *why = where + " (" + image->file + ") has no well-formed sha256";
    return false;
  }
  auto bytes = item.find("bytes");
  if (bytes == item.end() || !bytes->is_number_unsigned()) {
    *why = where + " (" + image->file + ") has no size in \"bytes\"";
    return false;
  }
  image->bytes = bytes->get<uint64_t>();
  return true;
}

}  // namespace

const ManifestImage* Manifest::ForTarget(std::string_view target) const {
  for (const ManifestImage& image : images) {
    if (image.target == target) return &image;
  }
  return nullptr;
}

std::optional<Manifest> ParseManifest(std::string_view text, std::string* why) {
  if (text.size() > kManifestLimit) {
    *why = "the manifest is larger than a manifest may be";
    return std::nullopt;
  }
  Json json = Json::parse(text.begin(), text.end(), nullptr, false);
  if (json.is_discarded() || !json.is_object()) {
    *why = "the manifest is no JSON object";
    return std::nullopt;
  }
  Manifest manifest;
  if (!TextField(json, "format", true, &manifest.format, why)) return std::nullopt;
  auto version = json.find("version");
  if (manifest.format != kManifestFormat || version == json.end() ||
      !version->is_number_integer() || version->get<int64_t>() != kManifestVersion) {
    std::string shown = version == json.end() ? "none" : version->dump();
    *why = "the manifest is of the format \"" + manifest.format + "\" version " + shown +
           "; this tool reads \"" + std::string(kManifestFormat) + "\" version " +
           std::to_string(kManifestVersion);
    return std::nullopt;
  }
  if (!TextField(json, "model", true, &manifest.model, why) ||
      !TextField(json, "release", true, &manifest.release, why) ||
      !TextField(json, "created", false, &manifest.created, why) ||
      !TextField(json, "notes", false, &manifest.notes, why)) {
    return std::nullopt;
  }
  if (manifest.model.empty() || manifest.release.empty()) {
    *why = "the manifest names no model or no release";
    return std::nullopt;
  }
  auto images = json.find("images");
  if (images == json.end() || !images->is_array() || images->empty()) {
    *why = "the manifest lists no images";
    return std::nullopt;
  }
  std::set<std::string> targets, files;
  for (size_t i = 0; i < images->size(); ++i) {
    ManifestImage image;
    if (!ReadImage((*images)[i], i, &image, why)) return std::nullopt;
    if (!targets.insert(image.target).second) {
      *why = "the manifest names two images for the " + image.target;
      return std::nullopt;
    }
    if (!files.insert(image.file).second) {
      *why = "the manifest names the file " + image.file + " twice";
      return std::nullopt;
    }
    manifest.images.push_back(std::move(image));
  }
  return manifest;
}

std::string ManifestText(const Manifest& manifest) {
  Json json = Json::object();
  json["format"] = manifest.format;
  json["version"] = manifest.version;
  json["model"] = manifest.model;
  json["release"] = manifest.release;
  json["created"] = manifest.created;
  json["notes"] = manifest.notes;
  Json images = Json::array();
  for (const ManifestImage& image : manifest.images) {
    images.push_back(Json{{"file", image.file},
                          {"target", image.target},
                          {"sha256", image.sha256},
                          {"bytes", image.bytes}});
  }
  json["images"] = std::move(images);
  // Invalid UTF-8 in a note or a name is replaced, never thrown over.
  return json.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

}  // namespace morlane::package
