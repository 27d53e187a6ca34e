#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "package/service_package.h"
#include "records/run_record.h"

namespace morlane {

// One image a station may program: the only bytes it will send are these.
struct ApprovedImage {
  std::string file;    // as the profile gives it
  std::string path;    // made absolute against the profile's folder
  std::string sha256;  // 64 lowercase hexadecimal digits
  // From a service package: the package file (absolute) and its SHA-256 as checked when
  // the profile was read, the image's name in it, and its CPU ("master", "slave").
  std::string packagePath{};
  std::string packageSha256{};
  std::string member{};
  std::string target{};
};

struct StationSlot {
  std::string name;
  std::string port;  // a device path, or "COM7" on Windows
};

// A production station's profile, as its TOML file gives it.
struct StationProfile {
  std::string station;    // empty: the host name
  std::string procedure;  // "auto" or "flash"
  std::vector<ApprovedImage> images;
  // With package: the unit model the package must name, and the package as checked (its
  // master and slave images are then the approved images).
  std::string model;
  std::optional<PackageRecord> package;
  std::string records;  // absolute; the profile's folder when not given
  std::string recordsDb;
  std::string start = "scan";  // "scan", "presence" or "both"
  bool requireUnitId = false;
  bool skipIdentical = false;
  int retries = 0;  // more tries for a CPU whose handshake failed
  // Presence: how long a unit just run must stay silent, over two asks at least, before it
  // counts as taken out. One ask it misses (busy after its reset) is no new unit.
  int presenceAbsentMs = 2000;
  // A scanned unit id must match this ECMAScript pattern as a whole; "" takes any id.
  std::string unitIdPattern;
  // A unit id that passed at this station before: "allow", "warn" or "refuse".
  std::string rescan = "warn";
  // A scan that begins with it names the operator of the runs that follow; "": no badges.
  std::string operatorPrefix;
  // Per failed step ("erase"), what the operator does with the unit.
  std::map<std::string, std::string> instructions;
  std::vector<StationSlot> slots;
  std::string sha256;  // of the profile file's bytes, for every run's record
};

// Reads and checks the profile. On a fault, nothing and why, naming the file and the line
// at fault ("line1.toml line 4: procedure is \"auto\" or \"flash\", not \"burn\"").
// Unknown keys are faults too: a misspelt setting would otherwise be silently ignored; the
// nearest known one is offered. A file that is no TOML is said in words, with its line.
std::optional<StationProfile> ReadProfile(const std::string& path, std::string* why);

// What a run's record keeps of the service package it took its images from.
PackageRecord PackageRecordOf(const package::PackageReport& report);

// The steps a unit's run can fail at, in the order they come, for [instructions].
const std::vector<std::string>& FailedSteps();

// The known name nearest to key, when it is near enough to be a slip of the keyboard (at
// most 3 edits, and no more than half of key's letters, rounded up); "" when none is.
std::string NearestName(const std::string& key, const std::vector<std::string>& known);

// Each approved image read and its SHA-256 compared: "" when every one matches, else what
// does not ("master.bin: its SHA-256 is 3f..., the profile approves 9a...").
std::string CheckApprovedImages(const StationProfile& profile);
// One image read and checked: "" when its digest is the approved one, else why.
std::string CheckApprovedImage(const ApprovedImage& image);
// The same, keeping the bytes read in *bytes (emptied when they are not the approved ones).
std::string ReadApprovedImage(const ApprovedImage& image, std::string* bytes);
// Why bytes of this digest (empty: none could be read) are not the approved image; "" when
// they are.
std::string DigestRefusal(const ApprovedImage& image, const std::string& sha256);

}  // namespace morlane
