#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "package/manifest.h"

namespace morlane::package {

// The file extension, and the names a package holds beside its images.
inline constexpr const char* kPackageExtension = ".mlpkg";
inline constexpr const char* kManifestName = "manifest.json";
inline constexpr const char* kSignatureName = "manifest.json.sig";
// A package is read into memory whole; a file far beyond what a package holds is refused
// before it is read.
inline constexpr uint64_t kPackageFileLimit = 64u << 20;

// How a package is to be taken.
struct PackageTrust {
  // The allowed_signers files to read, in order (--trusted-keys alone, else the user's and
  // the machine's); a file that is not there is passed over, one that cannot be read is a
  // refusal. Each file's revoked_keys beside it is read with it.
  std::vector<std::string> signersFiles;
  bool signersNamed = false;  // named on the command line: it must be there
  bool allowUnsigned = false;
  std::string model;  // the model the unit is; empty: any
  std::time_t now = 0;
};

struct PackageSigner {
  std::string fingerprint;  // "SHA256:..."
  std::string principal;    // as the trusting line names it; empty when none trusts it
  bool trusted = false;
};

struct PackageImage {
  ManifestImage facts;
  std::vector<uint8_t> data;
};

// A package as read: what could be learnt of it, and the first reason it may not be
// programmed from (empty when it may).
struct PackageReport {
  std::string file;
  std::string sha256;  // of the package file's bytes
  std::optional<Manifest> manifest;
  std::optional<PackageSigner> signer;  // when it carries a signature that could be read
  bool takenUnsigned = false;           // no signature, taken because it was allowed
  std::vector<PackageImage> images;
  std::string trustRead;  // the files trust was read from, for a refusal's words
  std::string refusal;

  bool Usable() const { return refusal.empty(); }
  // The image for a target ("master", "slave", "mcu"), or nullptr.
  const PackageImage* Image(const std::string& target) const;
};

// Reads the package at path and checks it whole: the zip, the signature of the manifest
// and its signer's standing, the manifest, every image against its digest and size, the
// model. Nothing is written and no unit is spoken to.
PackageReport ReadPackage(const std::string& path, const PackageTrust& trust);

// The same over a package's bytes (the fuzzer's way in).
PackageReport ReadPackageBytes(const std::string& name, const std::string& bytes,
                               const PackageTrust& trust);

// The trust of a command: the file named on its command line, else the user's and the
// machine's.
PackageTrust TrustFor(const std::string& trustedKeysOption, bool allowUnsigned,
                      const std::string& model);

}  // namespace morlane::package
