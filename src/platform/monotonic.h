#pragma once

#include <chrono>
#include <cstdint>

namespace morlane {

// Milliseconds on the system's monotonic scale, for deadlines that the wall clock must
// not move. Only differences mean anything.
inline int64_t MonotonicMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

}  // namespace morlane
