#include "package/service_package.h"

#include <algorithm>
#include <ctime>
#include <span>

#include "link/sha256.h"
#include "package/ssh_signature.h"
#include "package/zip_archive.h"
#include "platform/file_io.h"

namespace morlane::package {
namespace {

std::string DigestOf(std::span<const uint8_t> bytes) {
  return BytesSha256({reinterpret_cast<const char*>(bytes.data()), bytes.size()});
}

std::span<const uint8_t> BytesOf(const std::string& text) {
  return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}

std::string Joined(const std::vector<std::string>& items) {
  std::string text;
  for (const std::string& item : items) text += (text.empty() ? "" : ", ") + item;
  return text;
}

const ZipEntry* Find(const std::vector<ZipEntry>& entries, const std::string& name) {
  for (const ZipEntry& entry : entries) {
    if (entry.name == name) return &entry;
  }
  return nullptr;
}

// Every signers file that is there, read; a key's standing is taken over all of them: a
// revocation in any file revokes it, else a line of any file that trusts it trusts it.
// The user's file adds to the machine's rather than hiding it, so that a key revoked for
// the whole machine cannot be brought back by a technician's own list.
struct SignersStanding {
  TrustVerdict verdict = TrustVerdict::NotListed;
  std::string principal;
  std::string decidedIn;  // the file whose lines decided a verdict other than NotListed
};

std::optional<SignersStanding> Standing(const SshPublicKey& key, const PackageTrust& trust,
                                        std::vector<std::string>* read, std::string* why) {
  SignersStanding standing;
  auto rank = [](TrustVerdict verdict) {
    switch (verdict) {
      case TrustVerdict::Revoked:
        return 5;
      case TrustVerdict::Trusted:
        return 4;
      case TrustVerdict::Expired:
        return 3;
      case TrustVerdict::NotYetValid:
        return 2;
      case TrustVerdict::WrongNamespace:
        return 1;
      case TrustVerdict::NotListed:
        return 0;
    }
    return 0;
  };
  for (const std::string& file : trust.signersFiles) {
    // A file that is not there is no refusal: most machines keep only one of the two. One
    // named on the command line must be there.
    std::string loadWhy;
    bool absent = false;
    std::optional<AllowedSigners> signers = AllowedSigners::Load(file, &loadWhy, &absent);
    if (!signers && absent && !trust.signersNamed) continue;
    if (!signers) {
      *why = absent ? "the trusted keys file " + file + " cannot be read" : loadWhy;
      return std::nullopt;
    }
    read->push_back(file);
    TrustDecision decision = signers->Decide(key, kSignatureNamespace, trust.now);
    if (rank(decision.verdict) > rank(standing.verdict)) {
      standing = {decision.verdict, decision.principal, file};
    }
  }
  return standing;
}

std::string TrustRefusal(const SignersStanding& standing, const std::string& fingerprint,
                         const std::string& where) {
  switch (standing.verdict) {
    case TrustVerdict::Trusted:
      return {};
    case TrustVerdict::Revoked:
      return "its signer " + fingerprint + " is revoked (revoked_keys beside " +
             standing.decidedIn + ")";
    case TrustVerdict::Expired:
      return "its signer " + fingerprint + " is no longer valid (valid-before in " +
             standing.decidedIn + ")";
    case TrustVerdict::NotYetValid:
      return "its signer " + fingerprint + " is not valid yet (valid-after in " +
             standing.decidedIn + ")";
    case TrustVerdict::WrongNamespace:
      return "its signer " + fingerprint + " is listed in " + standing.decidedIn +
             " but not for the namespace \"" + std::string(kSignatureNamespace) + "\"";
    case TrustVerdict::NotListed:
      break;
  }
  return "its signer " + fingerprint + " is not trusted (" + where + ")";
}

void Refuse(PackageReport* report, const std::string& why) {
  if (report->refusal.empty()) report->refusal = why;
}

void CheckSignature(const std::vector<ZipEntry>& entries, const ZipEntry& manifest,
                    const PackageTrust& trust, PackageReport* report) {
  const ZipEntry* signatureEntry = Find(entries, kSignatureName);
  if (!signatureEntry) {
    if (trust.allowUnsigned) {
      report->takenUnsigned = true;
    } else {
      Refuse(report, "it carries no signature (no manifest.json.sig)");
    }
    return;
  }
  std::string why;
  std::string armored(signatureEntry->data.begin(), signatureEntry->data.end());
  std::optional<SshSignature> signature = ParseSignature(armored, &why);
  if (!signature) {
    Refuse(report, "its signature cannot be read: " + why);
    return;
  }
  PackageSigner signer;
  signer.fingerprint = Fingerprint(signature->key);
  report->signer = signer;
  if (!VerifySignature(*signature, manifest.data, kSignatureNamespace, &why)) {
    Refuse(report, why.empty() ? "its signature does not match its manifest" : why);
    return;
  }
  std::vector<std::string> read;
  std::optional<SignersStanding> standing = Standing(signature->key, trust, &read, &why);
  if (!standing) {
    Refuse(report, "its signer cannot be checked: " + why);
    return;
  }
  report->trustRead =
      read.empty() ? "no allowed_signers file found; looked for " + Joined(trust.signersFiles)
                   : "trust is read from " + Joined(read);
  if (standing->verdict == TrustVerdict::Trusted) {
    report->signer->trusted = true;
    report->signer->principal = standing->principal;
    return;
  }
  Refuse(report, TrustRefusal(*standing, signer.fingerprint, report->trustRead));
}

void CheckImages(const std::vector<ZipEntry>& entries, const Manifest& manifest,
                 PackageReport* report) {
  for (const ManifestImage& facts : manifest.images) {
    const ZipEntry* entry = Find(entries, facts.file);
    if (!entry) {
      Refuse(report, "the image " + facts.file + " its manifest names is not in it");
      continue;
    }
    if (entry->data.size() != facts.bytes) {
      Refuse(report, "the image " + facts.file + " has " + std::to_string(entry->data.size()) +
                         " bytes; its manifest says " + std::to_string(facts.bytes));
    } else if (DigestOf(entry->data) != facts.sha256) {
      Refuse(report, "the image " + facts.file + " differs from its digest in the manifest");
    }
    report->images.push_back({facts, entry->data});
  }
  for (const ZipEntry& entry : entries) {
    bool named = entry.name == kManifestName || entry.name == kSignatureName;
    for (const ManifestImage& facts : manifest.images) named = named || facts.file == entry.name;
    // Nothing unsigned rides along: a file the manifest does not name was put in after it.
    if (!named) Refuse(report, "it holds " + entry.name + ", which its manifest does not name");
  }
}

}  // namespace

const PackageImage* PackageReport::Image(const std::string& target) const {
  for (const PackageImage& image : images) {
    if (image.facts.target == target) return &image;
  }
  return nullptr;
}

PackageReport ReadPackageBytes(const std::string& name, const std::string& bytes,
                               const PackageTrust& trust) {
  PackageReport report;
  report.file = name;
  report.sha256 = DigestOf(BytesOf(bytes));
  std::string why;
  std::optional<std::vector<ZipEntry>> entries = ReadZip(BytesOf(bytes), ZipLimits{}, &why);
  if (!entries) {
    Refuse(&report, "it is no sound package: " + why);
    return report;
  }
  const ZipEntry* manifestEntry = Find(*entries, kManifestName);
  if (!manifestEntry) {
    Refuse(&report, "it holds no manifest.json");
    return report;
  }
  CheckSignature(*entries, *manifestEntry, trust, &report);
  std::string text(manifestEntry->data.begin(), manifestEntry->data.end());
  report.manifest = ParseManifest(text, &why);
  if (!report.manifest) {
    Refuse(&report, why);
    return report;
  }
  if (!trust.model.empty() && report.manifest->model != trust.model) {
    Refuse(&report, "it is for the model " + report.manifest->model + ", not " + trust.model);
  }
  CheckImages(*entries, *report.manifest, &report);
  return report;
}

PackageReport ReadPackage(const std::string& path, const PackageTrust& trust) {
  std::string bytes;
  switch (ReadWholeFile(path, &bytes, kPackageFileLimit)) {
    case WholeFile::Read:
      return ReadPackageBytes(path, bytes, trust);
    case WholeFile::TooLarge: {
      PackageReport report;
      report.file = path;
      report.refusal = "it is larger than a package may be";
      return report;
    }
    case WholeFile::NotOpened:
    case WholeFile::Failed:
      break;
  }
  PackageReport report;
  report.file = path;
  report.refusal = "it cannot be read";
  return report;
}

PackageTrust TrustFor(const std::string& trustedKeysOption, bool allowUnsigned,
                      const std::string& model) {
  PackageTrust trust;
  trust.signersNamed = !trustedKeysOption.empty();
  trust.signersFiles =
      trust.signersNamed ? std::vector<std::string>{trustedKeysOption} : TrustedSignersFiles();
  trust.allowUnsigned = allowUnsigned;
  trust.model = model;
  trust.now = std::time(nullptr);
  return trust;
}

}  // namespace morlane::package
