#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for the given number of
# seconds (default 60). Crashing inputs are kept in fuzz/findings/<target>/.
# Usage: scripts/fuzz.sh [SECONDS] [TARGET...]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${REELMENDER_FUZZ_BUILD:-$root/build-fuzz}"
seconds="${1:-60}"
shift || true
targets=("$@")
if ((${#targets[@]} == 0)); then
  targets=(time edit_list edl probe_report mkvmerge_report packet_listing srt ass words pgs vobsub matroska)
fi

REELMENDER_SETUP_EXTRAS=fuzz "$root/scripts/setup.sh"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang-19 -DCMAKE_CXX_COMPILER=clang++-19 \
  -DREELMENDER_FUZZ=ON -DREELMENDER_TESTS=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" --target $(printf 'fuzz_%s ' "${targets[@]}")

status=0
for t in "${targets[@]}"; do
  corpus="$build/corpus/$t"
  findings="$root/fuzz/findings/$t"
  mkdir -p "$corpus" "$findings"
  cp -n "$root/fuzz/corpus/$t/"* "$corpus/" 2>/dev/null || true
  echo "fuzz: $t for ${seconds}s"
  if ! "$build/fuzz/fuzz_$t" -max_total_time="$seconds" -max_len=65536 -timeout=10 -rss_limit_mb=2048 \
       -artifact_prefix="$findings/" -print_final_stats=1 "$corpus" 2>"$build/fuzz_$t.log"; then
    echo "fuzz: $t FOUND A PROBLEM (see $build/fuzz_$t.log and $findings)"
    status=1
  fi
  grep -E "stat::number_of_executed_units|stat::peak_rss_mb" "$build/fuzz_$t.log" | sed "s/^/fuzz: $t /" || true
done
exit $status
