// package create, package inspect: service packages, made by a release engineer and
// looked into by anyone.
#include <CLI/CLI.hpp>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "app/headless_window.h"
#include "cli/cli_session.h"
#include "flash/bin_file.h"
#include "image/xfer_s19.h"
#include "link/sha256.h"
#include "package/service_package.h"
#include "package/ssh_signature.h"
#include "package/zip_archive.h"
#include "platform/clock.h"
#include "platform/file_io.h"
#include "platform/run_program.h"
#include "platform/utf8_path.h"
#include "ui/dialog_values.h"

namespace morlane {
namespace {

using namespace package;

// An image of a package is read whole; none of the unit's images comes near this.
constexpr uint64_t kImageLimit = 8u << 20;
// Signing may wait for the release engineer's passphrase or a hardware key's touch.
constexpr int kSigningTimeoutMs = 300'000;

struct GivenImage {
  std::string path;   // absolute
  std::string shown;  // as given
  std::string target;
};

std::string Lowered(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

// FILE or FILE:TARGET; only a known target after the last ":" counts as one, so that a
// Windows path's drive ("C:\images\master.bin") stays part of the path.
void SplitTarget(const std::string& given, std::string* file, std::string* target) {
  const size_t colon = given.rfind(':');
  if (colon != std::string::npos) {
    const std::string named = Lowered(given.substr(colon + 1));
    if (named == "master" || named == "slave" || named == "mcu") {
      *file = given.substr(0, colon);
      *target = named;
      return;
    }
  }
  *file = given;
  target->clear();
}

// The target as the window decides it from the name: "*.S19" is the MCU's, else the CPU
// the name names as "Select Firmware File" reads it; a name that names neither CPU or both
// decides nothing, and its target must be given.
std::string TargetOfName(const std::string& name) {
  if (Lowered(name).ends_with(".s19")) return "mcu";
  switch (CpuNamedInPath(name)) {
    case PathCpu::Master:
      return "master";
    case PathCpu::Slave:
      return "slave";
    case PathCpu::Neither:
    case PathCpu::Both:
      break;
  }
  return {};
}

// What is put into a package must be what its target takes: a sound inverter image for a
// CPU, an S-record file the MCU update reads for the MCU.
std::string ImageRefusal(const std::string& target, const std::string& bytes) {
  if (target == "mcu") {
    HeadlessWindow window;
    CXferS19 s19(window);
    if (s19.ParseS19Text(bytes) && s19.BuildRawBlockList()) return {};
    std::string why =
        s19.refusal.detail.empty() ? "not a readable S-record file" : s19.refusal.detail;
    if (s19.refusal.line > 0) why += " (line " + std::to_string(s19.refusal.line) + ")";
    return why;
  }
  ImageSurvey survey = SurveyImage(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
  return survey.verdict == ImageVerdict::Sound ? std::string() : ImageVerdictText(survey.verdict);
}

// A folder of the tool's own for the signing, removed again whatever happens.
struct SigningFolder {
  std::filesystem::path path;
  SigningFolder() {
    std::error_code error;
    std::filesystem::path base = std::filesystem::temp_directory_path(error);
    std::random_device random;
    for (int attempt = 0; attempt < 16 && !error; ++attempt) {
      std::filesystem::path candidate = base / ("morlane-sign-" + std::to_string(random()));
      if (std::filesystem::create_directory(candidate, error)) {
        path = candidate;
        return;
      }
    }
  }
  ~SigningFolder() {
    std::error_code error;
    if (!path.empty()) std::filesystem::remove_all(path, error);
  }
};

// The manifest signed through ssh-keygen, so that whatever holds the key (a file with a
// passphrase, an agent, a hardware key) signs as it always does; the signature is then
// checked here before it goes into the package. *signer: the signing key's fingerprint.
bool SignManifest(const std::string& manifest, const std::string& key, std::string* signature,
                  std::string* signer, std::string* why) {
  SigningFolder folder;
  if (folder.path.empty()) {
    *why = "no temporary folder for the signing";
    return false;
  }
  const std::string manifestPath = PathToUtf8(folder.path / kManifestName);
  if (!WriteFileDurably(manifestPath, manifest, why)) return false;
  ProgramEnd end = RunProgram({"ssh-keygen", "-q", "-Y", "sign", "-n",
                               std::string(kSignatureNamespace), "-f", key, manifestPath},
                              kSigningTimeoutMs);
  if (!end.started) {
    *why = "ssh-keygen cannot be started (is OpenSSH's client installed?)";
    return false;
  }
  if (end.timedOut || end.exitCode != 0) {
    *why = end.timedOut ? "ssh-keygen did not finish the signature in time"
                        : "ssh-keygen could not sign with " + key;
    return false;
  }
  if (ReadWholeFile(manifestPath + ".sig", signature, 64 * 1024) != WholeFile::Read) {
    *why = "ssh-keygen left no signature";
    return false;
  }
  std::optional<SshSignature> parsed = ParseSignature(*signature, why);
  if (!parsed) return false;
  const auto* bytes = reinterpret_cast<const uint8_t*>(manifest.data());
  if (!VerifySignature(*parsed, {bytes, manifest.size()}, kSignatureNamespace, why)) return false;
  *signer = Fingerprint(parsed->key);
  return true;
}

struct CreateOptions {
  std::string out;
  std::string model;
  std::string release;
  std::string notes;
  std::string signWith;
  std::vector<std::string> files;
};

int RunCreate(CliSession& session, const CreateOptions& options) {
  const std::string out = session.PathOf(options.out);
  std::error_code error;
  if (std::filesystem::exists(PathFromUtf8(out), error)) {
    std::fprintf(stderr, "morlane-cli: %s is there already: a package is never written over\n",
                 options.out.c_str());
    return kExitUsage;
  }
  Manifest manifest;
  manifest.model = options.model;
  manifest.release = options.release;
  manifest.notes = options.notes;
  manifest.created = Iso8601Local(static_cast<int64_t>(std::time(nullptr)));
  std::vector<ZipEntry> images;
  for (const std::string& given : options.files) {
    std::string file, target;
    SplitTarget(given, &file, &target);
    const std::string path = session.PathOf(file);
    const std::string name = PathToUtf8(PathFromUtf8(path).filename());
    if (target.empty()) target = TargetOfName(name);
    if (target.empty()) {
      std::fprintf(stderr,
                   "morlane-cli: %s names no target (\"Master\", \"Slave\", *.S19): give it as "
                   "%s:master, :slave or :mcu\n",
                   file.c_str(), file.c_str());
      return kExitUsage;
    }
    if (manifest.ForTarget(target)) {
      std::fprintf(stderr, "morlane-cli: two images for the %s: %s and %s\n", target.c_str(),
                   manifest.ForTarget(target)->file.c_str(), name.c_str());
      return kExitUsage;
    }
    for (const ManifestImage& image : manifest.images) {
      if (Lowered(image.file) == Lowered(name)) {
        std::fprintf(stderr, "morlane-cli: two images named %s\n", name.c_str());
        return kExitUsage;
      }
    }
    std::string bytes;
    if (ReadWholeFile(path, &bytes, kImageLimit) != WholeFile::Read) return Unreadable(file);
    if (const std::string why = ImageRefusal(target, bytes); !why.empty()) {
      std::fprintf(stderr, "morlane-cli: %s is no image for the %s: %s\n", file.c_str(),
                   target.c_str(), why.c_str());
      return kExitFailed;
    }
    manifest.images.push_back({name, target, BytesSha256(bytes), bytes.size()});
    images.push_back({name, std::vector<uint8_t>(bytes.begin(), bytes.end())});
  }

  const std::string manifestText = ManifestText(manifest);
  std::vector<ZipEntry> entries;
  entries.push_back({kManifestName, {manifestText.begin(), manifestText.end()}});
  std::string signer = "unsigned";
  if (!options.signWith.empty()) {
    std::string signature, fingerprint, why;
    if (!SignManifest(manifestText, session.PathOf(options.signWith), &signature, &fingerprint,
                      &why)) {
      std::fprintf(stderr, "morlane-cli: the package is not signed: %s\n", why.c_str());
      return kExitFailed;
    }
    signer = "signed by " + fingerprint;
    entries.push_back({kSignatureName, {signature.begin(), signature.end()}});
  }
  for (ZipEntry& image : images) entries.push_back(std::move(image));

  std::string why;
  std::optional<std::vector<uint8_t>> zip = WriteZip(entries, RealClock().Now(), &why);
  if (!zip) {
    std::fprintf(stderr, "morlane-cli: the package cannot be made: %s\n", why.c_str());
    return kExitFailed;
  }
  if (!WriteFileDurably(out, {reinterpret_cast<const char*>(zip->data()), zip->size()}, &why)) {
    std::fprintf(stderr, "morlane-cli: %s cannot be written: %s\n", options.out.c_str(),
                 why.c_str());
    return kExitFailed;
  }
  std::printf("%s: %s %s, %zu images, %s\n", options.out.c_str(), manifest.model.c_str(),
              manifest.release.c_str(), manifest.images.size(), signer.c_str());
  return kExitOk;
}

int RunPackageInspect(CliSession& session, const std::string& given) {
  const GlobalOptions& options = session.Options();
  const std::string path = session.PathOf(given);
  if (!Readable(path)) return Unreadable(given);
  PackageTrust trust =
      TrustFor(options.trustedKeys.empty() ? std::string() : session.PathOf(options.trustedKeys),
               false, options.model);
  PackageReport report = ReadPackage(path, trust);
  std::printf("package: %s\nsha256: %s\n", given.c_str(), report.sha256.c_str());
  if (report.manifest) {
    const Manifest& manifest = *report.manifest;
    std::printf("model: %s\nrelease: %s\ncreated: %s\nnotes: %s\n", manifest.model.c_str(),
                manifest.release.c_str(), manifest.created.c_str(), manifest.notes.c_str());
  }
  if (!report.signer) {
    std::printf("signer: none\n");
  } else if (report.signer->trusted) {
    std::printf("signer: %s %s (trusted)\n", report.signer->principal.c_str(),
                report.signer->fingerprint.c_str());
  } else {
    std::printf("signer: %s (not trusted)\n", report.signer->fingerprint.c_str());
  }
  if (!report.trustRead.empty()) std::printf("trust: %s\n", report.trustRead.c_str());
  for (const PackageImage& image : report.images) {
    std::printf("image: %-6s %s %llu bytes sha256 %s\n", image.facts.target.c_str(),
                image.facts.file.c_str(), static_cast<unsigned long long>(image.facts.bytes),
                image.facts.sha256.c_str());
  }
  if (!report.Usable()) {
    std::printf("refused: %s\n", report.refusal.c_str());
    return kExitFailed;
  }
  std::printf("intact and trusted\n");
  return kExitOk;
}

}  // namespace

void RegisterPackageCommands(CLI::App& app, CommandRunner& selected) {
  auto* group = app.add_subcommand("package", "Service packages: make one, or look into one");
  group->require_subcommand(1);

  auto* create = group->add_subcommand(
      "create", "Write a service package of the images (never over an existing file)");
  auto createOptions = std::make_shared<CreateOptions>();
  create->add_option("OUT", createOptions->out, "the package to write (*.mlpkg)")->required();
  create->add_option("--model", createOptions->model, "the unit model the images are for")
      ->required();
  create->add_option("--release", createOptions->release, "the release's name")->required();
  create->add_option("--notes", createOptions->notes, "a note for the technician");
  create
      ->add_option("--sign-with", createOptions->signWith,
                   "sign it with this OpenSSH key (through ssh-keygen -Y sign)")
      ->type_name("KEY");
  create
      ->add_option("FILE", createOptions->files,
                   "the images, each FILE or FILE:TARGET (master, slave, mcu)")
      ->required();
  create->callback([&selected, createOptions] {
    selected = [createOptions](CliSession& session) { return RunCreate(session, *createOptions); };
  });

  auto* inspect = group->add_subcommand(
      "inspect", "What a package holds, who signed it, and whether it is intact and trusted");
  auto file = std::make_shared<std::string>();
  inspect->add_option("FILE", *file, "the package (*.mlpkg)")->required();
  inspect->callback([&selected, file] {
    selected = [file](CliSession& session) { return RunPackageInspect(session, *file); };
  });
}

}  // namespace morlane
