#include "package/ssh_signature.h"

#include <gcrypt.h>

#include <algorithm>
#include <array>

#include "package/ssh_keys.h"
#include "package/ssh_wire.h"

namespace morlane::package {

namespace keys {

void EnsureCrypto() {
  // A function-local static is started exactly once even when threads race to it.
  static const bool started = [] {
    gcry_check_version(nullptr);
    // Only public keys are handled here; there is nothing for locked memory to protect.
    gcry_control(GCRYCTL_DISABLE_SECMEM, 0);
    gcry_control(GCRYCTL_INITIALIZATION_FINISHED, 0);
    return true;
  }();
  (void)started;
}

std::string_view NextWord(std::string_view* text) {
  const auto blank = [](char c) { return c == ' ' || c == '\t'; };
  size_t start = 0;
  while (start < text->size() && blank((*text)[start])) ++start;
  size_t end = start;
  while (end < text->size() && !blank((*text)[end])) ++end;
  const std::string_view word = text->substr(start, end - start);
  text->remove_prefix(end);
  return word;
}

namespace {

std::string WhyNotTaken(std::string_view type) {
  constexpr std::string_view kCertificate = "-cert-v01@openssh.com";
  if (type.size() > kCertificate.size() && type.ends_with(kCertificate)) {
    return "certificates (" + std::string(type) +
           ") are not taken; list the signer's own key instead";
  }
  if (type.starts_with("sk-")) {
    return "security-key keys (" + std::string(type) + ") are not taken";
  }
  return "the key type \"" + std::string(type) +
         "\" is not taken (only ssh-ed25519 and ecdsa-sha2-nistp256 are)";
}

}  // namespace

std::optional<SshPublicKey> FromBlob(std::span<const uint8_t> blob, std::string* why) {
  wire::Reader reader(blob);
  std::string type;
  if (!reader.Text(&type)) {
    *why = "the key is cut short";
    return std::nullopt;
  }
  if (type == kEd25519) {
    std::span<const uint8_t> point;
    if (!reader.String(&point) || point.size() != 32 || !reader.AtEnd()) {
      *why = "the ssh-ed25519 key is not 32 bytes";
      return std::nullopt;
    }
  } else if (type == kEcdsaP256) {
    std::string curve;
    std::span<const uint8_t> point;
    if (!reader.Text(&curve) || curve != "nistp256") {
      *why = "the ecdsa-sha2-nistp256 key does not name the curve nistp256";
      return std::nullopt;
    }
    // Only the uncompressed form (0x04, X, Y) is written for these keys.
    if (!reader.String(&point) || point.size() != 65 || point[0] != 0x04 || !reader.AtEnd()) {
      *why = "the ecdsa-sha2-nistp256 key's point is not 65 bytes in uncompressed form";
      return std::nullopt;
    }
  } else {
    *why = WhyNotTaken(type);
    return std::nullopt;
  }
  return SshPublicKey{type, std::vector<uint8_t>(blob.begin(), blob.end())};
}

KeyRead FromText(std::string_view type, std::string_view base64, SshPublicKey* key,
                 std::string* why) {
  if (type.empty() || base64.empty()) {
    *why = "no key type and base64 key";
    return KeyRead::Malformed;
  }
  const std::optional<std::vector<uint8_t>> blob = wire::Base64Decode(base64);
  if (!blob) {
    *why = "the key is not base64";
    return KeyRead::Malformed;
  }
  wire::Reader reader(*blob);
  std::string blobType;
  if (!reader.Text(&blobType) || blobType != type) {
    *why = "the key's blob is not a " + std::string(type) + " key";
    return KeyRead::Malformed;
  }
  if (type != kEd25519 && type != kEcdsaP256) {
    *key = SshPublicKey{std::string(type), *blob};
    *why = WhyNotTaken(type);
    return KeyRead::OtherType;
  }
  std::optional<SshPublicKey> parsed = FromBlob(*blob, why);
  if (!parsed) return KeyRead::Malformed;
  *key = std::move(*parsed);
  return KeyRead::Taken;
}

}  // namespace keys

namespace {

constexpr std::string_view kMagic = "SSHSIG";
constexpr std::string_view kBegin = "-----BEGIN SSH SIGNATURE-----";
constexpr std::string_view kEnd = "-----END SSH SIGNATURE-----";
// A signature with a key this tool takes is well under 1 KiB of text.
constexpr size_t kArmoredLimit = 64 * 1024;

bool Fail(std::string* why, std::string reason) {
  if (why) *why = std::move(reason);
  return false;
}

struct SignatureValue {
  std::string type;
  std::array<uint8_t, 64> ed25519{};  // R || S
  std::vector<uint8_t> r, s;          // ECDSA, unsigned big-endian without leading zeros
};

// An SSH mpint that must be a positive number of at most maxBytes.
bool ReadPositiveMpint(wire::Reader* reader, size_t maxBytes, std::vector<uint8_t>* out) {
  std::span<const uint8_t> raw;
  if (!reader->String(&raw)) return false;
  if (!raw.empty() && (raw[0] & 0x80) != 0) return false;  // negative
  while (!raw.empty() && raw[0] == 0) raw = raw.subspan(1);
  if (raw.empty() || raw.size() > maxBytes) return false;
  out->assign(raw.begin(), raw.end());
  return true;
}

std::optional<SignatureValue> ReadSignatureValue(std::span<const uint8_t> blob, std::string* why) {
  wire::Reader reader(blob);
  SignatureValue value;
  if (!reader.Text(&value.type)) {
    Fail(why, "the signature value is cut short");
    return std::nullopt;
  }
  std::span<const uint8_t> body;
  if (!reader.String(&body) || !reader.AtEnd()) {
    Fail(why, "the signature value is cut short or has bytes after its end");
    return std::nullopt;
  }
  if (value.type == keys::kEd25519) {
    if (body.size() != value.ed25519.size()) {
      Fail(why, "the ssh-ed25519 signature is not 64 bytes");
      return std::nullopt;
    }
    std::copy(body.begin(), body.end(), value.ed25519.begin());
  } else if (value.type == keys::kEcdsaP256) {
    wire::Reader numbers(body);
    if (!ReadPositiveMpint(&numbers, 32, &value.r) || !ReadPositiveMpint(&numbers, 32, &value.s) ||
        !numbers.AtEnd()) {
      Fail(why, "the ecdsa-sha2-nistp256 signature's r and s are not two numbers of the curve");
      return std::nullopt;
    }
  } else {
    Fail(why, "the signature type \"" + value.type + "\" is not taken");
    return std::nullopt;
  }
  return value;
}

std::optional<std::vector<uint8_t>> Digest(std::string_view algorithm,
                                           std::span<const uint8_t> bytes) {
  const int id = algorithm == "sha256"   ? GCRY_MD_SHA256
                 : algorithm == "sha512" ? GCRY_MD_SHA512
                                         : 0;
  if (id == 0) return std::nullopt;
  keys::EnsureCrypto();
  std::vector<uint8_t> digest(gcry_md_get_algo_dlen(id));
  gcry_md_hash_buffer(id, digest.data(), bytes.data(), bytes.size());
  return digest;
}

// Owns what gcry_sexp_build made.
struct Sexp {
  gcry_sexp_t value = nullptr;
  ~Sexp() { gcry_sexp_release(value); }
};
struct Mpi {
  gcry_mpi_t value = nullptr;
  ~Mpi() { gcry_mpi_release(value); }
};

gcry_error_t VerifyEd25519(const SignatureValue& value, std::span<const uint8_t> point,
                           std::span<const uint8_t> signedData) {
  Sexp key, data, sig;
  gcry_error_t error = gcry_sexp_build(&key.value, nullptr,
                                       "(public-key (ecc (curve Ed25519) (flags eddsa) (q %b)))",
                                       static_cast<int>(point.size()), point.data());
  if (!error) {
    error =
        gcry_sexp_build(&data.value, nullptr, "(data (flags eddsa) (hash-algo sha512) (value %b))",
                        static_cast<int>(signedData.size()), signedData.data());
  }
  if (!error) {
    error = gcry_sexp_build(&sig.value, nullptr, "(sig-val (eddsa (r %b) (s %b)))", 32,
                            value.ed25519.data(), 32, value.ed25519.data() + 32);
  }
  return error ? error : gcry_pk_verify(sig.value, data.value, key.value);
}

gcry_error_t VerifyEcdsaP256(const SignatureValue& value, std::span<const uint8_t> point,
                             std::span<const uint8_t> signedData) {
  const std::optional<std::vector<uint8_t>> digest = Digest("sha256", signedData);
  Sexp key, data, sig;
  Mpi r, s;
  gcry_error_t error =
      gcry_sexp_build(&key.value, nullptr, "(public-key (ecc (curve \"NIST P-256\") (q %b)))",
                      static_cast<int>(point.size()), point.data());
  if (!error) {
    error = gcry_sexp_build(&data.value, nullptr, "(data (flags raw) (value %b))",
                            static_cast<int>(digest->size()), digest->data());
  }
  if (!error) {
    error = gcry_mpi_scan(&r.value, GCRYMPI_FMT_USG, value.r.data(), value.r.size(), nullptr);
  }
  if (!error) {
    error = gcry_mpi_scan(&s.value, GCRYMPI_FMT_USG, value.s.data(), value.s.size(), nullptr);
  }
  if (!error) {
    error =
        gcry_sexp_build(&sig.value, nullptr, "(sig-val (ecdsa (r %m) (s %m)))", r.value, s.value);
  }
  return error ? error : gcry_pk_verify(sig.value, data.value, key.value);
}

}  // namespace

std::string Fingerprint(const SshPublicKey& key) {
  return "SHA256:" + wire::Base64Encode(*Digest("sha256", key.blob), false);
}

std::optional<SshPublicKey> ParsePublicKey(std::string_view text, std::string* why) {
  const std::string_view type = keys::NextWord(&text);
  const std::string_view base64 = keys::NextWord(&text);
  SshPublicKey key;
  std::string reason;
  if (keys::FromText(type, base64, &key, &reason) != keys::KeyRead::Taken) {
    Fail(why, reason);
    return std::nullopt;
  }
  return key;
}

std::optional<SshSignature> ParseSignature(std::string_view armored, std::string* why) {
  if (armored.size() > kArmoredLimit) {
    Fail(why, "the signature is larger than any signature could be");
    return std::nullopt;
  }
  const size_t begin = armored.find(kBegin);
  const size_t end =
      begin == std::string_view::npos ? begin : armored.find(kEnd, begin + kBegin.size());
  if (end == std::string_view::npos) {
    Fail(why, "not an SSH signature: no \"" + std::string(kBegin) + "\" ... \"" +
                  std::string(kEnd) + "\" block");
    return std::nullopt;
  }
  // The body is wrapped in lines; the line breaks (either system's) are not part of it.
  std::string body;
  for (char c : armored.substr(begin + kBegin.size(), end - begin - kBegin.size())) {
    if (c != '\n' && c != '\r') body += c;
  }
  const std::optional<std::vector<uint8_t>> bytes = wire::Base64Decode(body);
  if (!bytes) {
    Fail(why, "the signature's body is not base64");
    return std::nullopt;
  }

  wire::Reader reader(*bytes);
  std::span<const uint8_t> magic;
  uint32_t version = 0;
  if (!reader.Fixed(kMagic.size(), &magic) || wire::AsText(magic) != kMagic) {
    Fail(why, "the signature does not begin with SSHSIG");
    return std::nullopt;
  }
  if (!reader.U32(&version) || version != 1) {
    Fail(why, "the signature's version is not 1");
    return std::nullopt;
  }
  SshSignature signature;
  std::span<const uint8_t> keyBlob, value;
  if (!reader.String(&keyBlob) || !reader.Text(&signature.nameSpace) ||
      !reader.Text(&signature.reserved) || !reader.Text(&signature.hashAlgorithm) ||
      !reader.String(&value)) {
    Fail(why, "the signature is cut short");
    return std::nullopt;
  }
  if (!reader.AtEnd()) {
    Fail(why, "the signature has bytes after its end");
    return std::nullopt;
  }
  std::string reason;
  std::optional<SshPublicKey> key = keys::FromBlob(keyBlob, &reason);
  if (!key) {
    Fail(why, "the signature's key: " + reason);
    return std::nullopt;
  }
  signature.key = std::move(*key);
  if (signature.hashAlgorithm != "sha256" && signature.hashAlgorithm != "sha512") {
    Fail(why,
         "the signature's hash \"" + signature.hashAlgorithm + "\" is neither sha256 nor sha512");
    return std::nullopt;
  }
  signature.signature.assign(value.begin(), value.end());
  const std::optional<SignatureValue> parsed = ReadSignatureValue(signature.signature, why);
  if (!parsed) return std::nullopt;
  if (parsed->type != signature.key.type) {
    Fail(why,
         "the signature is a " + parsed->type + " signature but its key is " + signature.key.type);
    return std::nullopt;
  }
  return signature;
}

bool VerifySignature(const SshSignature& signature, std::span<const uint8_t> message,
                     std::string_view nameSpace, std::string* why) {
  if (signature.nameSpace != nameSpace) {
    return Fail(why, "the signature was made for the namespace \"" + signature.nameSpace +
                         "\", not \"" + std::string(nameSpace) + "\"");
  }
  // The signature may have been put together by hand rather than parsed: check again.
  std::string reason;
  const std::optional<SshPublicKey> key = keys::FromBlob(signature.key.blob, &reason);
  if (!key) return Fail(why, "the signature's key: " + reason);
  const std::optional<SignatureValue> value = ReadSignatureValue(signature.signature, why);
  if (!value) return false;
  if (value->type != key->type) {
    return Fail(why,
                "the signature is a " + value->type + " signature but its key is " + key->type);
  }
  const std::optional<std::vector<uint8_t>> messageDigest =
      Digest(signature.hashAlgorithm, message);
  if (!messageDigest) {
    return Fail(why, "the signature's hash \"" + signature.hashAlgorithm +
                         "\" is neither sha256 nor sha512");
  }

  std::vector<uint8_t> signedData(kMagic.begin(), kMagic.end());
  wire::AppendString(&signedData, signature.nameSpace);
  wire::AppendString(&signedData, signature.reserved);
  wire::AppendString(&signedData, signature.hashAlgorithm);
  wire::AppendString(&signedData, *messageDigest);

  // The key's point is its blob's last string; FromBlob has checked the layout.
  wire::Reader reader(key->blob);
  std::span<const uint8_t> field, point;
  while (reader.String(&field)) point = field;

  const gcry_error_t error = key->type == keys::kEd25519
                                 ? VerifyEd25519(*value, point, signedData)
                                 : VerifyEcdsaP256(*value, point, signedData);
  if (gcry_err_code(error) == GPG_ERR_BAD_SIGNATURE) {
    return Fail(why, "the signature does not match the manifest");
  }
  if (error) {
    return Fail(why, std::string("the signature could not be checked: ") + gcry_strerror(error));
  }
  return true;
}

}  // namespace morlane::package
