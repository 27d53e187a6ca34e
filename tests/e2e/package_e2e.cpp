// Whole runs of service packages: a release engineer's key made by ssh-keygen, the package
// made and looked into by morlane-cli, "Automatic" from it on morlane-unit-sim, and every
// refusal before a single frame reaches the unit.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <regex>

#include "flash/test_image_maker.h"
#include "image/s19_text.h"
#include "support/process.h"

namespace morlane {
namespace {

using test::ImageSection;
using test::RunProcess;
using test::SimProcess;
using test::TempDir;
using test::Words;
using ::testing::HasSubstr;
using ::testing::Not;

const std::vector<ImageSection> kMaster = {{0x2010, Words(3, 0x4000)}};
const std::vector<ImageSection> kSlave = {{0x0100, Words(2, 0x6000)}};

// What the unit saw of one CPU: erasures and program frames.
std::pair<int, int> Touched(const std::string& report, char cpu) {
  std::regex line(std::string("cpu ") + cpu + ": erased ([0-9]+) times, ([0-9]+) program frames");
  std::smatch m;
  if (!std::regex_search(report, m, line)) return {-1, -1};
  return {std::stoi(m[1]), std::stoi(m[2])};
}

// Rewrites one entry of a zip (or drops it, or adds one) with Python's own zip module, as
// someone tampering with a package on the way would.
void RewriteZip(const std::string& zip, const std::string& name, const std::string& contents,
                const std::string& action = "replace") {
  const std::string script =
      "import os, sys, zipfile\n"
      "src, name, data, action = sys.argv[1], sys.argv[2], os.fsencode(sys.argv[3]), sys.argv[4]\n"
      "entries = [(i.filename, zipfile.ZipFile(src).read(i.filename))\n"
      "           for i in zipfile.ZipFile(src).infolist()]\n"
      "with zipfile.ZipFile(src, 'w', zipfile.ZIP_DEFLATED) as out:\n"
      "    for n, d in entries:\n"
      "        if n == name and action == 'drop': continue\n"
      "        out.writestr(n, data if n == name and action == 'replace' else d)\n"
      "    if action == 'add': out.writestr(name, data)\n";
  test::ProcessResult result =
      RunProcess({"/usr/bin/env", "python3", "-c", script, zip, name, contents, action});
  ASSERT_EQ(result.status, 0) << result.err;
}

std::string ZipEntry(const std::string& zip, const std::string& name) {
  test::ProcessResult result =
      RunProcess({"/usr/bin/env", "python3", "-c",
                  "import sys, zipfile; "
                  "sys.stdout.buffer.write(zipfile.ZipFile(sys.argv[1]).read(sys.argv[2]))",
                  zip, name});
  EXPECT_EQ(result.status, 0) << result.err;
  return result.out;
}

class PackageE2e : public ::testing::Test {
 protected:
  void SetUp() override {
    dir.Write("Master.bin", test::MakeInverterImage(kMaster));
    dir.Write("Slave.bin", test::MakeInverterImage(kSlave));
    ASSERT_EQ(Keygen({"-q", "-t", "ed25519", "-N", "", "-C", "release", "-f", dir.File("release")})
                  .status,
              0);
    Trust("release", "namespaces=\"morlane-package\"");
  }

  test::ProcessResult Keygen(const std::vector<std::string>& args, const std::string& input = "") {
    std::vector<std::string> argv{"/usr/bin/env", "ssh-keygen"};
    argv.insert(argv.end(), args.begin(), args.end());
    return RunProcess(argv, dir.Path(), 30, input);
  }

  // The key's line in the allowed_signers file, with these options.
  void Trust(const std::string& key, const std::string& options) {
    std::vector<uint8_t> pub = dir.Read(key + ".pub");
    std::string line =
        "release@line.example " + options + " " + std::string(pub.begin(), pub.end());
    dir.Write("allowed_signers", line);
  }

  test::ProcessResult Cli(const std::vector<std::string>& args) {
    std::vector<std::string> argv{MORLANE_CLI, "--dir", dir.Path(), "--trusted-keys",
                                  dir.File("allowed_signers")};
    argv.insert(argv.end(), args.begin(), args.end());
    return RunProcess(argv, dir.Path(), 60);
  }

  test::ProcessResult Create(const std::string& out, const std::string& key = "release") {
    std::vector<std::string> args{"package",   "create", out,       "--model",  "INV-5K",
                                  "--release", "2.4.1",  "--notes", "field fix"};
    if (!key.empty()) args.insert(args.end(), {"--sign-with", dir.File(key)});
    args.insert(args.end(), {"Master.bin", "Slave.bin"});
    return Cli(args);
  }

