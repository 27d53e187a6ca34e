#pragma once

// An Ed25519 key made with libgcrypt and signatures laid out as ssh-keygen writes them, so
// that tests of signed packages run on every system, Windows under Wine included, where
// there is no ssh-keygen.
#include <gcrypt.h>

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "package/ssh_keys.h"
#include "package/ssh_signature.h"
#include "package/ssh_wire.h"

namespace morlane::package {

inline std::vector<uint8_t> TokenBytes(gcry_sexp_t list, const char* name) {
  gcry_sexp_t token = gcry_sexp_find_token(list, name, 0);
  size_t length = 0;
  const char* data = gcry_sexp_nth_data(token, 1, &length);
  std::vector<uint8_t> bytes(data, data + length);
  gcry_sexp_release(token);
  return bytes;
}

inline std::string Armor(std::span<const uint8_t> body) {
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

}  // namespace morlane::package
