#!/usr/bin/env bash
# Compares reelmender with the alternatives on one generated 20-minute movie, in
# one run: cp, a single mkvmerge cut, reelmender (10 removes, every edit kind, an
# edit list of 200 removes) and a full re-encode of one minute scaled to the
# movie's length. Prints median wall time, ratio to cp, peak memory, and
# reelmender's own CPU time apart from its children.
# Usage: bench/compare.sh [RUNS]   (default 3)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
runs="${1:-3}"
work="${REELMENDER_BENCH_DIR:-$root/build-bench}"
build="${REELMENDER_BUILD:-$root/build-release}"
cli="$build/cli/reelmender-cli"
measure="python3 $root/bench/measure.py $runs --"

"$root/scripts/setup.sh"
command -v python3 >/dev/null || { echo "bench: python3 is needed" >&2; exit 1; }
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DREELMENDER_TESTS=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" --target reelmender-cli >/dev/null
mkdir -p "$work"
cd "$work"

movie="$work/movie20.mkv"
if [[ ! -f "$movie" ]]; then
  echo "bench: generating a 2-minute 1280x720 clip and appending it to itself (20 minutes)"
  {
    for i in $(seq 0 5); do
      s=$((i * 20)); printf '%d\n00:%02d:%02d,000 --> 00:%02d:%02d,500\nLine %d\n\n' \
        $((i + 1)) $((s / 60)) $((s % 60)) $(((s + 3) / 60)) $(((s + 3) % 60)) "$i"
    done
  } > clip.srt
  ffmpeg -hide_banner -loglevel error -y \
    -f lavfi -i "testsrc2=size=1280x720:rate=25:duration=120" \
    -f lavfi -i "sine=frequency=440:sample_rate=48000:duration=120" \
    -i clip.srt -map 0:v -map 1:a -map 2:s -c:v libx264 -preset veryfast -g 50 -keyint_min 50 \
    -sc_threshold 0 -pix_fmt yuv420p -c:a aac -b:a 128k -c:s srt \
    -metadata:s:s:0 language=eng clip.mkv
  {
    echo '<?xml version="1.0"?>'
    echo '<!DOCTYPE Chapters SYSTEM "matroskachapters.dtd">'
    echo '<Chapters><EditionEntry>'
    for m in $(seq 0 2 18); do
      printf '<ChapterAtom><ChapterTimeStart>00:%02d:00.000</ChapterTimeStart><ChapterDisplay><ChapterString>Minute %d</ChapterString><ChapterLanguage>eng</ChapterLanguage></ChapterDisplay></ChapterAtom>\n' "$m" "$m"
    done
    echo '</EditionEntry></Chapters>'
  } > chapters.xml
  args=(-q -o "$movie" --chapters chapters.xml clip.mkv)
  for _ in $(seq 2 10); do args+=(+ clip.mkv); done
  mkvmerge "${args[@]}" || [[ $? -eq 1 ]]
fi

# Ten remove edits of 20 s, one a minute from 1:00 on.
ten=()
for i in $(seq 1 10); do ten+=(--remove "$((i * 100)).5-$((i * 100 + 20)).5"); done
# The same kept ranges for mkvmerge: parts:0-100.5,120.5-200.5,... joined by "+".
parts="parts:00:00:00-00:01:40.5"
for i in $(seq 1 10); do
  a=$((i * 100 + 20)); b=$(((i + 1) * 100))
  if ((i < 10)); then parts+=",+$(printf '%02d:%02d:%02d.5' $((a / 3600)) $((a % 3600 / 60)) $((a % 60)))-$(printf '%02d:%02d:%02d.5' $((b / 3600)) $((b % 3600 / 60)) $((b % 60)))"
  else parts+=",+$(printf '%02d:%02d:%02d.5' $((a / 3600)) $((a % 3600 / 60)) $((a % 60)))-"; fi
done
mix=(--mute 30-35 --remove 100-130 --card 200-230 "Later that day" --card-seconds 3
     --text 400-420 "Scene skipped" --remove 600-640 --mute 700-702 --card 900-910 "The end is near")
{
  echo "start,end,action"
  for i in $(seq 0 199); do echo "$((i * 6 + 1)).0,$((i * 6 + 3)).5,remove"; done
} > edits200.csv

reencode_minute() {
  ffmpeg -hide_banner -loglevel error -y -ss 0 -t 60 -i "$movie" -map 0:v -map 0:a \
    -c:v libx264 -preset fast -c:a aac "$work/reencode.mkv"
}
export -f reencode_minute
export movie work

row() {  # name, scale, command...
  local name="$1" scale="$2"; shift 2
  read -r wall rss cpu < <($measure "$@")
  wall=$(python3 -c "print(f'{$wall*$scale:.3f}')")
  printf '%s\t%s\t%s\t%s\n' "$name" "$wall" "$rss" "$cpu" >> results.tsv
}

rm -f results.tsv
row "cp (copy of the file)" 1 cp "$movie" "$work/copy.mkv"
row "mkvmerge --split parts: with +" 1 mkvmerge -q -o "$work/mkvcut.mkv" --split "$parts" "$movie"
row "reelmender, 10 remove edits" 1 "$cli" "$movie" --quiet --out "$work/r10.mkv" "${ten[@]}"
row "reelmender, every edit kind" 1 "$cli" "$movie" --quiet --out "$work/rmix.mkv" "${mix[@]}"
row "reelmender, edit list of 200 removes" 1 "$cli" "$movie" --quiet --out "$work/r200.mkv" --edits edits200.csv
row "ffmpeg re-encode (1 min x 20)" 20 bash -c reencode_minute

cp_time=$(head -1 results.tsv | cut -f2)
printf '\n%-40s %10s %8s %12s %14s\n' "command" "median s" "x cp" "peak MiB" "own CPU s"
while IFS=$'\t' read -r name wall rss cpu; do
  ratio=$(python3 -c "print(f'{$wall/max($cp_time,1e-9):.1f}')")
  mib=$(python3 -c "print(f'{$rss/1024:.1f}')")
  case "$name" in reelmender*) own="$cpu" ;; *) own="-" ;; esac
  printf '%-40s %10s %8s %12s %14s\n' "$name" "$wall" "$ratio" "$mib" "$own"
done < results.tsv
