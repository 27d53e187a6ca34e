#!/usr/bin/env bash
# Makes docs/window.png and docs/window-service.png: the window as it starts on the
# simulated unit, without and with the service view; and docs/station.png, a station of
# three slots on simulated units a few seconds after three labels were scanned, one unit
# refusing its erase; drawn offscreen, or under a virtual X
# server when xvfb-run is installed. Builds the window first if needed.
#   scripts/screenshot.sh [BUILD_DIR]     (default: build/default)
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:-build/default}
if [[ ! -f "$build/build.ninja" && ! -f "$build/Makefile" ]]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMORLANE_GUI=ON
fi
cmake --build "$build" -j2 --target morlane morlane-sample-images
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

station=$(mktemp -d)
trap 'rm -rf "$station"' EXIT
"$build/examples/morlane-sample-images" "$station" >/dev/null
scripts/sample-station.sh "$station" "/dev/ttyUSB%d" 0
shoot "$PWD/docs/station.png" --station "$station/line1.toml" --simulate-units 3 \
  --simulate-fault 2:refuse-erase --scan SN-1001 --scan "B SN-1002" --scan "C SN-1003" \
  --screenshot-delay-ms 9000
