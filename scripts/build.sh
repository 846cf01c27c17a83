#!/usr/bin/env bash
# Configures and builds into build/ (plain, optimised), build-asan/ (XVELM_SANITIZE=1:
# AddressSanitizer and UndefinedBehaviorSanitizer) or build-debug/ (XVELM_DEBUG=1: unoptimised).
# XVELM_ODR_CHECK=1 links with link-time optimisation and fails on a One Definition Rule
# violation. XVELM_TEST_SHARDS=N runs each test program in N processes under ctest instead of
# one per test; XVELM_LINK_TESTS="folder folder" links (and registers) only those folders' test
# programs, compiling the others' sources without linking them. XVELM_CMAKE_ARGS adds options
# to the configuration. XVELM_GENERATOR names the CMake generator of a build folder made afresh
# (one already configured keeps its own). Prints the build folder last.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/deps.sh"
sanitize=${XVELM_SANITIZE:-0}
debug=${XVELM_DEBUG:-0}
odr=${XVELM_ODR_CHECK:-0}
args=(-DXVELM_SANITIZE=$([ "$sanitize" = 1 ] && echo ON || echo OFF)
      -DXVELM_ODR_CHECK=$([ "$odr" = 1 ] && echo ON || echo OFF)
      -DXVELM_TEST_SHARDS="${XVELM_TEST_SHARDS:-0}"
      "-DXVELM_LINK_TESTS=$(echo ${XVELM_LINK_TESTS:-} | tr ' ' ';')")
if [ "$sanitize" = 1 ]; then
  dir="$root/build-asan"
elif [ "$debug" = 1 ]; then
  dir="$root/build-debug"
  args+=(-DCMAKE_BUILD_TYPE=Debug)
else
  dir="$root/build"
fi
if [ -n "${XVELM_GENERATOR:-}" ] && [ ! -f "$dir/CMakeCache.txt" ]; then
  args+=(-G "$XVELM_GENERATOR")
fi
read -r -a extra <<< "${XVELM_CMAKE_ARGS:-}"
args+=("${extra[@]}")
jobs=${XVELM_JOBS:-$(nproc 2>/dev/null || echo 2)}
cmake -S "$root" -B "$dir" "${args[@]}" >/dev/null
cmake --build "$dir" -j "$jobs" "$@"
echo "$dir"
