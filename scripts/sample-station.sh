#!/usr/bin/env bash
# Writes DIR/line1.toml, a station profile for the sample images already in DIR (made by
# morlane-sample-images): three slots A, B and C on the ports PORT_FORMAT gives the numbers
# FIRST, FIRST+1 and FIRST+2 ("/dev/ttyUSB%d" 0, "COM%d" 3). The simulated units of
# --simulate-units stand in for those ports. A unit that fails its erase is put on the
# rework shelf.
#   scripts/sample-station.sh DIR PORT_FORMAT FIRST
set -euo pipefail
dir=$1 format=$2 n=$3
{
  echo 'station = "line1-st3"'
  echo 'procedure = "auto"'
  echo "images = [ { file = \"master.bin\", sha256 = \"$(sha256sum "$dir/master.bin" | cut -c1-64)\" },"
  echo "           { file = \"slave.bin\", sha256 = \"$(sha256sum "$dir/slave.bin" | cut -c1-64)\" } ]"
  echo '[instructions]'
  echo 'erase = "Put the unit on the rework shelf"'
  for slot in A B C; do
    # shellcheck disable=SC2059 # the format is the caller's
    printf "[[slot]]\nname = \"%s\"\nport = \"$format\"\n" "$slot" "$n"
    n=$((n + 1))
  done
} >"$dir/line1.toml"
