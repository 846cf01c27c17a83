#!/usr/bin/env bash
# Configures and builds into build/ (or build-asan/ with XVELM_SANITIZE=1).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/deps.sh"
sanitize=${XVELM_SANITIZE:-0}
if [ "$sanitize" = 1 ]; then dir="$root/build-asan"; else dir="$root/build"; fi
jobs=${XVELM_JOBS:-$(nproc 2>/dev/null || echo 2)}
cmake -S "$root" -B "$dir" -DXVELM_SANITIZE=$([ "$sanitize" = 1 ] && echo ON || echo OFF) >/dev/null
cmake --build "$dir" -j "$jobs" "$@"
echo "$dir"