  // "Automatic" from the package on a fresh simulated unit; the unit's report in simReport.
  test::ProcessResult Program(const std::string& package, std::vector<std::string> more = {}) {
    SimProcess sim(MORLANE_UNIT_SIM);
    EXPECT_TRUE(sim.Running());
    std::vector<std::string> args{"--port", sim.Path(), "--quiet", "--package", package};
    args.insert(args.end(), more.begin(), more.end());
    args.push_back("auto");
    test::ProcessResult result = Cli(args);
    simReport = sim.Stop();
    return result;
  }

  // A refusal: exit 1, one line naming the cause, and the unit never touched.
  void ExpectRefused(const std::string& package, const std::string& cause,
                     std::vector<std::string> more = {}) {
    test::ProcessResult result = Program(package, more);
    EXPECT_EQ(result.status, 1) << result.out << result.err;
    // The verdict line alone says it.
    EXPECT_THAT(result.err, HasSubstr("FAIL: package: " + package + " refused: "));
    EXPECT_THAT(result.err, HasSubstr(cause));
    EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << result.err;
    EXPECT_EQ(Touched(simReport, 'M'), std::make_pair(0, 0)) << simReport;
    EXPECT_EQ(Touched(simReport, 'S'), std::make_pair(0, 0)) << simReport;
    EXPECT_THAT(result.out, Not(HasSubstr("Connected inverter")));
  }

