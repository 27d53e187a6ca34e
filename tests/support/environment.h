#pragma once

#include <optional>
#include <string>

namespace morlane::test {

// Sets (or, with nullopt, removes) one environment variable for a test and puts back
// what was there.
class ScopedEnvironment {
 public:
  ScopedEnvironment(const std::string& name, const std::optional<std::string>& value);
  ~ScopedEnvironment();
  ScopedEnvironment(const ScopedEnvironment&) = delete;
  ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

 private:
  std::string name_;
  std::optional<std::string> saved_;
};

// Sets or removes a variable of this process.
void SetEnvironment(const std::string& name, const std::optional<std::string>& value);

}  // namespace morlane::test
