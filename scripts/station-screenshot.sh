#!/usr/bin/env bash
# Makes docs/station.png: the station's window maximised on a 1920x1080 screen (drawn
# offscreen), three fixtures each with a simulated unit of its own, started by presence
# with their labels scanned first. A's unit passes; B's refuses its erase and its tile says
# why and the profile's instruction; then a file that is not the approved one is copied
# over the slave's image and C's unit is put in: it fails at "image" and the station's
# fault goes across the top as a banner. Builds what it needs first.
#   scripts/station-screenshot.sh [BUILD_DIR]     (default: build/default)
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:-build/default}
cmake --build "$build" -j2 --target morlane morlane-unit-sim morlane-sample-images
program="$PWD/$build/src/gui/morlane"
unit_sim="$PWD/$build/src/morlane-unit-sim"
out="$PWD/docs/station.png"

work=$(mktemp -d)
pids=()
cleanup() {
  local status=$?
  # A picture not made: what the window said.
  if ((status != 0)); then cat "$work/window.err" >&2 2>/dev/null || true; fi
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
source scripts/wait-for.sh

"$build/examples/morlane-sample-images" "$work" >/dev/null

# A unit starts out of its fixture; "in" on its standard input puts it in. Each reads a
# pipe held open here, so that it waits for the next line rather than ending.
mkfifo "$work/a.in" "$work/b.in" "$work/c.in"
exec 7<>"$work/a.in" 8<>"$work/b.in" 9<>"$work/c.in"
"$unit_sim" --taken-out <"$work/a.in" >"$work/a.out" 2>&1 &
pids+=($!)
"$unit_sim" --taken-out --refuse-erase <"$work/b.in" >"$work/b.out" 2>&1 &
pids+=($!)
"$unit_sim" --taken-out <"$work/c.in" >"$work/c.out" 2>&1 &
pids+=($!)
for unit in a b c; do wait_for "$work/$unit.out" /dev/ 10; done
port() { head -n 1 "$work/$1.out"; }

sha() { sha256sum "$work/$1" | cut -c1-64; }
cat >"$work/line1.toml" <<EOF
station = "line1-st3"
procedure = "auto"
start = "presence"
presence_absent_s = 1
records = "records"
images = [ { file = "master.bin", sha256 = "$(sha master.bin)" },
           { file = "slave.bin", sha256 = "$(sha slave.bin)" } ]
[instructions]
erase = "Put the unit on the rework shelf"
image = "Call the line engineer: the images on this station changed"
[[slot]]
name = "A"
port = "$(port a)"
[[slot]]
name = "B"
port = "$(port b)"
[[slot]]
name = "C"
port = "$(port c)"
EOF

# The offscreen screen of a 24-inch station monitor, without a window frame.
cat >"$work/screen.json" <<EOF
{ "windowFrameMargins": false,
  "screens": [ { "name": "station", "x": 0, "y": 0, "width": 1920, "height": 1080,
                 "logicalDpi": 96, "logicalBaseDpi": 96, "dpr": 1.0 } ] }
EOF

# The shot comes this long after the window's start; the steps below take about half of it.
delay_s=35
(cd "$work" && QT_QPA_PLATFORM="offscreen:configfile=$work/screen.json" "$program" \
  --station line1.toml --events events.ndjson --operator "Dana Whitfield" \
  --scan "A SN-24-1001" --scan "B SN-24-1002" --scan "C SN-24-1003" \
  --screenshot "$out" --screenshot-delay-ms $((delay_s * 1000)) 2>"$work/window.err") &
window=$!
pids+=("$window")
started=$SECONDS
for ((i = 0; i < 100; i++)); do [[ -e "$work/events.ndjson" ]] && break; sleep 0.1; done

echo in >&7
echo in >&8
wait_for "$work/events.ndjson" '"type":"run_ended","unit":"B"' 60
wait_for "$work/events.ndjson" '"type":"run_ended","unit":"A"' 60
cp "$work/master.bin" "$work/slave.bin"
echo in >&9
wait_for "$work/events.ndjson" '"type":"run_ended","unit":"C"' 30
if ((SECONDS - started >= delay_s - 2)); then
  echo "station-screenshot: the shift took too long for the shot; raise delay_s" >&2
  exit 1
fi

wait "$window"
python3 scripts/png-squeeze.py "$out"
python3 - "$out" <<'EOF'
import struct, sys
with open(sys.argv[1], "rb") as f:
    width, height = struct.unpack(">II", f.read(24)[16:24])
if (width, height) != (1920, 1080):
    sys.exit(f"station-screenshot: the picture is {width}x{height}, not 1920x1080")
EOF
echo "screenshot: $out"
