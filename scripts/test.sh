#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test (unit and end to end).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${REELMENDER_BUILD:-$root/build}"

"$root/scripts/setup.sh"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DREELMENDER_TESTS=ON
cmake --build "$build" -j"$(nproc)"
cd "$build"
ctest --output-on-failure -j"$(nproc)" "$@"
