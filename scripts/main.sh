#!/usr/bin/env bash
# The main job: build, then run the driver on the shipped example.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dir=$("$root/scripts/build.sh" --target xvelm | tail -n 1)
"$dir/tools/xvelm/xvelm" info "${1:-$root/examples/two_bodies.vlt}"
