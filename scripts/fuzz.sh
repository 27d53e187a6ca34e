#!/usr/bin/env bash
# Builds the fuzz targets (preset "fuzz": clang, libFuzzer, address and undefined-behaviour
# sanitizers) and runs each for SECONDS (default 60), seeded from samples that the
# repository's generators write. Exits non-zero on a finding; the input that caused it is
# left in build/fuzz/findings/.
#   scripts/fuzz.sh [SECONDS]
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-60}
bash scripts/setup.sh
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz

build=build/fuzz
seeds=$build/seeds
rm -rf "$seeds"
mkdir -p "$seeds/bin_file_fuzz" "$seeds/s19_fuzz" "$seeds/report_descriptor_fuzz" \
  "$build/findings"
"$build/examples/make_inverter_images" "$seeds/bin_file_fuzz" >/dev/null
"$build/examples/make_s19" "$seeds/s19_fuzz.raw" >/dev/null 2>&1 || mkdir -p "$seeds/s19_fuzz.raw"
"$build/examples/make_s19" "$seeds/s19_fuzz.raw" >/dev/null
# The S-record target takes a settings byte before the file: 16-byte rows, nothing skipped.
for file in "$seeds/s19_fuzz.raw"/*; do
  { printf '\000'; cat "$file"; } >"$seeds/s19_fuzz/$(basename "$file")"
done
# A vendor-defined descriptor with 64-byte input and output reports, as the unit has.
printf '\006\000\377\011\001\241\001\025\000\046\377\000\165\010\225\100\011\001\201\002\225\100\011\001\221\002\300' \
  >"$seeds/report_descriptor_fuzz/unit"

status=0
for target in bin_file_fuzz s19_fuzz report_descriptor_fuzz; do
  corpus=$build/corpus/$target
  mkdir -p "$corpus"
  echo "fuzz: $target for ${seconds} s"
  if ! "$build/fuzz/$target" "$corpus" "$seeds/$target" -max_total_time="$seconds" \
    -max_len=4096 -print_final_stats=1 -artifact_prefix="$build/findings/$target-" \
    2>"$build/$target.log"; then
    echo "fuzz: $target found a fault:" >&2
    tail -40 "$build/$target.log" >&2
    status=1
  fi
  grep -E "stat::number_of_executed_units|stat::peak_rss_mb" "$build/$target.log" | sed "s/^/  /"
done
exit "$status"
