#!/usr/bin/env bash
# Builds the unit tests with AddressSanitizer and UndefinedBehaviorSanitizer and runs them.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${REELMENDER_SANITIZE_BUILD:-$root/build-sanitize}"

"$root/scripts/setup.sh"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Debug -DREELMENDER_SANITIZE=ON
cmake --build "$build" -j"$(nproc)"
cd "$build"
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=0:strict_string_checks=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
ctest --output-on-failure -j"$(nproc)" -L unit
