#include <cstdlib>

#include "support/environment.h"

namespace morlane::test {

// An empty value removes the variable, as the C runtime has no other way.
void SetEnvironment(const std::string& name, const std::optional<std::string>& value) {
  _putenv_s(name.c_str(), value ? value->c_str() : "");
}

}  // namespace morlane::test
