#pragma once

#include <array>
#include <string>
#include <string_view>

namespace morlane::web {

// The token every request must carry when the dashboard listens beyond this machine: an
// "Authorization: Bearer TOKEN" header (scripts, other tools), or the cookie kCookieName
// holding the token, which the page sets once the person at the browser has typed it.
class AccessToken {
 public:
  // The cookie's name. Its value is the token, percent-encoded as a page's script encodes
  // a cookie value (encodeURIComponent).
  static constexpr const char* kCookieName = "morlane_token";
  // A token shorter than this is refused: a dashboard open to a network must not be
  // guarded by a word that can be guessed.
  static constexpr size_t kMinLength = 16;

  // The token from a file: its first line, blanks around it left out. false, with why, for
  // a file that cannot be read, or a token that is too short or holds a character a header
  // or a cookie cannot carry (only printable ASCII without blanks, ";", "," or quotes).
  static bool Read(const std::string& path, AccessToken* token, std::string* why);

  // Whether a request carries the token, given its Authorization and Cookie headers as
  // they came (empty when absent). The token is compared by digest in constant time: how
  // long a refusal takes says nothing of how much of a guess was right.
  bool Admits(std::string_view authorization, std::string_view cookies) const;

 private:
  bool Matches(std::string_view candidate) const;
  std::array<unsigned char, 32> digest_{};
};

}  // namespace morlane::web
