#!/usr/bin/env bash
# Builds the unit tests with AddressSanitizer and UndefinedBehaviorSanitizer and runs them.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${REELMENDER_SANITIZE_BUILD:-$root/build-sanitize}"

"$root/scripts/setup.sh"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Debug -DREELMENDER_SANITIZE=ON
# Only the unit tests (and the program they run) are built: they are what runs here.
targets=$(cd "$root/tests/unit" && for d in */; do ls "$d"*.cpp >/dev/null 2>&1 && printf 'unit_%s ' "${d%/}"; done; true)
cmake --build "$build" -j"$(nproc)" --target $targets
cd "$build"
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=0:strict_string_checks=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
ctest --output-on-failure -j"$(nproc)" -L unit
