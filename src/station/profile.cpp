// The station's profile. TOML is read by the tomlplusplus headers, without exceptions, so
// that every fault comes back with its place in the file.
#include "station/profile.h"

#include <toml++/toml.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <regex>
#include <set>
#include <string_view>

#include "link/sha256.h"
#include "package/service_package.h"
#include "package/zip_archive.h"
#include "platform/file_io.h"
#include "platform/utf8_path.h"

namespace morlane {

namespace {

// A profile is a page of settings; anything larger is some other file.
constexpr uint64_t kLargestProfile = 1u << 20;
// The largest image the CPUs take comes to about 3 MiB.
constexpr uint64_t kLargestImage = 8u << 20;

const std::vector<std::string> kKeys = {"station",
                                        "procedure",
                                        "images",
                                        "records",
                                        "records_db",
                                        "start",
                                        "require_unit_id",
                                        "skip_identical",
                                        "retries",
                                        "slot",
                                        "presence_absent_s",
                                        "unit_id_pattern",
                                        "rescan",
                                        "operator_prefix",
                                        "instructions",
                                        "package",
                                        "model",
                                        "trusted_keys"};

// A text the station prints on a line of its own, or quotes in one, must stay one line and
// play nothing on the operator's terminal.
bool HasControl(std::string_view text) {
  return std::any_of(text.begin(), text.end(),
                     [](unsigned char c) { return c < 0x20 || c == 0x7f; });
}

// "no setting \"retry\" in a profile; did you mean \"retries\"?"
std::string NoSetting(const std::string& key, const std::string& where,
                      const std::vector<std::string>& known) {
  std::string why = "no setting \"" + key + "\" " + where;
  if (std::string near = NearestName(key, known); !near.empty()) {
    why += "; did you mean \"" + near + "\"?";
  }
  return why;
}

// What toml++ says of a file that is no TOML ("Error while parsing key-value pair: expected
// '=', saw '2'"), in the words of the one who wrote the profile. What is not foreseen here
// is passed on as the parser says it.
std::string ParseFaultInWords(std::string_view description) {
  std::string text(description);
  const std::string lead = "Error while parsing ";
  std::string what;
  std::string detail = text;
  if (text.rfind(lead, 0) == 0) {
    const size_t colon = text.find(": ", lead.size());
    if (colon != std::string::npos) {
      what = text.substr(lead.size(), colon - lead.size());
      detail = text.substr(colon + 2);
    }
  }
  auto has = [&detail](const char* part) { return detail.find(part) != std::string::npos; };
  if (what.find("string") != std::string::npos && has("control characters")) {
    return "a text in quotes ends on its own line with its closing quote";
  }
  if (has("unknown escape sequence")) {
    const size_t quote = detail.find('\'');
    const std::string escape = quote == std::string::npos ? "this" : detail.substr(quote);
    return "a \\ in a text in double quotes starts an escape (" + escape +
           " is none): write a Windows path in single quotes, 'C:\\images\\master.bin'";
  }
  if (has("expected value")) return "a setting has no value after its =";
  if (has("expected '='")) return "a setting is written name = value: the = is missing";
  if (has("could not determine value type") || what == "boolean") {
    return "a value is a text in quotes (\"scan\"), a number, true or false, or a list in [ ]";
  }
  if (what == "table header" && has("expected ']'")) {
    return "a section's name is closed by ] ([instructions]) or ]] ([[slot]])";
  }
  if (has("cannot redefine existing")) {
    // "cannot redefine existing table 'slot' as array-of-tables"
    const size_t open = detail.find('\'');
    const size_t close = open == std::string::npos ? open : detail.find('\'', open + 1);
    const std::string name =
        close == std::string::npos ? "" : detail.substr(open + 1, close - open - 1);
    if (has(" as ") && !name.empty()) {
      return "[" + name + "] and [[" + name + "]] both appear" +
             (name == "slot" ? ": each slot is a [[slot]] section" : "");
    }
    if (name.empty()) return "a setting or section is given twice";
    return what == "table header" ? "the section [" + name + "] is given twice"
                                  : "'" + name + "' is given twice";
  }
  if (has("end-of-file")) return "the file ends inside a list or { }: a ] or } is missing";
  if (what == "inline table") return "each { ... } is written on one line and closed by }";
  if (has("expected a comment or whitespace")) {
    return "something follows the value on its line (a remark begins with #)";
  }
  if (!what.empty()) return "no TOML in a " + what + ": " + detail;
  return "no TOML: " + detail;
}

// The profile's line as it stands, for the engineer to find it: control characters shown
// as '?', a long line cut.
std::string LineText(const std::string& text, size_t line) {
  size_t begin = 0;
  for (size_t n = 1; n < line && begin != std::string::npos; ++n) {
    begin = text.find('\n', begin);
    if (begin != std::string::npos) ++begin;
  }
  if (begin == std::string::npos || begin >= text.size()) return {};
  std::string shown = text.substr(begin, std::min<size_t>(text.find('\n', begin) - begin, 80));
  for (char& c : shown) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '?';
  }
  while (!shown.empty() && (shown.back() == ' ' || shown.back() == '?')) shown.pop_back();
  return shown;
}

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
    if (given.is_absolute()) return PathToUtf8(given);
    // "." and doubled separators are dropped for the messages that name the path; ".." is
    // left for the system to resolve, which a symbolic link may send elsewhere.
    const std::filesystem::path joined = folder_ / given;
    for (const std::filesystem::path& part : given) {
      if (part == "..") return PathToUtf8(joined);
    }
    return PathToUtf8(joined.lexically_normal());
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
      // Checked first: a misspelt key would otherwise read as one missing.
      for (const auto& [key, value] : *image) {
        if (key != "file" && key != "sha256") {
          return Fault(&value,
                       NoSetting(std::string(key.str()), "in an image", {"file", "sha256"}));
        }
      }
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
      approved.path = Absolute(approved.file);
      profile.images.push_back(std::move(approved));
    }
    if (profile.procedure == "flash" && profile.images.size() != 1) {
      return Fault(node, "procedure \"flash\" programs one image; images lists " +
                             std::to_string(profile.images.size()));
    }
    return true;
  }

  // A signed service package instead of images: checked whole here (signature, signer,
  // model, every image against the manifest), so that a station never starts on a package
  // it would refuse; its master and slave images become the approved images, each read
  // again from the package, as approved, before every unit.
  bool Package(const toml::table& table, StationProfile& profile) {
    const toml::node* node = table.get("package");
    if (table.get("images")) {
      return Fault(table.get("images"), "images and package: a station takes one of them");
    }
    std::string file, keys;
    if (!Text(table, "package", &file) || !Text(table, "model", &profile.model) ||
        !Text(table, "trusted_keys", &keys)) {
      return false;
    }
    if (file.empty()) return Fault(node, "package names the service package (*.mlpkg)");
    if (profile.model.empty()) {
      return Fault(node, "model is missing: a station with a package names its units' model");
    }
    if (profile.procedure != "auto") {
      return Fault(node, "a station with a package runs procedure \"auto\"");
    }
    const std::string path = Absolute(file);
    package::PackageTrust trust =
        package::TrustFor(keys.empty() ? std::string() : Absolute(keys), false, profile.model);
    package::PackageReport report = package::ReadPackage(path, trust);
    if (!report.Usable()) return Fault(node, "package " + path + " refused: " + report.refusal);
    for (const char* target : {"master", "slave"}) {
      const package::PackageImage* image = report.Image(target);
      if (!image) continue;
      ApprovedImage approved;
      approved.file = PathToUtf8(PathFromUtf8(path) / PathFromUtf8(image->facts.file));
      approved.path = approved.file;
      approved.sha256 = image->facts.sha256;
      approved.packagePath = path;
      approved.packageSha256 = report.sha256;
      approved.member = image->facts.file;
      approved.target = target;
      profile.images.push_back(std::move(approved));
    }
    if (profile.images.empty()) {
      return Fault(node, "package " + path + " holds no image for the master or the slave");
    }
    profile.package = PackageRecordOf(report);
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
      for (const auto& [key, value] : *slot) {
        if (key != "name" && key != "port") {
          return Fault(&value, NoSetting(std::string(key.str()), "in a slot", {"name", "port"}));
        }
      }
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
      profile.slots.push_back(std::move(read));
    }
    return true;
  }

  // What the line asks of its units and operators: the unit ids it takes, a unit run again,
  // the operator's badge, and what to do with a unit that failed.
  bool Rules(const toml::table& table, StationProfile& profile) {
    if (!OneOf(table, "rescan", &profile.rescan, {"allow", "warn", "refuse"}, false) ||
        !Text(table, "unit_id_pattern", &profile.unitIdPattern) ||
        !Text(table, "operator_prefix", &profile.operatorPrefix)) {
      return false;
    }
    if (const toml::node* node = table.get("unit_id_pattern")) {
      if (profile.unitIdPattern.empty() || HasControl(profile.unitIdPattern)) {
        return Fault(node, "unit_id_pattern is a pattern on one line, not empty");
      }
      try {
        std::regex compiled(profile.unitIdPattern, std::regex::ECMAScript);
      } catch (const std::regex_error& error) {
        return Fault(node, "unit_id_pattern \"" + profile.unitIdPattern +
                               "\" is no pattern (ECMAScript): " + error.what());
      }
    }
    if (const toml::node* node = table.get("operator_prefix")) {
      if (profile.operatorPrefix.empty() || HasControl(profile.operatorPrefix)) {
        return Fault(node, "operator_prefix is the text a badge begins with, as \"OP:\"");
      }
    }
    const toml::node* node = table.get("instructions");
    if (!node) return true;
    const toml::table* steps = node->as_table();
    if (!steps)
      return Fault(node, "instructions is a section: [instructions], then step = \"...\"");
    for (const auto& [key, value] : *steps) {
      const std::string step(key.str());
      const std::vector<std::string>& known = FailedSteps();
      if (std::find(known.begin(), known.end(), step) == known.end()) {
        std::string list;
        for (const std::string& name : known) list += (list.empty() ? "" : ", ") + name;
        std::string why = "instructions: no step \"" + step + "\"";
        if (std::string near = NearestName(step, known); !near.empty()) {
          why += "; did you mean \"" + near + "\"?";
        }
        return Fault(&value, why + " (the steps are " + list + ")");
      }
      const auto* text = value.as_string();
      if (!text || text->get().empty() || HasControl(text->get())) {
        return Fault(&value, "instructions: " + step + " is a text in quotes on one line");
      }
      profile.instructions[step] = text->get();
    }
    return true;
  }

  bool Read(const toml::table& table, StationProfile& profile) {
    for (const auto& [key, value] : table) {
      if (std::find(kKeys.begin(), kKeys.end(), key.str()) == kKeys.end()) {
        return Fault(&value, NoSetting(std::string(key.str()), "in a profile", kKeys));
      }
    }
    if (!Text(table, "station", &profile.station) ||
        !OneOf(table, "procedure", &profile.procedure, {"auto", "flash"}, true) ||
        !(table.get("package") ? Package(table, profile) : Images(table, profile)) ||
        !Text(table, "records", &profile.records) ||
        !Text(table, "records_db", &profile.recordsDb) ||
        !OneOf(table, "start", &profile.start, {"scan", "presence", "both"}, false) ||
        !Flag(table, "require_unit_id", &profile.requireUnitId) ||
        !Flag(table, "skip_identical", &profile.skipIdentical) || !Slots(table, profile) ||
        !Rules(table, profile)) {
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
    const size_t line = error.source().begin.line;
    *why = path + " line " + std::to_string(line) + ": " + ParseFaultInWords(error.description());
    if (std::string shown = LineText(text, line); !shown.empty()) {
      *why += " (the line reads: " + shown + ")";
    }
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

const std::vector<std::string>& FailedSteps() {
  // A CPU's programming steps as they run, then the record that could not be kept.
  static const std::vector<std::string> steps = {"image", "select", "connect", "erase",
                                                 "burn",  "verify", "close",   "record"};
  return steps;
}

std::string NearestName(const std::string& key, const std::vector<std::string>& known) {
  // Edits: a letter added, dropped, changed, or two neighbours swapped ("rescna").
  auto distance = [](const std::string& a, const std::string& b) {
    std::vector<std::vector<size_t>> d(a.size() + 1, std::vector<size_t>(b.size() + 1));
    for (size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
    for (size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
    for (size_t i = 1; i <= a.size(); ++i) {
      for (size_t j = 1; j <= b.size(); ++j) {
        const size_t change = a[i - 1] == b[j - 1] ? 0 : 1;
        d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + change});
        if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1]) {
          d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
        }
      }
    }
    return d[a.size()][b.size()];
  };
  // A key is at most a profile's line: its length bounds the work.
  std::string lower = key.substr(0, 64);
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  std::string nearest;
  size_t best = std::min<size_t>(3, (lower.size() + 1) / 2) + 1;
  for (const std::string& name : known) {
    if (const size_t edits = distance(lower, name); edits < best) {
      best = edits;
      nearest = name;
    }
  }
  return nearest;
}

