#!/usr/bin/env bash
# Sets up a new machine, builds everything from scratch and runs every test with CTest.
#   scripts/test.sh          the Linux build and the Windows build, the latter's tests under
#                            Wine (warnings are errors)
#   scripts/test.sh asan     the Linux build under the address and undefined-behaviour
#                            sanitizers
#   scripts/test.sh tsan     the Linux build under the thread sanitizer
set -euo pipefail
cd "$(dirname "$0")/.."

preset=${1:-default}
bash scripts/setup.sh

cmake --preset "$preset" -DMORLANE_WERROR=ON
cmake --build --preset "$preset"
if [[ $preset != default ]]; then
  ctest --preset "$preset" -LE wine
  exit 0
fi

bash scripts/windows-sources.sh
cmake --preset windows -DMORLANE_WERROR=ON
cmake --build --preset windows
# The Wine whole runs are the Windows build's tests; the Linux run leaves them to it.
ctest --preset default -LE wine
ctest --preset windows
# The readers of outside bytes, fuzzed briefly; scripts/fuzz.sh runs them long.
bash scripts/fuzz.sh 10
