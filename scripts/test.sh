#!/usr/bin/env bash
# Sets up a new machine, builds everything from scratch and runs every test with CTest.
#   scripts/test.sh          the default build (warnings are errors)
#   scripts/test.sh asan     the same under the address and undefined-behaviour sanitizers
set -euo pipefail
cd "$(dirname "$0")/.."

preset=${1:-default}
bash scripts/setup.sh

cmake --preset "$preset" -DMORLANE_WERROR=ON
cmake --build --preset "$preset"
ctest --preset "$preset"
