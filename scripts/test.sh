#!/usr/bin/env bash
# Builds everything and runs every test (XVELM_SANITIZE=1 for the sanitizer build,
# XVELM_DEBUG=1 for the unoptimised one; see scripts/build.sh).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
start=$SECONDS
dir=$("$root/scripts/build.sh" | tail -n 1)
# Wall time, then the CPU time (user, system) of this script and of the build it ran.
echo "built $dir in $((SECONDS - start)) s; cpu:" >&2
times >&2
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
jobs=${XVELM_JOBS:-$(nproc 2>/dev/null || echo 2)}
# XVELM_CTEST_ARGS adds options to the test run (such as -E REGEX to leave tests out).
read -r -a ctest_extra <<< "${XVELM_CTEST_ARGS:-}"
ctest --test-dir "$dir" --output-on-failure -j "$jobs" "${ctest_extra[@]}"
