#include "web/access_token.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>

#include <cctype>
#include <cstdint>

#include "platform/file_io.h"

namespace morlane::web {

namespace {

// A token file is a line; anything larger is no token file.
constexpr uint64_t kTokenFileLimit = 4096;

std::array<unsigned char, 32> Digest(std::string_view text) {
  std::array<unsigned char, 32> digest{};
  unsigned int length = 0;
  EVP_Digest(text.data(), text.size(), digest.data(), &length, EVP_sha256(), nullptr);
  return digest;
}

std::string_view Trimmed(std::string_view text) {
  const size_t first = text.find_first_not_of(" \t\r\n");
  if (first == std::string_view::npos) return {};
  const size_t last = text.find_last_not_of(" \t\r\n");
  return text.substr(first, last - first + 1);
}

bool CookieSafe(char c) {
  return c > 0x20 && c < 0x7f && c != ';' && c != ',' && c != '"' && c != '\\';
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// %XX decoded; a broken escape is kept as it stands and so never matches a token.
std::string PercentDecoded(std::string_view text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 &&
        HexValue(text[i + 2]) >= 0) {
      out += static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

}  // namespace

bool AccessToken::Read(const std::string& path, AccessToken* token, std::string* why) {
  std::string contents;
  switch (ReadWholeFile(path, &contents, kTokenFileLimit)) {
    case WholeFile::Read:
      break;
    case WholeFile::TooLarge:
      *why = path + " is no token file: it holds more than a line";
      return false;
    default:
      *why = path + " cannot be read";
      return false;
  }
  const std::string_view line = Trimmed(std::string_view(contents).substr(0, contents.find('\n')));
  if (line.size() < kMinLength) {
    *why = path + " holds no token of " + std::to_string(kMinLength) +
           " characters or more on its first line";
    return false;
  }
  for (char c : line) {
    if (!CookieSafe(c)) {
      *why =
          path + ": a token is printable ASCII without blanks, quotes, backslashes, \";\" or \",\"";
      return false;
    }
  }
  token->digest_ = Digest(line);
  return true;
}

bool AccessToken::Matches(std::string_view candidate) const {
  const std::array<unsigned char, 32> digest = Digest(candidate);
  return CRYPTO_memcmp(digest.data(), digest_.data(), digest.size()) == 0;
}

bool AccessToken::Admits(std::string_view authorization, std::string_view cookies) const {
  bool admitted = false;
  // The scheme's name is taken in any case, as HTTP says.
  constexpr std::string_view kBearer = "bearer ";
  if (authorization.size() > kBearer.size()) {
    bool bearer = true;
    for (size_t i = 0; i < kBearer.size(); ++i) {
      bearer = bearer && std::tolower(static_cast<unsigned char>(authorization[i])) == kBearer[i];
    }
    if (bearer) admitted = Matches(Trimmed(authorization.substr(kBearer.size())));
  }
  // Every cookie of that name is tried: another page of the same host may have set one too.
  const std::string prefix = std::string(kCookieName) + "=";
  while (!cookies.empty()) {
    const size_t end = cookies.find(';');
    const std::string_view cookie = Trimmed(cookies.substr(0, end));
    if (cookie.substr(0, prefix.size()) == prefix) {
      admitted = Matches(PercentDecoded(cookie.substr(prefix.size()))) || admitted;
    }
    if (end == std::string_view::npos) break;
    cookies.remove_prefix(end + 1);
  }
  return admitted;
}

}  // namespace morlane::web