  TempDir dir;
  std::string simReport;
};

TEST_F(PackageE2e, ReleaseEngineerMakesItSshKeygenAgreesAndTheUnitIsProgrammedFromIt) {
  test::ProcessResult made = Create("inv5k.mlpkg");
  ASSERT_EQ(made.status, 0) << made.err;
  // Never over an existing file.
  EXPECT_EQ(Create("inv5k.mlpkg").status, 2);

  // OpenSSH's own verifier takes the signature of the manifest.
  dir.Write("manifest.json", ZipEntry(dir.File("inv5k.mlpkg"), "manifest.json"));
  dir.Write("manifest.json.sig", ZipEntry(dir.File("inv5k.mlpkg"), "manifest.json.sig"));
  test::ProcessResult verified =
      Keygen({"-Y", "verify", "-f", dir.File("allowed_signers"), "-I", "release@line.example", "-n",
              "morlane-package", "-s", dir.File("manifest.json.sig")},
             ZipEntry(dir.File("inv5k.mlpkg"), "manifest.json"));
  EXPECT_EQ(verified.status, 0) << verified.out << verified.err;

  test::ProcessResult inspected = Cli({"package", "inspect", "inv5k.mlpkg"});
  EXPECT_EQ(inspected.status, 0) << inspected.out << inspected.err;
  EXPECT_THAT(inspected.out, HasSubstr("model: INV-5K\nrelease: 2.4.1\n"));
  EXPECT_THAT(inspected.out, HasSubstr("signer: release@line.example SHA256:"));
  EXPECT_THAT(inspected.out, HasSubstr("image: master Master.bin"));
  EXPECT_THAT(inspected.out, HasSubstr("intact and trusted"));

  test::ProcessResult run =
      Program("inv5k.mlpkg", {"--model", "INV-5K", "--records", dir.File("records"), "--events",
                              dir.File("events.ndjson")});
  EXPECT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_EQ(Touched(simReport, 'M'), std::make_pair(1, 1)) << simReport;
  EXPECT_EQ(Touched(simReport, 'S'), std::make_pair(1, 1)) << simReport;
  EXPECT_THAT(run.out, HasSubstr("inv5k.mlpkg, model INV-5K, release 2.4.1, signed by "
                                 "release@line.example SHA256:"));
  std::vector<uint8_t> events = dir.Read("events.ndjson");
  const std::string text(events.begin(), events.end());
  const size_t package = text.find("\"type\":\"package\"");
  ASSERT_NE(package, std::string::npos) << text;
  EXPECT_LT(package, text.find("\"type\":\"image\""));
  EXPECT_THAT(text, HasSubstr("\"model\":\"INV-5K\",\"release\":\"2.4.1\",\"signer\":\"SHA256:"));

  test::ProcessResult listed =
      Cli({"--records", dir.File("records"), "records", "list", "--release", "2.4.1", "--json"});
  EXPECT_EQ(listed.status, 0) << listed.err;
  EXPECT_THAT(listed.out, HasSubstr("\"package\": {\"file\": \"" + dir.File("inv5k.mlpkg")));
  EXPECT_THAT(listed.out, HasSubstr("\"release\": \"2.4.1\", \"signer\": \"SHA256:"));
  test::ProcessResult other =
      Cli({"--records", dir.File("records"), "records", "list", "--release", "2.4.0", "--json"});
  EXPECT_EQ(other.out, "");
}

TEST_F(PackageE2e, SignatureMadeBySshKeygenByHandIsTaken) {
  ASSERT_EQ(Create("unsigned.mlpkg", "").status, 0);
  const std::string manifest = ZipEntry(dir.File("unsigned.mlpkg"), "manifest.json");
  dir.Write("manifest.json", manifest);
  ASSERT_EQ(Keygen({"-Y", "sign", "-n", "morlane-package", "-f", dir.File("release"),
                    dir.File("manifest.json")})
                .status,
            0);
  std::vector<uint8_t> signature = dir.Read("manifest.json.sig");
  RewriteZip(dir.File("unsigned.mlpkg"), "manifest.json.sig",
             std::string(signature.begin(), signature.end()), "add");
  test::ProcessResult inspected = Cli({"package", "inspect", "unsigned.mlpkg"});
  EXPECT_EQ(inspected.status, 0) << inspected.out << inspected.err;
}

TEST_F(PackageE2e, EveryRefusalComesBeforeAnyFrame) {
  ASSERT_EQ(Create("good.mlpkg").status, 0);
  ASSERT_EQ(Create("unsigned.mlpkg", "").status, 0);
  ExpectRefused("unsigned.mlpkg", "carries no signature");

  // Taken unsigned only when asked, and said so.
  test::ProcessResult taken = Program("unsigned.mlpkg", {"--allow-unsigned"});
  EXPECT_EQ(taken.status, 0) << taken.err;
  EXPECT_THAT(taken.out, HasSubstr("UNSIGNED"));

  ExpectRefused("good.mlpkg", "is for the model INV-5K, not INV-3K", {"--model", "INV-3K"});

  std::filesystem::copy_file(dir.File("good.mlpkg"), dir.File("image.mlpkg"));
  RewriteZip(dir.File("image.mlpkg"), "Slave.bin", "\x08\xAA tampered");
  ExpectRefused("image.mlpkg", "Slave.bin has 11 bytes; its manifest says");

  std::filesystem::copy_file(dir.File("good.mlpkg"), dir.File("manifest.mlpkg"));
  std::string manifest = ZipEntry(dir.File("good.mlpkg"), "manifest.json");
  manifest.replace(manifest.find("2.4.1"), 5, "2.4.2");
  RewriteZip(dir.File("manifest.mlpkg"), "manifest.json", manifest);
  ExpectRefused("manifest.mlpkg", "does not match");

  std::filesystem::copy_file(dir.File("good.mlpkg"), dir.File("extra.mlpkg"));
  RewriteZip(dir.File("extra.mlpkg"), "Extra.bin", "x", "add");
  ExpectRefused("extra.mlpkg", "Extra.bin, which its manifest does not name");

  // Another key: not trusted, its fingerprint named.
  ASSERT_EQ(Keygen({"-q", "-t", "ecdsa", "-b", "256", "-N", "", "-f", dir.File("other")}).status,
            0);
  ASSERT_EQ(Create("other.mlpkg", "other").status, 0);
  test::ProcessResult fingerprint = Keygen({"-l", "-E", "sha256", "-f", dir.File("other.pub")});
  const std::string shown = fingerprint.out.substr(fingerprint.out.find("SHA256:"), 50);
  ExpectRefused("other.mlpkg",
                "its signer " + shown.substr(0, shown.find(' ')) + " is not trusted");

  // Revoked beside the allowed signers; trusted for another namespace only; expired.
  dir.Write("revoked_keys", dir.Read("release.pub"));
  ExpectRefused("good.mlpkg", "is revoked");
  std::filesystem::remove(dir.File("revoked_keys"));
  Trust("release", "namespaces=\"git\"");
  ExpectRefused("good.mlpkg", "not for the namespace \"morlane-package\"");
  Trust("release", "valid-before=\"20200101\"");
  ExpectRefused("good.mlpkg", "no longer valid");

  // Not a zip at all.
  dir.Write("junk.mlpkg", std::string("PK\x03\x04 cut short"));
  ExpectRefused("junk.mlpkg", "no sound package");
}

// flash --cpu and mcu-update take their image from the package: the CPU's from the bytes
// checked, the MCU's S-record prepared into tmp.bin as "prepare" makes it from the file.
TEST_F(PackageE2e, FlashAndMcuUpdateTakeTheirImageFromThePackage) {
  dir.Write("usb_firmware.S19", test::S19File(test::S19Image(test::Span(0xE600, 0xE640)), "\r\n"));
  ASSERT_EQ(Cli({"package", "create", "full.mlpkg", "--model", "INV-5K", "--release", "2.5",
                 "--sign-with", dir.File("release"), "Master.bin", "Slave.bin", "usb_firmware.S19"})
                .status,
            0);
  test::ProcessResult slave =
      Cli({"--simulate", "--quiet", "--package", "full.mlpkg", "flash", "--cpu", "slave"});
  EXPECT_EQ(slave.status, 0) << slave.out << slave.err;
  EXPECT_THAT(slave.out, HasSubstr(dir.File("full.mlpkg/Slave.bin")));
  EXPECT_EQ(Cli({"--simulate", "--package", "full.mlpkg", "flash", "Slave.bin"}).status, 2);

  test::ProcessResult mcu = Cli({"--simulate", "--quiet", "--package", "full.mlpkg", "mcu-update"});
  EXPECT_EQ(mcu.status, 0) << mcu.out << mcu.err;
  const std::vector<uint8_t> fromPackage = dir.Read("tmp.bin");
  ASSERT_EQ(Cli({"--simulate", "prepare", "usb_firmware.S19"}).status, 0);
  EXPECT_EQ(dir.Read("tmp.bin"), fromPackage);
}

// A station whose profile names a package instead of images: it starts only on a package
// it trusts for its model, programs each scanned unit from it and records the release. The
// line engineer's profile comes from station --init, which takes the package's model.
TEST_F(PackageE2e, StationRunsFromItsProfilesPackage) {
  ASSERT_EQ(Create("inv5k.mlpkg").status, 0);
  SimProcess unit(MORLANE_UNIT_SIM);
  ASSERT_TRUE(unit.Running());
  dir.Write("line1.toml",
            "procedure = \"auto\"\npackage = \"inv5k.mlpkg\"\nmodel = \"INV-3K\"\n"
            "trusted_keys = \"allowed_signers\"\n[[slot]]\nname = \"A\"\nport = \"" +
                unit.Path() + "\"\n");
  auto station = [&](const std::string& profile) {
    return RunProcess({MORLANE_CLI, "--events", dir.File("events.ndjson"), "station", "--profile",
                       dir.File(profile)},
                      dir.Path(), 60, "SN1\n");
  };
  test::ProcessResult refused = station("line1.toml");
  EXPECT_EQ(refused.status, 2) << refused.out << refused.err;
  EXPECT_THAT(refused.err, HasSubstr("refused: it is for the model INV-5K, not INV-3K"));

  auto init = [&](std::vector<std::string> model) {
    model.insert(model.end(), {"--package", "inv5k.mlpkg", "station", "--init", "line2.toml",
                               "--slot", "A=" + unit.Path()});
    return Cli(model);
  };
  test::ProcessResult wrongModel = init({"--model", "INV-3K"});
  EXPECT_EQ(wrongModel.status, 1) << wrongModel.out << wrongModel.err;
  EXPECT_THAT(wrongModel.err, HasSubstr("package inv5k.mlpkg refused: it is for the model"));
  EXPECT_FALSE(std::filesystem::exists(dir.File("line2.toml")));
  test::ProcessResult written = init({});
  ASSERT_EQ(written.status, 0) << written.out << written.err;
  std::vector<uint8_t> text = dir.Read("line2.toml");
  EXPECT_THAT(std::string(text.begin(), text.end()),
              HasSubstr("package = \"inv5k.mlpkg\"\nmodel = \"INV-5K\"\n"
                        "trusted_keys = \"allowed_signers\"\n"));

  test::ProcessResult ran = station("line2.toml");
  EXPECT_EQ(ran.status, 0) << ran.out << ran.err;
  EXPECT_THAT(ran.out, HasSubstr("A SN1 PASS"));
  std::vector<uint8_t> events = dir.Read("events.ndjson");
  EXPECT_THAT(std::string(events.begin(), events.end()),
              HasSubstr("\"type\":\"package\",\"unit\":\"A\""));
  test::ProcessResult listed =
      Cli({"--records", dir.File("records"), "records", "list", "--release", "2.4.1", "--json"});
  EXPECT_THAT(listed.out, HasSubstr("\"unit_id\": \"SN1\""));
  EXPECT_THAT(unit.Stop(), HasSubstr("cpu S: erased 1 times, 1 program frames"));
}

}  // namespace
}  // namespace morlane
