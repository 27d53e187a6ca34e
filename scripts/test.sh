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

# The Linux tests spend most of their time waiting on the unit's timing (200 ms a frame): the
# Windows build and the fuzz targets' build run beside them at the lowest CPU and disk
# priority, so that they take only what the tests leave. The Wine tests run alone after.
mkdir -p build
background() { nice -n 19 ionice -c 3 "$@"; }
(
  background bash scripts/windows-sources.sh &&
    background cmake --preset windows -DMORLANE_WERROR=ON &&
    background cmake --build --preset windows &&
    background cmake --preset fuzz &&
    background cmake --build --preset fuzz
) >build/beside-tests.log 2>&1 &
builds=$!
linux=0
# The Wine whole runs are the Windows build's tests; the Linux run leaves them to it.
ctest --preset default -LE wine || linux=$?
took "the Linux tests"
built=0
wait "$builds" || built=$?
took "the rest of the Windows and fuzz builds"
cat build/beside-tests.log
if ((built != 0)); then
  echo "test.sh: the Windows or fuzz build failed (above)" >&2
  exit "$built"
fi
if ((linux != 0)); then exit "$linux"; fi
ctest --preset windows
took "the Windows tests"
# The readers of outside bytes, fuzzed briefly; scripts/fuzz.sh runs them long.
bash scripts/fuzz.sh 10
took "fuzzing"
