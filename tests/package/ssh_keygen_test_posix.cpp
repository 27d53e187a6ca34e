// Signatures, keys and fingerprints made by ssh-keygen itself, read the way it reads them;
// and the files a technician keeps beside each other.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

#include "package/ssh_signature.h"
#include "support/process.h"

namespace morlane::package {
namespace {

std::string TextOf(const test::TempDir& dir, const std::string& name) {
  const std::vector<uint8_t> bytes = dir.Read(name);
  return std::string(bytes.begin(), bytes.end());
}

std::span<const uint8_t> Bytes(const std::string& text) {
  return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}

// A key made with ssh-keygen in dir, and a manifest signed with it.
struct SignedManifest {
  SignedManifest(const test::TempDir& dir, const std::string& name,
                 std::vector<std::string> keyType, const std::vector<std::string>& signOptions = {})
      : name(name), key(dir.File(name)), manifest(dir.File(name + ".json")) {
    keyType.insert(keyType.begin(),
                   {"/usr/bin/env", "ssh-keygen", "-q", "-N", "", "-C", "test", "-f", key});
    EXPECT_EQ(test::RunProcess(keyType).status, 0);
    dir.Write(name + ".json", std::string("{\"unit\": \"PCU-7\"}\n"));
    std::vector<std::string> sign = {"/usr/bin/env", "ssh-keygen",      "-Y", "sign",
                                     "-n",           "morlane-package", "-f", key};
    sign.insert(sign.end(), signOptions.begin(), signOptions.end());
    sign.push_back(manifest);
    EXPECT_EQ(test::RunProcess(sign).status, 0);
    publicText = TextOf(dir, name + ".pub");
    armored = TextOf(dir, name + ".json.sig");
  }
  std::string name, key, manifest, publicText, armored;
};

TEST(SshKeygenTest, ItsSignaturesVerifyAndItsFingerprintsMatch) {
  const test::TempDir dir;
  const SignedManifest ed25519(dir, "ed", {"-t", "ed25519"});
  const SignedManifest ecdsa(dir, "ec", {"-t", "ecdsa", "-b", "256"}, {"-O", "hashalg=sha256"});
  for (const SignedManifest* made : {&ed25519, &ecdsa}) {
    std::string why;
    const std::optional<SshSignature> signature = ParseSignature(made->armored, &why);
    ASSERT_TRUE(signature) << why;
    EXPECT_EQ(signature->key, ParsePublicKey(made->publicText, &why));
    const std::string manifest = TextOf(dir, made->name + ".json");
    EXPECT_TRUE(VerifySignature(*signature, Bytes(manifest), kSignatureNamespace, &why)) << why;
    const std::string listed = test::RunProcess({"/usr/bin/env", "ssh-keygen", "-l", "-E", "sha256",
                                                 "-f", made->key + ".pub"})
                                   .out;
    EXPECT_NE(listed.find(" " + Fingerprint(signature->key) + " "), std::string::npos) << listed;
  }
  EXPECT_EQ(ParseSignature(ecdsa.armored, nullptr)->hashAlgorithm, "sha256");
}

TEST(SshKeygenTest, ATamperedManifestIsRefusedHereAndByIt) {
  const test::TempDir dir;
  const SignedManifest made(dir, "ed", {"-t", "ed25519"});
  dir.Write("allowed_signers", "tester " + made.publicText);
  const auto itVerifies = [&](const std::string& manifest) {
    return test::RunProcess(
               {"/usr/bin/env", "ssh-keygen", "-Y", "verify", "-f", dir.File("allowed_signers"),
                "-I", "tester", "-n", "morlane-package", "-s", made.key + ".json.sig"},
               "", 60, manifest)
               .status == 0;
  };
  const std::string manifest = TextOf(dir, "ed.json");
  std::string tampered = manifest;
  tampered[3] ^= 0x20;
  std::string why;
  const std::optional<SshSignature> signature = ParseSignature(made.armored, &why);
  ASSERT_TRUE(signature) << why;
  EXPECT_TRUE(itVerifies(manifest));
  EXPECT_TRUE(VerifySignature(*signature, Bytes(manifest), kSignatureNamespace, &why));
  EXPECT_FALSE(itVerifies(tampered));
  EXPECT_FALSE(VerifySignature(*signature, Bytes(tampered), kSignatureNamespace, &why));
  EXPECT_NE(why.find("does not match"), std::string::npos) << why;
}

TEST(SshKeygenTest, FilesBesideEachOtherAreReadAndBounded) {
  const test::TempDir dir;
  const SignedManifest made(dir, "ed", {"-t", "ed25519"});
  std::string why;
  const SshPublicKey key = *ParsePublicKey(made.publicText, &why);
  dir.Write("allowed_signers", "tester " + made.publicText);
  // No revoked_keys: nothing is revoked.
  std::optional<AllowedSigners> signers = AllowedSigners::Load(dir.File("allowed_signers"), &why);
  ASSERT_TRUE(signers) << why;
  EXPECT_EQ(signers->Decide(key, kSignatureNamespace, std::time(nullptr)).verdict,
            TrustVerdict::Trusted);

  dir.Write("revoked_keys", made.publicText);
  signers = AllowedSigners::Load(dir.File("allowed_signers"), &why);
  ASSERT_TRUE(signers) << why;
  EXPECT_EQ(signers->Decide(key, kSignatureNamespace, std::time(nullptr)).verdict,
            TrustVerdict::Revoked);

  dir.Write("revoked_keys", "not a key\n");
  EXPECT_FALSE(AllowedSigners::Load(dir.File("allowed_signers"), &why));
  EXPECT_EQ(why, dir.File("revoked_keys") + " line 1: the key is not base64");

  dir.Write("allowed_signers", std::string(1024 * 1024 + 1, '#'));
  EXPECT_FALSE(AllowedSigners::Load(dir.File("allowed_signers"), &why));
  EXPECT_NE(why.find("larger than 1 MiB"), std::string::npos) << why;
}

TEST(SshKeygenTest, TimesWithoutZAreLocalAsItReadsThem) {
  const char* before = std::getenv("TZ");
  const std::string saved = before ? before : "";
  setenv("TZ", "ABC+03", 1);  // three hours west of UTC
  tzset();
  std::string why;
  const std::string key =
      "ssh-ed25519 AAAAC3NzaC1lZDI1NTE5AAAAIAEBAQEBAQEBAQEBAQEBAQEBAQEBAQEBAQEBAQEBAQEB";
  const std::optional<AllowedSigners> signers =
      AllowedSigners::Parse("a@x valid-after=\"20300101\" " + key, "", &why);
  ASSERT_TRUE(signers) << why;
  const SshPublicKey parsed = *ParsePublicKey(key, &why);
  const std::time_t localMidnight = 1893456000 + 3 * 3600;
  EXPECT_EQ(signers->Decide(parsed, kSignatureNamespace, localMidnight - 1).verdict,
            TrustVerdict::NotYetValid);
  EXPECT_EQ(signers->Decide(parsed, kSignatureNamespace, localMidnight).verdict,
            TrustVerdict::Trusted);
  if (before) {
    setenv("TZ", saved.c_str(), 1);
  } else {
    unsetenv("TZ");
  }
  tzset();
}

}  // namespace
}  // namespace morlane::package
