#!/usr/bin/env bash
# Cross-builds reelmender for 64-bit Windows with mingw-w64 (warnings are
# errors), runs the Windows unit tests under wine in a fresh wine prefix, and
# checks that reelmender-cli.exe writes exactly what the Linux build writes for
# a few argument lists. Exits non-zero on any failure. Needs no terminal:
# works as root with CI=true and no standard input.
#
# Environment:
#   REELMENDER_WINDOWS_BUILD  build folder (default: build-windows in the checkout)
#   REELMENDER_LINUX_CLI      Linux reelmender-cli to compare with (default: the
#                             one in build/, else one built here)
#   REELMENDER_JOBS           parallel build jobs (default: 2)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${REELMENDER_WINDOWS_BUILD:-$root/build-windows}"
jobs="${REELMENDER_JOBS:-2}"

say() { printf 'build-windows: %s\n' "$*"; }

# The toolchain, wine and GoogleTest's source come from Debian's packages.
if ! command -v x86_64-w64-mingw32-g++-posix >/dev/null || ! command -v wine >/dev/null ||
  [[ ! -f /usr/src/googletest/CMakeLists.txt ]]; then
  REELMENDER_SETUP_EXTRAS="${REELMENDER_SETUP_EXTRAS:-} windows" "$root/scripts/setup.sh" </dev/null
fi

say "configuring $build"
cmake -S "$root" -B "$build" \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64.cmake" \
  -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_COMPILE_WARNING_AS_ERROR=ON \
  -DREELMENDER_TESTS=ON </dev/null
say "building"
cmake --build "$build" -j"$jobs" </dev/null

# A wine prefix of our own, thrown away at the end: nothing is read from or
# left in the user's ~/.wine, and no dialog asks to install Mono or Gecko.
wine_home="$(mktemp -d "${TMPDIR:-/tmp}/reelmender-wine.XXXXXX")"
export WINEPREFIX="$wine_home/prefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEARCH=win64
# Wine turns the Linux arguments into UTF-16 by the locale's character set.
export LC_ALL=C.UTF-8
cleanup() {
  wineserver -k >/dev/null 2>&1 || true
  rm -rf "$wine_home"
}
trap cleanup EXIT
say "creating a wine prefix"
wineboot --init </dev/null >/dev/null 2>&1
wineserver -w

say "running the unit tests under wine"
(cd "$build" && ctest --output-on-failure -L unit </dev/null)

# The command line must look the same on both platforms, byte for byte:
# standard output, standard error and exit status.
linux_cli="${REELMENDER_LINUX_CLI:-$root/build/cli/reelmender-cli}"
if [[ ! -x "$linux_cli" ]]; then
  reference="$root/build-windows-linux-reference"
  say "building the Linux reelmender-cli for comparison in $reference"
  cmake -S "$root" -B "$reference" -DCMAKE_BUILD_TYPE=Release -DREELMENDER_TESTS=OFF </dev/null >/dev/null
  cmake --build "$reference" -j"$jobs" --target reelmender-cli </dev/null >/dev/null
  linux_cli="$reference/cli/reelmender-cli"
fi
windows_cli="$build/cli/reelmender-cli.exe"

compare() {
  local name="$1"
  shift
  local out="$wine_home/compare"
  mkdir -p "$out"
  local linux_status=0 windows_status=0
  "$linux_cli" "$@" >"$out/linux.out" 2>"$out/linux.err" </dev/null || linux_status=$?
  wine "$windows_cli" "$@" >"$out/windows.out" 2>"$out/windows.err" </dev/null || windows_status=$?
  if [[ "$linux_status" != "$windows_status" ]]; then
    say "FAILED $name: exit status $windows_status on Windows, $linux_status on Linux"
    return 1
  fi
  for stream in out err; do
    if ! cmp -s "$out/linux.$stream" "$out/windows.$stream"; then
      say "FAILED $name: standard $stream differs (Linux, then Windows):"
      od -c "$out/linux.$stream" | head -20
      od -c "$out/windows.$stream" | head -20
      return 1
    fi
  done
  say "same on both: $name (exit status $linux_status, $(wc -c <"$out/linux.out") + $(wc -c <"$out/linux.err") bytes)"
}

failures=0
compare "usage without arguments" || failures=$((failures + 1))
compare "help among other arguments" movie.mkv --remove 1-2 --help || failures=$((failures + 1))
compare "unknown option" movie.mkv --verbose || failures=$((failures + 1))
compare "bad range" movie.mkv --remove 10-5 || failures=$((failures + 1))
compare "non-ASCII argument in a message" movie.mkv --frame $'t\xc3\xa9 \xe6\x98\xa0' f.jpg || failures=$((failures + 1))

if ((failures > 0)); then
  say "$failures comparison(s) failed"
  exit 1
fi
say "all Windows checks passed"
