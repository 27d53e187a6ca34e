// Signatures made here with libgcrypt in the layout ssh-keygen writes, so that the reader's
// checks run on every system, Windows under Wine included, where there is no ssh-keygen.
#include <gcrypt.h>
#include <gtest/gtest.h>

#include "package/ssh_keys.h"
#include "package/ssh_signature.h"
#include "package/ssh_wire.h"
#include "package/test_signer.h"

namespace morlane::package {
namespace {

std::span<const uint8_t> Bytes(std::string_view text) {
  return wire::AsBytes(text);
}

TEST(SshSignatureTest, OnlyTheSignedMessageNamespaceAndKeyPass) {
  const Ed25519Signer signer, stranger;
  const std::string armored = Armor(signer.SignBody("manifest", kSignatureNamespace));
  std::string why;
  std::optional<SshSignature> signature = ParseSignature(armored, &why);
  ASSERT_TRUE(signature) << why;
  EXPECT_EQ(signature->key, signer.Key());
  EXPECT_TRUE(VerifySignature(*signature, Bytes("manifest"), kSignatureNamespace, &why)) << why;

  EXPECT_FALSE(VerifySignature(*signature, Bytes("manifesT"), kSignatureNamespace, &why));
  EXPECT_NE(why.find("does not match"), std::string::npos) << why;

  std::optional<SshSignature> forGit =
      ParseSignature(Armor(signer.SignBody("manifest", "git")), &why);
  ASSERT_TRUE(forGit) << why;
  EXPECT_FALSE(VerifySignature(*forGit, Bytes("manifest"), kSignatureNamespace, &why));
  EXPECT_NE(why.find("\"git\""), std::string::npos) << why;

  // Another key put in front of the same signature value.
  signature->key = stranger.Key();
  EXPECT_FALSE(VerifySignature(*signature, Bytes("manifest"), kSignatureNamespace, &why));
  EXPECT_NE(why.find("does not match"), std::string::npos) << why;
}

TEST(SshSignatureTest, CutAndAlteredSignaturesAreRefusedWithAReason) {
  const Ed25519Signer signer;
  const std::vector<uint8_t> body = signer.SignBody("manifest", kSignatureNamespace);
  const auto refused = [](const std::string& armored) {
    std::string why;
    const std::optional<SshSignature> signature = ParseSignature(armored, &why);
    if (!signature) return !why.empty();
    return !VerifySignature(*signature, Bytes("manifest"), kSignatureNamespace, &why) &&
           !why.empty();
  };
  for (size_t length = 0; length < body.size(); ++length) {
    EXPECT_TRUE(refused(Armor(std::span(body).first(length)))) << "cut to " << length;
  }
  for (size_t at = 0; at < body.size(); ++at) {
    std::vector<uint8_t> altered = body;
    altered[at] ^= 0x01;
    EXPECT_TRUE(refused(Armor(altered))) << "byte " << at;
    // Lengths that point far past the end (and a byte that was 0xff changed all the same).
    altered[at] = body[at] == 0xff ? 0x7f : 0xff;
    EXPECT_TRUE(refused(Armor(altered))) << "byte " << at;
  }
  std::vector<uint8_t> trailing = body;
  trailing.push_back(0);
  EXPECT_TRUE(refused(Armor(trailing)));
  const std::string armored = Armor(body);
  for (size_t length = 0; length < armored.size(); length += 7) {
    EXPECT_TRUE(refused(armored.substr(0, length))) << "text cut to " << length;
  }
  EXPECT_TRUE(refused("-----BEGIN SSH SIGNATURE-----\n!!!!\n-----END SSH SIGNATURE-----\n"));
  EXPECT_TRUE(refused("-----END SSH SIGNATURE-----\n-----BEGIN SSH SIGNATURE-----\n"));
}

TEST(SshSignatureTest, PublicKeysOfOtherTypesAreRefusedByName) {
  const Ed25519Signer signer;
  const std::string text = "ssh-ed25519 " + wire::Base64Encode(signer.Key().blob, true) + " me@x";
  std::string why;
  EXPECT_EQ(ParsePublicKey(text, &why), signer.Key()) << why;

  std::vector<uint8_t> rsa;
  wire::AppendString(&rsa, "ssh-rsa");
  wire::AppendString(&rsa, std::vector<uint8_t>{1, 0, 1});
  EXPECT_FALSE(ParsePublicKey("ssh-rsa " + wire::Base64Encode(rsa, true), &why));
  EXPECT_NE(why.find("ssh-rsa"), std::string::npos) << why;
  // The text's type must be the blob's.
  EXPECT_FALSE(
      ParsePublicKey("ecdsa-sha2-nistp256 " + wire::Base64Encode(signer.Key().blob, true), &why));
  std::vector<uint8_t> shortKey;
  wire::AppendString(&shortKey, "ssh-ed25519");
  wire::AppendString(&shortKey, std::vector<uint8_t>(31, 7));
  EXPECT_FALSE(ParsePublicKey("ssh-ed25519 " + wire::Base64Encode(shortKey, true), &why));
}

}  // namespace
}  // namespace morlane::package