std::string CheckApprovedImage(const ApprovedImage& image) {
  std::string bytes;
  return ReadApprovedImage(image, &bytes);
}

namespace {

// An image of a service package: the package read again, as checked when the profile was
// read (a package replaced since is another release), and the image taken from it.
std::string ReadPackagedImage(const ApprovedImage& image, std::string* bytes) {
  bytes->clear();
  std::string zip;
  if (ReadWholeFile(image.packagePath, &zip, package::kPackageFileLimit) != WholeFile::Read) {
    return image.packagePath + ": cannot be read";
  }
  if (const std::string now = BytesSha256(zip); now != image.packageSha256) {
    return image.packagePath +
           ": the package changed since the station checked it (its SHA-256 is " + now +
           ", it was " + image.packageSha256 + ")";
  }
  std::string why;
  const auto* data = reinterpret_cast<const uint8_t*>(zip.data());
  std::optional<std::vector<package::ZipEntry>> entries =
      package::ReadZip({data, zip.size()}, package::ZipLimits{}, &why);
  if (!entries) return image.packagePath + ": " + why;
  for (const package::ZipEntry& entry : *entries) {
    if (entry.name == image.member) bytes->assign(entry.data.begin(), entry.data.end());
  }
  return {};
}

}  // namespace

PackageRecord PackageRecordOf(const package::PackageReport& report) {
  PackageRecord record{report.file, report.sha256, report.manifest->model, report.manifest->release,
                       std::nullopt};
  if (report.signer) record.signer = report.signer->fingerprint;
  return record;
}

