#!/usr/bin/env bash
# The main job: build, then take a shipped example round through the connector
# (export, import through the full roads) and report what differs.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dir=$("$root/scripts/build.sh" --target xvelm | tail -n 1)
"$dir/tools/xvelm/xvelm" roundtrip "${1:-$root/examples/shapes.vlt}"
