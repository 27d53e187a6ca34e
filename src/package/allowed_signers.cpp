#include <algorithm>
#include <filesystem>
#include <system_error>

#include "package/ssh_keys.h"
#include "package/ssh_signature.h"
#include "platform/clock.h"
#include "platform/file_io.h"
#include "platform/utf8_path.h"

namespace morlane::package {

namespace {

// Either file is a few lines per signer; anything this large is not one.
constexpr uint64_t kFileLimit = 1024 * 1024;

void SetWhy(std::string* why, std::string reason) {
  if (why) *why = std::move(reason);
}

std::string Lower(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return lower;
}

// '*' any run of characters, '?' any one. Backtracks only to the last '*', so hostile
// patterns cost at most length × length steps.
bool MatchPattern(std::string_view pattern, std::string_view text) {
  size_t p = 0, t = 0;
  size_t starAt = std::string_view::npos, resumeAt = 0;
  while (t < text.size()) {
    if (p < pattern.size() && (pattern[p] == '?' || pattern[p] == text[t])) {
      ++p;
      ++t;
    } else if (p < pattern.size() && pattern[p] == '*') {
      starAt = p++;
      resumeAt = t;
    } else if (starAt != std::string_view::npos) {
      p = starAt + 1;
      t = ++resumeAt;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

// A list of patterns matches when one of them does and no negated one ("!pattern") does:
// "*,!git" is every namespace but git's.
bool MatchPatternList(const std::vector<std::string>& patterns, std::string_view text) {
  bool matched = false;
  for (const std::string& pattern : patterns) {
    if (pattern.starts_with('!')) {
      if (MatchPattern(std::string_view(pattern).substr(1), text)) return false;
    } else if (MatchPattern(pattern, text)) {
      matched = true;
    }
  }
  return matched;
}

std::vector<std::string_view> SplitOutsideQuotes(std::string_view text, char separator) {
  std::vector<std::string_view> parts;
  bool quoted = false;
  size_t start = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '"') quoted = !quoted;
    if (text[i] == separator && !quoted) {
      parts.push_back(text.substr(start, i - start));
      start = i + 1;
    }
  }
  parts.push_back(text.substr(start));
  return parts;
}

int64_t DaysFromCivil(int year, int month, int day) {
  // Days since 1970-01-01 in the proleptic Gregorian calendar, counted from March so that
  // the leap day falls at the end of a year.
  year -= month <= 2 ? 1 : 0;
  const int era = year / 400;
  const int yearOfEra = year - era * 400;
  const int dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const int dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return int64_t{era} * 146097 + dayOfEra - 719468;
}

// YYYYMMDD[HHMM[SS]][Z]. With Z the time is UTC; without it, it is this machine's local
// time, as ssh-keygen reads the same file, so that both agree on when a key is valid.
std::optional<std::time_t> ParseTime(std::string_view text, std::string* why) {
  const bool utc = text.ends_with('Z');
  if (utc) text.remove_suffix(1);
  const bool digits =
      !text.empty() && text.find_first_not_of("0123456789") == std::string_view::npos;
  if (!digits || (text.size() != 8 && text.size() != 12 && text.size() != 14)) {
    SetWhy(why, "the time \"" + std::string(text) + "\" is not YYYYMMDD[HHMM[SS]][Z]");
    return std::nullopt;
  }
  const auto number = [&](size_t at, size_t length) {
    int value = 0;
    for (size_t i = at; i < at + length && i < text.size(); ++i)
      value = value * 10 + (text[i] - '0');
    return value;
  };
  const int year = number(0, 4), month = number(4, 2), day = number(6, 2);
  const int hour = number(8, 2), minute = number(10, 2), second = number(12, 2);
  // The local conversion checks the calendar; UTC is checked by it too, then computed here
  // so that no time zone enters.
  const int64_t local = LocalCalendarSeconds(year, month, day, hour, minute, second);
  if (local < 0) {
    SetWhy(why, "the time \"" + std::string(text) + "\" is no date and time from 1970 to 9999");
    return std::nullopt;
  }
  if (!utc) return static_cast<std::time_t>(local);
  return static_cast<std::time_t>(DaysFromCivil(year, month, day) * 86400 + hour * 3600 +
                                  minute * 60 + second);
}

// An option's value, quoted or not; nullopt when its quotes are not a pair around it.
std::optional<std::string_view> Unquote(std::string_view value) {
  if (value.starts_with('"')) {
    if (value.size() < 2 || !value.ends_with('"')) return std::nullopt;
    value = value.substr(1, value.size() - 2);
  }
  if (value.find('"') != std::string_view::npos) return std::nullopt;
  return value;
}

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

// The next field of a line: it ends at the first blank outside double quotes, since a quoted
// part ("Release Team", namespaces="a, b") may hold blanks. False when a quote is left open.
bool NextQuotedField(std::string_view* line, std::string_view* field) {
  while (!line->empty() && IsBlank(line->front())) line->remove_prefix(1);
  bool quoted = false;
  size_t end = 0;
  for (; end < line->size() && (quoted || !IsBlank((*line)[end])); ++end) {
    if ((*line)[end] == '"') quoted = !quoted;
  }
  *field = line->substr(0, end);
  line->remove_prefix(end);
  return !quoted;
}

template <typename Fn>
bool ForEachLine(std::string_view text, std::string_view name, std::string* why, Fn&& readLine) {
  size_t number = 0;
  while (!text.empty()) {
    ++number;
    const size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    if (line.ends_with('\r')) line.remove_suffix(1);
    while (!line.empty() && IsBlank(line.front())) line.remove_prefix(1);
    if (line.empty() || line.front() == '#') continue;
    std::string reason;
    if (!readLine(line, &reason)) {
      SetWhy(why, std::string(name) + " line " + std::to_string(number) + ": " + reason);
      return false;
    }
  }
  return true;
}

std::string DirectoryOf(const std::string& path) {
  const size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// "" when read, else the reason; absent is told apart so that a missing revoked_keys can
// mean "none revoked" while one that is there but unreadable stops the load.
std::string ReadBounded(const std::string& path, std::string* text, bool* absent) {
  *absent = false;
  switch (ReadWholeFile(path, text, kFileLimit)) {
    case WholeFile::Read:
      return "";
    case WholeFile::TooLarge:
      return path + " is larger than 1 MiB";
    case WholeFile::Failed:
      return path + " could not be read";
    case WholeFile::NotOpened:
      break;
  }
  std::error_code error;
  if (!std::filesystem::exists(PathFromUtf8(path), error) && !error) {
    *absent = true;
    return path + " does not exist";
  }
  return path + " could not be opened (not a plain file, or held by another program)";
}

}  // namespace

std::optional<AllowedSigners> AllowedSigners::Parse(std::string_view allowedSigners,
                                                    std::string_view revokedKeys,
                                                    std::string* why) {
  return ParseNamed(allowedSigners, "allowed_signers", revokedKeys, "revoked_keys", why);
}

std::optional<AllowedSigners> AllowedSigners::ParseNamed(std::string_view allowedSigners,
                                                         std::string_view allowedName,
                                                         std::string_view revokedKeys,
                                                         std::string_view revokedName,
                                                         std::string* why) {
  AllowedSigners signers;
  const auto readSigner = [&](std::string_view line, std::string* reason) {
    Entry entry;
    std::string_view field;
    if (!NextQuotedField(&line, &field)) {
      *reason = "the principals' quotes are not closed";
      return false;
    }
    for (char c : field) {
      if (c != '"') entry.principals += c;
    }
    if (entry.principals.empty()) {
      *reason = "no principals";
      return false;
    }

    // Options, when there are any, stand between the principals and the key type.
    if (!NextQuotedField(&line, &field)) {
      *reason = "the options' quotes are not closed";
      return false;
    }
    const bool hasOptions =
        field.find_first_of("=\",") != std::string_view::npos || Lower(field) == "cert-authority";
    bool certAuthority = false;
    if (!hasOptions) {
      line = std::string_view(field.data(), line.data() + line.size() - field.data());
    } else {
      std::vector<std::string> seen;
      for (std::string_view option : SplitOutsideQuotes(field, ',')) {
        const size_t equals = option.find('=');
        const std::string name = Lower(option.substr(0, equals));
        if (std::find(seen.begin(), seen.end(), name) != seen.end()) {
          *reason = "the option \"" + name + "\" is given twice";
          return false;
        }
        seen.push_back(name);
        if (name == "cert-authority" && equals == std::string_view::npos) {
          certAuthority = true;
          continue;
        }
        if (name != "namespaces" && name != "valid-after" && name != "valid-before") {
          *reason = "unknown option \"" + std::string(option.substr(0, equals)) + "\"";
          return false;
        }
        const std::optional<std::string_view> value =
            equals == std::string_view::npos ? std::nullopt : Unquote(option.substr(equals + 1));
        if (!value || value->empty()) {
          *reason = "the option " + name + " needs a value in quotes";
          return false;
        }
        if (name == "namespaces") {
          for (std::string_view pattern : SplitOutsideQuotes(*value, ',')) {
            if (pattern.empty() || pattern == "!") {
              *reason = "an empty namespace in \"" + std::string(*value) + "\"";
              return false;
            }
            entry.namespaces.emplace_back(pattern);
          }
        } else {
          const std::optional<std::time_t> when = ParseTime(*value, reason);
          if (!when) return false;
          (name == "valid-after" ? entry.validAfter : entry.validBefore) = *when;
        }
      }
    }

    const std::string_view type = keys::NextWord(&line);
    const std::string_view base64 = keys::NextWord(&line);
    if (type.empty() || base64.empty()) {
      *reason = "no key type and base64 key after the principals";
      return false;
    }
    // A key of a type never verified here is no error in a file other tools read too;
    // its line simply can never match a signature's key.
    if (keys::FromText(type, base64, &entry.key, reason) == keys::KeyRead::Malformed) {
      return false;
    }
    // A certificate authority's key vouches for certificates, and certificates are not
    // taken here: such a line is read, so that its mistakes are still reported, but it
    // never trusts a key by itself.
    if (!certAuthority) signers.entries_.push_back(std::move(entry));
    return true;
  };
  if (!ForEachLine(allowedSigners, allowedName, why, readSigner)) return std::nullopt;

  const auto readRevoked = [&](std::string_view line, std::string* reason) {
    const std::string_view type = keys::NextWord(&line);
    const std::string_view base64 = keys::NextWord(&line);
    SshPublicKey key;
    if (keys::FromText(type, base64, &key, reason) == keys::KeyRead::Malformed) return false;
    signers.revoked_.push_back(std::move(key));
    return true;
  };
  if (!ForEachLine(revokedKeys, revokedName, why, readRevoked)) return std::nullopt;
  return signers;
}

std::optional<AllowedSigners> AllowedSigners::Load(const std::string& path, std::string* why,
                                                   bool* allowedAbsent) {
  std::string allowed, revoked;
  bool absent = false;
  std::string reason = ReadBounded(path, &allowed, &absent);
  if (allowedAbsent) *allowedAbsent = absent;
  if (!reason.empty()) {
    SetWhy(why, reason);
    return std::nullopt;
  }
  const std::string revokedPath = DirectoryOf(path) + "revoked_keys";
  reason = ReadBounded(revokedPath, &revoked, &absent);
  if (!reason.empty() && !absent) {
    SetWhy(why, reason);
    return std::nullopt;
  }
  return ParseNamed(allowed, path, absent ? std::string_view() : std::string_view(revoked),
                    revokedPath, why);
}

TrustDecision AllowedSigners::Decide(const SshPublicKey& key, std::string_view nameSpace,
                                     std::time_t now) const {
  for (const SshPublicKey& revoked : revoked_) {
    if (revoked == key) return {TrustVerdict::Revoked, ""};
  }
  // A line that names the key for this namespace but at another time tells more than one
  // for another namespace, and either more than the key not being listed at all.
  std::optional<TrustVerdict> outOfTime;
  bool named = false;
  for (const Entry& entry : entries_) {
    if (entry.key != key) continue;
    named = true;
    if (!entry.namespaces.empty() && !MatchPatternList(entry.namespaces, nameSpace)) continue;
    if (entry.validAfter && now < *entry.validAfter) {
      if (!outOfTime) outOfTime = TrustVerdict::NotYetValid;
      continue;
    }
    if (entry.validBefore && now > *entry.validBefore) {
      if (!outOfTime) outOfTime = TrustVerdict::Expired;
      continue;
    }
    return {TrustVerdict::Trusted, entry.principals};
  }
  if (outOfTime) return {*outOfTime, ""};
  return {named ? TrustVerdict::WrongNamespace : TrustVerdict::NotListed, ""};
}

}  // namespace morlane::package
