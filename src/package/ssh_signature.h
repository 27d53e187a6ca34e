#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace morlane::package {

// The namespace every package signature is made in; a signature made for another use of
// the same key (a commit, a file) is never taken for a package's.
inline constexpr std::string_view kSignatureNamespace = "morlane-package";

// An OpenSSH public key: its type ("ssh-ed25519", "ecdsa-sha2-nistp256") and its blob as
// it stands on the wire (string type, then the key's own fields), which the fingerprint
// and every comparison are made over.
struct SshPublicKey {
  std::string type;
  std::vector<uint8_t> blob;
  bool operator==(const SshPublicKey&) const = default;
};

// "SHA256:" and the unpadded base64 of the blob's SHA-256, as ssh-keygen -l prints it.
std::string Fingerprint(const SshPublicKey& key);

// "TYPE BASE64 [comment]" as in a .pub file or an allowed_signers line's key part. Only
// Ed25519 and ECDSA P-256 keys are taken; anything else is nullopt with the reason.
std::optional<SshPublicKey> ParsePublicKey(std::string_view text, std::string* why);

// An armored OpenSSH signature ("-----BEGIN SSH SIGNATURE-----"), as ssh-keygen -Y sign
// writes it.
struct SshSignature {
  SshPublicKey key;
  std::string nameSpace;
  std::string reserved;            // empty as ssh-keygen writes it, but signed over all the same
  std::string hashAlgorithm;       // "sha256" or "sha512"
  std::vector<uint8_t> signature;  // the signature blob: string type, then its fields
};
std::optional<SshSignature> ParseSignature(std::string_view armored, std::string* why);

// True when the signature is the signature's own key's over message in nameSpace. why
// says what did not hold ("the signature was made for the namespace \"git\"", "the
// signature does not match the manifest").
bool VerifySignature(const SshSignature& signature, std::span<const uint8_t> message,
                     std::string_view nameSpace, std::string* why);

// Who may sign: an OpenSSH allowed_signers file and the revoked_keys file beside it.
enum class TrustVerdict { Trusted, NotListed, WrongNamespace, NotYetValid, Expired, Revoked };
struct TrustDecision {
  TrustVerdict verdict = TrustVerdict::NotListed;
  std::string principal;  // the matching line's principals, when one matched
};

class AllowedSigners {
 public:
  // Reads PATH and, beside it, revoked_keys (absent: no key revoked). A line that cannot
  // be read is an error naming the file and the line, not a line skipped. *absent, when
  // given, says whether PATH itself is not there (most machines keep only one of the files).
  static std::optional<AllowedSigners> Load(const std::string& path, std::string* why,
                                            bool* absent = nullptr);
  // From text (tests, and a file already read).
  static std::optional<AllowedSigners> Parse(std::string_view allowedSigners,
                                             std::string_view revokedKeys, std::string* why);

  // The key's standing for nameSpace at now (seconds since the epoch, UTC).
  TrustDecision Decide(const SshPublicKey& key, std::string_view nameSpace, std::time_t now) const;
  size_t size() const { return entries_.size(); }

 private:
  // Parse, with the names its errors give the two files.
  static std::optional<AllowedSigners> ParseNamed(std::string_view allowedSigners,
                                                  std::string_view allowedName,
                                                  std::string_view revokedKeys,
                                                  std::string_view revokedName, std::string* why);

  struct Entry {
    std::string principals;
    SshPublicKey key;
    std::vector<std::string> namespaces;  // empty: every namespace
    std::optional<std::time_t> validAfter;
    std::optional<std::time_t> validBefore;
  };
  std::vector<Entry> entries_;
  std::vector<SshPublicKey> revoked_;
};

}  // namespace morlane::package
