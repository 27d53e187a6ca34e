#!/usr/bin/env bash
# Builds the fuzz targets (preset "fuzz": clang, libFuzzer, address and undefined-behaviour
# sanitizers) and runs each for SECONDS (default 60), seeded from samples that the
# repository's generators write. Exits non-zero on a finding; the input that caused it is
# left in build/fuzz/findings/. The corpora grow in build/fuzz/corpus/ from run to run, and
# build/fuzz/executions.txt adds up the executions of every run per target.
#   scripts/fuzz.sh [SECONDS [TARGET...]]
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-60}
shift || true
targets=("$@")
if ((${#targets[@]} == 0)); then
  targets=(bin_file_fuzz s19_fuzz report_descriptor_fuzz bootloader_fuzz hid_reply_fuzz
    serial_line_fuzz package_fuzz)
fi
# A smaller quarantine than the address sanitizer's default: the whole-run targets free a
# dialog per input, and page faults on fresh quarantine memory cost more than the runs.
# Sample files and scratch folders in memory where the system has such a folder.
if [[ -z ${TMPDIR:-} && -d /dev/shm && -w /dev/shm ]]; then export TMPDIR=/dev/shm; fi
export ASAN_OPTIONS=${ASAN_OPTIONS:-quarantine_size_mb=16:malloc_context_size=10}
bash scripts/setup.sh
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz

# Absolute: the whole-run targets work in a scratch folder of their own.
build=$PWD/build/fuzz
seeds=$build/seeds
rm -rf "$seeds"
for target in "${targets[@]}"; do mkdir -p "$seeds/$target"; done
mkdir -p "$build/findings" "$seeds/bin_file_fuzz" "$seeds/s19_fuzz" "$seeds/report_descriptor_fuzz"
"$build/examples/morlane-sample-images" "$seeds/bin_file_fuzz" >/dev/null
"$build/examples/make_s19" "$seeds/s19_fuzz.raw" >/dev/null 2>&1 || mkdir -p "$seeds/s19_fuzz.raw"
"$build/examples/make_s19" "$seeds/s19_fuzz.raw" >/dev/null
# The S-record target takes a settings byte before the file: 16-byte rows, nothing skipped.
for file in "$seeds/s19_fuzz.raw"/*; do
  { printf '\000'; cat "$file"; } >"$seeds/s19_fuzz/$(basename "$file")"
done
# A vendor-defined descriptor with 64-byte input and output reports, as the unit has.
printf '\006\000\377\011\001\241\001\025\000\046\377\000\165\010\225\100\011\001\201\002\225\100\011\001\221\002\300' \
  >"$seeds/report_descriptor_fuzz/unit"

# A small unsigned service package, and one with a signature's armour for the reader to
# take apart (made here with Python's own zip module: the fuzz build has no signing key).
python3 - "$seeds/package_fuzz" <<'PYTHON'
import hashlib, json, sys, zipfile
image = bytes([0x08, 0xAA]) + bytes(30)
manifest = json.dumps({"format": "morlane-package", "version": 1, "model": "INV-5K",
                       "release": "1.0", "created": "", "notes": "",
                       "images": [{"file": "Master.bin", "target": "master",
                                   "sha256": hashlib.sha256(image).hexdigest(),
                                   "bytes": len(image)}]})
for name, signature in (("unsigned", None), ("signed", "-----BEGIN SSH SIGNATURE-----\n"
                        "U1NIU0lHAAAAAQ==\n-----END SSH SIGNATURE-----\n")):
    with zipfile.ZipFile(sys.argv[1] + "/" + name, "w", zipfile.ZIP_DEFLATED) as out:
        out.writestr("manifest.json", manifest)
        if signature:
            out.writestr("manifest.json.sig", signature)
        out.writestr("Master.bin", image)
PYTHON

# The whole-run targets (the bootloader's frames, the HID replies, the serial line reader)
# start from the empty input: the unit script they read offers well-formed answers among
# its choices, which take them past the handshakes within seconds.
status=0
for target in "${targets[@]}"; do
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
  runs=$(sed -n "s/^stat::number_of_executed_units: *//p" "$build/$target.log")
  echo "$target ${runs:-0}" >>"$build/executions.txt"
done
echo "fuzz: executions so far, every run added up:"
awk '{ total[$1] += $2 } END { for (t in total) printf "  %s %d\n", t, total[t] }' \
  "$build/executions.txt" | sort
exit "$status"
