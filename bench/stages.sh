#!/usr/bin/env bash
# Where reelmender's time goes: runs the 10-remove, the 200-remove and the
# every-kind command of bench/compare.sh once each, with progress on, and prints
# the seconds of every stage together with the tool runs that stage started
# (count, seconds, bytes read and written), and the runs that read or write
# most of the movie. Every tool run is listed in the work folder
# (stages-*.tsv). The tools run behind logging stand-ins (bench/toolwrap.sh),
# which cost a few milliseconds a run: time the program with compare.sh, not
# with this.
#
# Usage: bench/stages.sh
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
# shellcheck source=bench/common.sh
source "$here/common.sh"
bench_prepare
define_edits
cd "$bench_work"

wrap="$bench_work/toolwrap"
rm -rf "$wrap"; mkdir -p "$wrap"
for tool in ffmpeg ffprobe mkvmerge mkvpropedit mkvextract mkvinfo; do
  real=$(command -v "$tool" || true)
  [[ -n "$real" ]] || continue
  printf '#!/usr/bin/env bash\nTOOLWRAP_REAL=%q\nsource %q\n' "$real" "$here/toolwrap.sh" >"$wrap/$tool"
  chmod +x "$wrap/$tool"
done

movie_bytes=$(stat -c %s "$movie")
movie_summary
stages() {  # name, file stem, reelmender arguments...
  local name="$1" stem="$2"
  shift 2
  # A new file, as in compare.sh.
  rm -f "$stem.mkv"
  sync
  sleep 2
  PATH="$wrap:$PATH" REELMENDER_BENCH_TOOL_LOG="$bench_work/tools-$stem.log" \
    python3 "$here/stages.py" --table "$bench_root/core/src/pipeline/stage_args.h" \
    --log "$bench_work/tools-$stem.log" --movie-bytes "$movie_bytes" --name "$name" \
    --details "$bench_work/stages-$stem.tsv" -- "$cli" "$movie" --out "$stem.mkv" "$@"
}
stages "reelmender, 10 removes" r10 "${ten[@]}"
stages "reelmender, 200 removes (edit list)" r200 --edits edits200.csv
stages "reelmender, every edit kind" rmix "${mix[@]}"
if cli_has_exact; then stages "reelmender, 10 removes --exact" r10x --exact "${ten[@]}"; fi
