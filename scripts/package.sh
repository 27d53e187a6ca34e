#!/usr/bin/env bash
# Sets up a new machine and builds the Debian package from scratch:
#   build/package/morlane_<version>_amd64.deb
# Install it with `sudo apt install ./build/package/morlane_<version>_amd64.deb`.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh

build=build/package
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DMORLANE_TESTS=OFF \
  -DMORLANE_BENCH=OFF -DMORLANE_GUI=ON
cmake --build "$build" -j 2
[[ -f $build/CPackConfig.cmake ]] ||
  { echo "package: no package without the window (Qt 6 not found)" >&2; exit 1; }
rm -f "$build"/morlane_*.deb
(cd "$build" && cpack -G DEB)
ls "$build"/morlane_*_amd64.deb
