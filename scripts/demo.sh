#!/usr/bin/env bash
# Sets up a new machine, builds the tool and runs the main job on the simulated unit:
# both CPUs programmed from generated sample images by "Automatic", every log line shown.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
cmake --preset default >/dev/null
cmake --build --preset default

demo=build/demo
rm -rf "$demo"
mkdir -p "$demo"
build/default/examples/morlane-sample-images "$demo"
echo "demo: images in $demo:"
ls -l "$demo"
echo
exec build/default/src/morlane-cli --simulate --dir "$demo" auto
