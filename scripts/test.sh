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
# Each stage says how long it took, so that a slow one is seen in any CI log.
started=$SECONDS
took() { echo "test.sh: $1 took $((SECONDS - started)) s" >&2; started=$SECONDS; }
bash scripts/setup.sh
took "setting up"

cmake --preset "$preset" -DMORLANE_WERROR=ON
cmake --build --preset "$preset"
took "the $preset build"
if [[ $preset != default ]]; then
  ctest --preset "$preset" -LE wine
  exit 0
fi

# One stage at a time: the simulated units' timing (200 ms a frame, answers awaited within
# their windows) does not stand a build beside it on a machine of two cores, even one at the
# lowest priority.
ctest --preset default -LE wine
took "the Linux tests"
bash scripts/windows-sources.sh
cmake --preset windows -DMORLANE_WERROR=ON
cmake --build --preset windows
took "the Windows build"
ctest --preset windows
took "the Windows tests"
# The readers of outside bytes, fuzzed briefly (their build included); scripts/fuzz.sh runs
# them long.
bash scripts/fuzz.sh 10
took "fuzzing"
