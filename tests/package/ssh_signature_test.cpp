// Signatures made here with libgcrypt in the layout ssh-keygen writes, so that the reader's
// checks run on every system, Windows under Wine included, where there is no ssh-keygen.
#include <gcrypt.h>
#include <gtest/gtest.h>

#include "package/ssh_keys.h"
#include "package/ssh_signature.h"
#include "package/ssh_wire.h"

namespace morlane::package {
namespace {

std::vector<uint8_t> TokenBytes(gcry_sexp_t list, const char* name) {
  gcry_sexp_t token = gcry_sexp_find_token(list, name, 0);
  size_t length = 0;
  const char* data = gcry_sexp_nth_data(token, 1, &length);
  std::vector<uint8_t> bytes(data, data + length);
  gcry_sexp_release(token);
  return bytes;
}

std::string Armor(std::span<const uint8_t> body) {
  const std::string text = wire::Base64Encode(body, true);
  std::string armored = "-----BEGIN SSH SIGNATURE-----\n";
  for (size_t at = 0; at < text.size(); at += 70) armored += text.substr(at, 70) + "\n";
  return armored + "-----END SSH SIGNATURE-----\n";
}

class Ed25519Signer {
 public:
  Ed25519Signer() {
    keys::EnsureCrypto();
    gcry_sexp_t request = nullptr;
    gcry_sexp_build(&request, nullptr, "(genkey (ecc (curve Ed25519) (flags eddsa)))");
    gcry_pk_genkey(&pair_, request);
    gcry_sexp_release(request);
    wire::AppendString(&blob_, "ssh-ed25519");
    wire::AppendString(&blob_, TokenBytes(pair_, "q"));
  }
  ~Ed25519Signer() { gcry_sexp_release(pair_); }

  SshPublicKey Key() const { return {"ssh-ed25519", blob_}; }

  // The decoded body: SSHSIG, version, key, namespace, reserved, hash, signature value.
  std::vector<uint8_t> SignBody(std::string_view message, std::string_view nameSpace) const {
    std::vector<uint8_t> digest(64);
    gcry_md_hash_buffer(GCRY_MD_SHA512, digest.data(), message.data(), message.size());
    std::vector<uint8_t> signedData = {'S', 'S', 'H', 'S', 'I', 'G'};
    wire::AppendString(&signedData, nameSpace);
    wire::AppendString(&signedData, "");
    wire::AppendString(&signedData, "sha512");
    wire::AppendString(&signedData, digest);

    gcry_sexp_t data = nullptr, signature = nullptr;
    gcry_sexp_t secret = gcry_sexp_find_token(pair_, "private-key", 0);
    gcry_sexp_build(&data, nullptr, "(data (flags eddsa) (hash-algo sha512) (value %b))",
                    static_cast<int>(signedData.size()), signedData.data());
    gcry_pk_sign(&signature, data, secret);
    std::vector<uint8_t> rs = TokenBytes(signature, "r");
    const std::vector<uint8_t> s = TokenBytes(signature, "s");
    rs.insert(rs.end(), s.begin(), s.end());
    gcry_sexp_release(signature);
    gcry_sexp_release(data);
    gcry_sexp_release(secret);

    std::vector<uint8_t> value;
    wire::AppendString(&value, "ssh-ed25519");
    wire::AppendString(&value, rs);
    std::vector<uint8_t> body = {'S', 'S', 'H', 'S', 'I', 'G', 0, 0, 0, 1};
    wire::AppendString(&body, blob_);
    wire::AppendString(&body, nameSpace);
    wire::AppendString(&body, "");
    wire::AppendString(&body, "sha512");
    wire::AppendString(&body, value);
    return body;
  }

 private:
  gcry_sexp_t pair_ = nullptr;
  std::vector<uint8_t> blob_;
};

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
