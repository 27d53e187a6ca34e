#!/usr/bin/env bash
# Makes docs/window.png and docs/window-service.png: the window as it starts on the
# simulated unit, without and with the service view, drawn offscreen, or under a virtual X
# server when xvfb-run is installed; and docs/station.png (scripts/station-screenshot.sh).
# Builds the window first if needed.
#   scripts/screenshot.sh [BUILD_DIR]     (default: build/default)
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:-build/default}
if [[ ! -f "$build/build.ninja" && ! -f "$build/Makefile" ]]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMORLANE_GUI=ON
fi
cmake --build "$build" -j2 --target morlane
program="$build/src/gui/morlane"

mkdir -p docs
shoot() {
  local out=$1
  shift
  # A single-instance group of its own: a window the user has open is left alone.
  local args=(--instance-tag "screenshot.$$" --screenshot "$out" "$@")
  if command -v xvfb-run >/dev/null 2>&1; then
    xvfb-run --auto-servernum --server-args="-screen 0 1280x800x24" \
      env -u WAYLAND_DISPLAY QT_QPA_PLATFORM=xcb "$program" "${args[@]}"
  else
    QT_QPA_PLATFORM=offscreen "$program" "${args[@]}"
  fi
  echo "screenshot: $out"
}
shoot "$PWD/docs/window.png" --simulate
shoot "$PWD/docs/window-service.png" --simulate --service

# The station's window has a shift of its own to drive.
scripts/station-screenshot.sh "$build"