std::string ReadApprovedImage(const ApprovedImage& image, std::string* bytes) {
  if (!image.packagePath.empty()) {
    if (std::string why = ReadPackagedImage(image, bytes); !why.empty()) return why;
  } else if (ReadWholeFile(image.path, bytes, kLargestImage) != WholeFile::Read) {
    bytes->clear();
    return image.path + ": cannot be read";
  }
  Sha256 digest;
  digest.Update(reinterpret_cast<const uint8_t*>(bytes->data()), bytes->size());
  std::string why = DigestRefusal(image, digest.HexDigest());
  if (!why.empty()) bytes->clear();
  return why;
}

std::string DigestRefusal(const ApprovedImage& image, const std::string& sha256) {
  // Named by the path it was read from: a name relative to the profile's folder would send
  // whoever reads the message to look in the station's working folder.
  if (sha256 == image.sha256) return {};
  if (sha256.empty()) return image.path + ": cannot be read";
  return image.path + ": its SHA-256 is " + sha256 + ", the profile approves " + image.sha256;
}

std::string CheckApprovedImages(const StationProfile& profile) {
  for (const ApprovedImage& image : profile.images) {
    if (std::string why = CheckApprovedImage(image); !why.empty()) return why;
  }
  return {};
}

}  // namespace morlane
