#!/usr/bin/env bash
# Makes docs/dashboard.png: the line's page in headless Chromium (driven by Selenium) over a
# PostgreSQL line database started for it. A past shift of synthetic runs from four stations
# (morlane-sample-shift) is sent to it as a station's backlog is sent; then two of those
# stations run on simulated units and feed it, one unit refusing its erase, and the page is
# shot while their other units burn. Builds what it needs first.
#   scripts/dashboard-screenshot.sh [BUILD_DIR]     (default: build/default)
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:-build/default}
cmake --build "$build" -j2 --target morlane-cli sample_images sample_shift >/dev/null
cli="$PWD/$build/src/morlane-cli"
out="$PWD/docs/dashboard.png"

work=$(mktemp -d)
pids=()
cleanup() {
  # The stations end with their scanners' input, the rest when told.
  exec 7>&- 8>&-
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  bash tests/support/pg_server.sh stop "$work/pg" >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT

source scripts/wait-for.sh

port=$((20000 + RANDOM % 20000))
bash tests/support/pg_server.sh start "$work/pg" "$port"
line="postgresql://morlane@127.0.0.1:$port/postgres"

"$build/examples/morlane-sample-shift" "$work/history" 1500 10 4 >/dev/null
"$cli" --records "$work/history" --records-db "$line" records push >/dev/null
"$build/examples/morlane-sample-images" "$work" >/dev/null
sha() { sha256sum "$work/$1" | cut -c1-64; }

# Two stations of the line, four fixtures each, on simulated units; the scanner's lines come
# through a pipe held open here.
for station in 1 2; do
  cat >"$work/st$station.toml" <<PROFILE
station = "line1-st$station"
procedure = "auto"
records = "records-st$station"
images = [ { file = "master.bin", sha256 = "$(sha master.bin)" },
           { file = "slave.bin", sha256 = "$(sha slave.bin)" } ]
[[slot]]
name = "A"
port = "/dev/ttyS0"
[[slot]]
name = "B"
port = "/dev/ttyS1"
[[slot]]
name = "C"
port = "/dev/ttyS2"
[[slot]]
name = "D"
port = "/dev/ttyS3"
PROFILE
  mkfifo "$work/st$station.in"
done
exec 7<>"$work/st1.in" 8<>"$work/st2.in"
(cd "$work" && exec "$cli" --simulate-units 4 --simulate-fault 2:refuse-erase --records-db "$line" \
  --operator "Dana Whitfield" station --profile st1.toml <st1.in >st1.out 2>st1.err) &
pids+=($!)
(cd "$work" && exec "$cli" --simulate-units 4 --records-db "$line" --operator "Ravi Menon" \
  station --profile st2.toml <st2.in >st2.out 2>st2.err) &
pids+=($!)

"$cli" --records-db "$line" dashboard --listen 127.0.0.1:0 >"$work/dashboard.out" \
  2>"$work/dashboard.err" &
pids+=($!)
wait_for "$work/dashboard.out" "dashboard: serving " 30
page=$(grep -o 'http://[^ ]*' "$work/dashboard.out" | head -n 1)

# A first round ends (B's unit refusing its erase); the second is under way for the shot.
for slot in A B C D; do echo "$slot SN-24-20$slot" >&7; done
for slot in A B C; do echo "$slot SN-24-30$slot" >&8; done
wait_for "$work/st1.out" "B SN-24-20B FAIL" 60
for slot in A C D; do wait_for "$work/st1.out" "$slot SN-24-20$slot PASS" 60; done
for slot in A B C; do wait_for "$work/st2.out" "$slot SN-24-30$slot PASS" 60; done
for slot in A C D; do echo "$slot SN-24-21$slot" >&7; done
for slot in A B C D; do echo "$slot SN-24-31$slot" >&8; done
sleep 3

if /usr/bin/python3 - "$page" "$out" <<'SHOT'
import sys
sys.path.insert(0, "tests/web")
import headless
from selenium.webdriver.support.ui import WebDriverWait

driver = headless.chromium(1600, 1500, "--hide-scrollbars")
try:
    driver.get(sys.argv[1])
    WebDriverWait(driver, 30, poll_frequency=0.1).until(lambda d: d.execute_script(
        "return performance.getEntriesByName('morlane-drawn').length > 0"
        " && document.querySelectorAll('.slot.running').length > 0"))
    # Chart.js animates its first drawing.
    driver.execute_script("return new Promise(done => setTimeout(done, 1500))")
    driver.save_screenshot(sys.argv[2])
finally:
    driver.quit()
SHOT
then
  :
else
  tail -n 5 "$work"/st1.out "$work"/st1.err "$work"/st2.err "$work"/dashboard.err >&2
  exit 1
fi
python3 scripts/png-squeeze.py "$out"
echo "screenshot: $out"
