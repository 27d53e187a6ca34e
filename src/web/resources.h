#pragma once

#include <string_view>

namespace morlane::web {

// The files under page/, built into the program so that it serves them from wherever it
// is installed.
extern const std::string_view kDashboardPage;  // page/dashboard.html
extern const std::string_view kSignInPage;     // page/sign_in.html: the token asked once

}  // namespace morlane::web
