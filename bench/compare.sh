#!/usr/bin/env bash
# Compares reelmender with the alternatives on one generated 20-minute movie of
# realistic size (built once and cached, see bench/common.sh), in one run: cp,
# mkvmerge's one-command cut keeping the same ranges, and reelmender with ten
# removes, an edit list of 200 removes, every edit kind and, where the program
# offers it, --exact. Prints the median wall time of RUNS runs, its ratio to cp
# and to the mkvmerge cut, peak memory (largest single process), reelmender's
# own CPU time apart from its children, the CPU time of the whole process tree
# and the load average before the row (the machine may be shared: only ratios
# within one run count).
#
# Usage: bench/compare.sh [--reencode] [RUNS]   (default 3)
#        bench/compare.sh --stages              (same as bench/stages.sh)
#   --reencode  adds a row for a full re-encode (one minute, scaled by 20): slow
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
reencode=0
runs=3
for arg in "$@"; do
  case "$arg" in
    --stages) exec "$here/stages.sh" ;;
    --reencode) reencode=1 ;;
    [0-9]*) runs="$arg" ;;
    *) echo "usage: bench/compare.sh [--stages] [--reencode] [RUNS]" >&2; exit 2 ;;
  esac
done
# shellcheck source=bench/common.sh
source "$here/common.sh"
bench_prepare
define_edits
cd "$bench_work"
measure=(python3 "$here/measure.py" "$runs")

reencode_minute() {
  ffmpeg -hide_banner -loglevel error -y -ss 0 -t 60 -i "$movie" -map 0:v -map 0:a \
    -c:v libx264 -preset fast -c:a aac "$bench_work/reencode.mkv"
}
export -f reencode_minute
export movie bench_work

results="$bench_work/results.tsv"
rm -f "$results"
row() {  # name, wall-time scale, measure options..., --, command...
  local name="$1" scale="$2" load wall rss cpu tree
  shift 2
  load=$(load_now)
  read -r wall rss cpu tree < <("${measure[@]}" "$@")
  wall=$(python3 -c "print(f'{$wall*$scale:.3f}')")
  tree=$(python3 -c "print(f'{$tree*$scale:.2f}')")
  printf '%s\t%s\t%s\t%s\t%s\t%s\n' "$name" "$wall" "$rss" "$cpu" "$tree" "$load" >>"$results"
  echo "bench: $name: $wall s (load $load)" >&2
}
missing_row() { printf '%s\t-\t-\t-\t-\t-\n' "$1" >>"$results"; }

# Outputs go next to each other in the work folder, as a user's would.
row "cp (copy of the file)" 1 -- cp "$movie" copy.mkv
row "mkvmerge one-command cut (10 removes' ranges)" 1 --ok 0,1 -- \
  mkvmerge -q -o mkvcut.mkv --split "$parts" "$movie"
row "mkvmerge one-command cut (200 removes' ranges)" 1 --ok 0,1 -- \
  mkvmerge -q -o mkvcut200.mkv --split "$parts200" "$movie"
row "reelmender, 10 removes" 1 -- "$cli" "$movie" --quiet --out r10.mkv "${ten[@]}"
row "reelmender, 200 removes (edit list)" 1 -- "$cli" "$movie" --quiet --out r200.mkv --edits edits200.csv
row "reelmender, every edit kind" 1 -- "$cli" "$movie" --quiet --out rmix.mkv "${mix[@]}"
if cli_has_exact; then
  row "reelmender, 10 removes --exact" 1 -- "$cli" "$movie" --quiet --exact --out r10x.mkv "${ten[@]}"
else
  missing_row "reelmender, 10 removes --exact: not available"
fi
if ((reencode)); then
  row "ffmpeg re-encode (1 min x 20)" 20 -- bash -c reencode_minute
fi

echo
describe_movie
echo "runs per row: $runs; load average at the end: $(load_now)"
python3 - "$results" <<'EOF'
import sys
rows = [line.rstrip("\n").split("\t") for line in open(sys.argv[1])]
def num(text):
    try:
        return float(text)
    except ValueError:
        return None
cp = num(rows[0][1])
cut = next(num(r[1]) for r in rows if r[0].startswith("mkvmerge one-command cut (10"))
head = ("command", "median s", "x cp", "x mkvmerge-cut", "peak MiB", "own CPU s", "tree CPU s", "load before")
fmt = "{:<48} {:>9} {:>7} {:>15} {:>9} {:>10} {:>11}  {}"
print()
print(fmt.format(*head))
for name, wall, rss, own, tree, load in rows:
    w = num(wall)
    ratio = lambda base: f"{w / base:.2f}" if w is not None and base else "-"
    mib = f"{int(rss) / 1024:.1f}" if rss != "-" else "-"
    own = own if name.startswith("reelmender") and own != "-" else "-"
    print(fmt.format(name, wall, ratio(cp), ratio(cut), mib, own, tree, load))
print("\nx mkvmerge-cut: against the cut keeping the 10 removes' ranges, for every row.")
cut200 = next(num(r[1]) for r in rows if r[0].startswith("mkvmerge one-command cut (200"))
r200 = next(num(r[1]) for r in rows if r[0].startswith("reelmender, 200"))
if cut200 and r200:
    print(f"reelmender's 200 removes against mkvmerge's cut of the same 200 ranges: x{r200 / cut200:.2f}")
EOF
