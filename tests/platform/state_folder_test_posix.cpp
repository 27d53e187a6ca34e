// Where the user's own state goes (the station's fallback folder under it): the system's
// base-directory rules, which take only an absolute XDG_STATE_HOME.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "platform/file_io.h"

namespace morlane {
namespace {

// Sets an environment variable for one test and puts it back after.
class EnvironmentValue {
 public:
  EnvironmentValue(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    if (value) {
      setenv(name, value, 1);
    } else {
      unsetenv(name);
    }
  }
  ~EnvironmentValue() {
    if (old_.empty()) {
      unsetenv(name_);
    } else {
      setenv(name_, old_.c_str(), 1);
    }
  }

 private:
  const char* name_;
  std::string old_;
};

TEST(UserStateFolder, TakesAnAbsoluteStateHomeElseTheHomesDefault) {
  EnvironmentValue home("HOME", "/home/tech");
  {
    EnvironmentValue state("XDG_STATE_HOME", "/var/lib/line1");
    EXPECT_EQ(UserStateFolder(), "/var/lib/line1/morlane");
  }
  {
    // Relative: it would put the runs wherever the station happened to start.
    EnvironmentValue state("XDG_STATE_HOME", "state");
    EXPECT_EQ(UserStateFolder(), "/home/tech/.local/state/morlane");
  }
  EnvironmentValue state("XDG_STATE_HOME", nullptr);
  EXPECT_EQ(UserStateFolder(), "/home/tech/.local/state/morlane");
  EnvironmentValue noHome("HOME", nullptr);
  EXPECT_EQ(UserStateFolder(), "");
}

}  // namespace
}  // namespace morlane
