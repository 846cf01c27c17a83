#!/usr/bin/env bash
# The main job: build, then take a shipped example round through the connector
# (export, import through the full roads) and report what differs; then take
# a shipped STEP file into the kernel, print what the kernel holds, and write
# it back out as STEP (the files land in the build folder's main-job/).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dir=$("$root/scripts/build.sh" --target xvelm | tail -n 1)
xvelm="$dir/tools/xvelm/xvelm"
"$xvelm" roundtrip "${1:-$root/examples/shapes.vlt}"
out="$dir/main-job"
mkdir -p "$out"
"$xvelm" convert "${2:-$root/examples/bracket.step}" "$out/bracket.vlt"
"$xvelm" info "$out/bracket.vlt"
"$xvelm" convert "$out/bracket.vlt" "$out/bracket.step"
