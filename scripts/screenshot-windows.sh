#!/usr/bin/env bash
# Makes docs/windows-window.png and docs/windows-window-service.png: the window of the
# Windows build (morlane.exe) as it starts on the simulated unit, its port box dropped
# down over the ports COM5 and COM40, and maximised with the service view (--service),
# under Wine on a virtual X server; and
# docs/windows-station.png, the station's view maximised on a 1920x1080 screen, three slots
# on simulated units after three labels were scanned: one unit refusing its erase, and a
# station fault. Builds it first if
# needed (the sample images come from the Linux build, build/default).
#   scripts/screenshot-windows.sh [BUILD_DIR]     (default: build/windows)
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:-build/windows}
if [[ ! -f "$build/build.ninja" ]]; then
  cmake -S . -B "$build" -G Ninja --toolchain cmake/mingw-w64-x86_64.cmake \
    -DCMAKE_BUILD_TYPE=Release
fi
cmake --build "$build" --target morlane
program="$build/src/win/morlane.exe"

mkdir -p docs
# A prefix of its own, whose user is "technician": the station's messages name folders of
# the user's profile, and the pictures show no name of the machine they were made on.
export MORLANE_WINEPREFIX=${MORLANE_WINEPREFIX:-$PWD/$build/wineprefix-shots}
export USER=technician LOGNAME=technician
# Each in a single-instance group of its own: a window the user has open is left alone.
# Wine shows the machine's root as drive Z:.
shoot() {
  local out="$PWD/docs/$1"
  shift
  cmake/wine-gui-run.sh "$program" "$@" --instance-tag "screenshot.$$" --screenshot "Z:$out"
  scripts/png-squeeze.py "$out"
  echo "screenshot: $out"
}
# The window with its port box dropped down: beside the simulated unit (COM1), the serial
# device map of the session holds COM5 and COM40 alone, as the drivers of two USB adapters
# would enter them, so that the list is the same on every machine.
map='HKLM\HARDWARE\DEVICEMAP\SERIALCOMM'
winprogram="Z:$(echo "$PWD/$program" | tr / '\\')"
cmake/wine-gui-run.sh cmd /c "reg delete $map /va /f >nul 2>&1 & \
reg add $map /v \\Device\\Serial4 /t REG_SZ /d COM5 /f >nul & \
reg add $map /v \\Device\\Serial39 /t REG_SZ /d COM40 /f >nul & \
$winprogram --simulate --instance-tag screenshot.$$ --screenshot-port-list \
--screenshot Z:$PWD/docs/windows-window.png"
scripts/png-squeeze.py docs/windows-window.png
echo "screenshot: $PWD/docs/windows-window.png"
shoot windows-window-service.png --simulate --service --screenshot-maximised

station=$(mktemp -d)
trap 'rm -rf "$station"' EXIT
cmake --build build/default --target morlane-sample-images
build/default/examples/morlane-sample-images "$station" >/dev/null
scripts/sample-station.sh "$station" "COM%d" 3
# Maximised on a line's screen: B's unit refuses its erase (its reason and the line's
# instruction on its tile); then the records folder stops taking runs (its runs folder
# becomes a file) while A's and C's units still run, a station fault: the banner across the
# top, and their runs kept in the fallback folder of the Wine prefix.
(sleep 12 && mv "$station/runs" "$station/runs.kept" && echo >"$station/runs") &
MORLANE_SCREEN=1920x1080 shoot windows-station.png --station "Z:$station/line1.toml" \
  --simulate-units 3 --simulate-fault 2:refuse-erase --scan SN-1001 --scan "B SN-1002" \
  --scan "C SN-1003" --screenshot-maximised --screenshot-delay-ms 30000
wait
