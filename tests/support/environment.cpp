#include "support/environment.h"

#include <cstdlib>

namespace morlane::test {

ScopedEnvironment::ScopedEnvironment(const std::string& name,
                                     const std::optional<std::string>& value)
    : name_(name) {
  if (const char* old = std::getenv(name.c_str())) saved_ = old;
  SetEnvironment(name, value);
}

ScopedEnvironment::~ScopedEnvironment() {
  SetEnvironment(name_, saved_);
}

}  // namespace morlane::test
