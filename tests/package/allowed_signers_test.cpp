// Who may sign: allowed_signers lines with their options, revoked keys, and a malformed
// line named rather than skipped.
#include <gtest/gtest.h>

#include "package/ssh_signature.h"
#include "package/ssh_wire.h"

namespace morlane::package {
namespace {

// Keys told apart by a byte; allowed_signers never checks that they are points of a curve.
SshPublicKey Key(uint8_t fill) {
  SshPublicKey key{"ssh-ed25519", {}};
  wire::AppendString(&key.blob, "ssh-ed25519");
  wire::AppendString(&key.blob, std::vector<uint8_t>(32, fill));
  return key;
}
std::string KeyText(uint8_t fill) {
  return "ssh-ed25519 " + wire::Base64Encode(Key(fill).blob, true);
}

AllowedSigners Parsed(const std::string& allowed, const std::string& revoked = "") {
  std::string why;
  std::optional<AllowedSigners> signers = AllowedSigners::Parse(allowed, revoked, &why);
  EXPECT_TRUE(signers) << why;
  return signers.value_or(*AllowedSigners::Parse("", "", &why));
}

constexpr std::time_t k2030 = 1893456000;  // 2030-01-01T00:00:00Z

TEST(AllowedSignersTest, NamespacesPatternsAndQuotedPrincipals) {
  const AllowedSigners signers = Parsed(
      "# release signers\n"
      "\n"
      "\"Release Team\",ops@x NAMESPACES=\"morlane-*,!morlane-test\" " +
      KeyText(1) +
      " c\r\n"
      "dev@x namespaces=\"git\" " +
      KeyText(2) +
      "\n"
      "any@x " +
      KeyText(3) + "\n");
  EXPECT_EQ(signers.size(), 3u);
  const TrustDecision trusted = signers.Decide(Key(1), "morlane-package", k2030);
  EXPECT_EQ(trusted.verdict, TrustVerdict::Trusted);
  EXPECT_EQ(trusted.principal, "Release Team,ops@x");
  EXPECT_EQ(signers.Decide(Key(1), "morlane-test", k2030).verdict, TrustVerdict::WrongNamespace);
  EXPECT_EQ(signers.Decide(Key(2), "morlane-package", k2030).verdict, TrustVerdict::WrongNamespace);
  EXPECT_EQ(signers.Decide(Key(3), "morlane-package", k2030).verdict, TrustVerdict::Trusted);
  EXPECT_EQ(signers.Decide(Key(4), "morlane-package", k2030).verdict, TrustVerdict::NotListed);
}

TEST(AllowedSignersTest, ValidityHoldsFromAfterToBeforeInclusive) {
  const AllowedSigners signers =
      Parsed("a@x namespaces=\"git\" " + KeyText(1) +
             "\n"
             "a@x valid-after=\"20300101Z\",valid-before=\"203001020000Z\" " +
             KeyText(1) +
             "\n"
             "b@x valid-after=\"20300101000001Z\" " +
             KeyText(2) +
             "\n"
             "b@x namespaces=\"morlane-package\" " +
             KeyText(2) + "\n");
  const auto verdict = [&](uint8_t key, std::time_t now) {
    return signers.Decide(Key(key), "morlane-package", now).verdict;
  };
  // Out of time for this namespace tells more than the git line does.
  EXPECT_EQ(verdict(1, k2030 - 1), TrustVerdict::NotYetValid);
  EXPECT_EQ(verdict(1, k2030), TrustVerdict::Trusted);
  EXPECT_EQ(verdict(1, k2030 + 86400), TrustVerdict::Trusted);
  EXPECT_EQ(verdict(1, k2030 + 86401), TrustVerdict::Expired);
  // A later line naming the key trusts it when an earlier one does not.
  EXPECT_EQ(verdict(2, k2030), TrustVerdict::Trusted);
}

TEST(AllowedSignersTest, RevokedAndCertificateAuthorityKeysAreNeverTrusted) {
  std::vector<uint8_t> rsa;
  wire::AppendString(&rsa, "ssh-rsa");
  wire::AppendString(&rsa, std::vector<uint8_t>{1, 0, 1});
  const AllowedSigners signers =
      Parsed("a@x " + KeyText(1) + "\n" + "ca@x cert-authority " + KeyText(2) + "\n" +
                 "old@x ssh-rsa " + wire::Base64Encode(rsa, true) + "\n",
             "# gone\n" + KeyText(1) + " lost laptop\n");
  EXPECT_EQ(signers.Decide(Key(1), "morlane-package", k2030).verdict, TrustVerdict::Revoked);
  EXPECT_EQ(signers.Decide(Key(2), "morlane-package", k2030).verdict, TrustVerdict::NotListed);
}

TEST(AllowedSignersTest, AMalformedLineIsNamed) {
  const std::string good = "ok@x " + KeyText(1) + "\n";
  const struct {
    std::string allowed, revoked, named;
  } cases[] = {
      {good + "x@y nosuch=\"1\" " + KeyText(2), "", "allowed_signers line 2"},
      {good + "\"x@y " + KeyText(2), "", "allowed_signers line 2"},
      {good + "x@y valid-after=\"20301301Z\" " + KeyText(2), "", "allowed_signers line 2"},
      {good + "x@y valid-before=\"2030010\" " + KeyText(2), "", "allowed_signers line 2"},
      {good + "x@y namespaces=\"a,,b\" " + KeyText(2), "", "allowed_signers line 2"},
      {good + "x@y namespaces=\"git " + KeyText(2), "", "allowed_signers line 2"},
      {good + "x@y ssh-ed25519 AAAA*AAA", "", "allowed_signers line 2"},
      {good + "x@y", "", "allowed_signers line 2"},
      {good + "x@y ecdsa-sha2-nistp256 " + KeyText(2).substr(12), "", "allowed_signers line 2"},
      {good, "\n" + KeyText(2).substr(0, 30), "revoked_keys line 2"},
  };
  for (const auto& c : cases) {
    std::string why;
    EXPECT_FALSE(AllowedSigners::Parse(c.allowed, c.revoked, &why)) << c.allowed;
    EXPECT_EQ(why.rfind(c.named + ": ", 0), 0u) << why;
  }
}

}  // namespace
}  // namespace morlane::package
