#!/usr/bin/env bash
# Compares reelmender with the alternatives on one generated 20-minute movie of
# realistic size (built once and cached, see bench/common.sh), in one run: cp,
# mkvmerge's one-command cut keeping the same ranges, and reelmender with ten
# removes, an edit list of 200 removes, every edit kind and, where the program
# offers it, --exact. Runs every command once per round, RUNS rounds, so that a
# change in the machine's load weighs on every row alike; prints the median wall
# time of each command, its ratio to cp and to the mkvmerge cut, peak memory
# (largest single process), reelmender's own CPU time apart from its children,
# the CPU time of the whole process tree and the load average before its first
# run (the machine may be shared: only ratios within one run count).
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
measure=(python3 "$here/measure.py" 1)

reencode_minute() {
  ffmpeg -hide_banner -loglevel error -y -ss 0 -t 60 -i "$movie" -map 0:v -map 0:a \
    -c:v libx264 -preset fast -c:a aac "$bench_work/reencode.mkv"
}
export -f reencode_minute
export movie bench_work

results="$bench_work/results.tsv"
rm -f "$results" "$results.runs"
# Rows are collected first and measured in rounds: one run of every row per round.
names=() scales=() commands=()
row() {  # name, wall-time scale, measure options..., --, command...
  names+=("$1")
  scales+=("$2")
  shift 2
  commands+=("$(printf '%q ' "$@")")
}
missing_row() { names+=("$1"); scales+=(1); commands+=(""); }

# Outputs go next to each other in the work folder, as a user's would, each
# written as a new file: the previous round's is removed before the pause that
# precedes the run (measure.py --fresh).
row "cp (copy of the file)" 1 --fresh copy.mkv -- cp "$movie" copy.mkv
row "mkvmerge one-command cut (10 removes' ranges)" 1 --ok 0,1 --fresh mkvcut.mkv -- \
  mkvmerge -q -o mkvcut.mkv --split "$parts" "$movie"
row "mkvmerge one-command cut (200 removes' ranges)" 1 --ok 0,1 --fresh mkvcut200.mkv -- \
  mkvmerge -q -o mkvcut200.mkv --split "$parts200" "$movie"
row "reelmender, 10 removes" 1 --fresh r10.mkv -- "$cli" "$movie" --quiet --out r10.mkv "${ten[@]}"
row "reelmender, 200 removes (edit list)" 1 --fresh r200.mkv -- "$cli" "$movie" --quiet --out r200.mkv --edits edits200.csv
row "reelmender, every edit kind" 1 --fresh rmix.mkv -- "$cli" "$movie" --quiet --out rmix.mkv "${mix[@]}"
if cli_has_exact; then
  row "reelmender, 10 removes --exact" 1 --fresh r10x.mkv -- "$cli" "$movie" --quiet --exact --out r10x.mkv "${ten[@]}"
else
  missing_row "reelmender, 10 removes --exact: not available"
fi
if ((reencode)); then
  row "ffmpeg re-encode (1 min x 20)" 20 --fresh reencode.mkv -- bash -c reencode_minute
fi

# One line per run: row number, wall, peak, own CPU, tree CPU, load before.
for ((round = 1; round <= runs; round++)); do
  for i in "${!names[@]}"; do
    [[ -n "${commands[$i]}" ]] || continue
    load=$(load_now)
    eval "args=(${commands[$i]})"
    read -r wall rss cpu tree < <("${measure[@]}" "${args[@]}")
    printf '%s\t%s\t%s\t%s\t%s\t%s\n' "$i" "$wall" "$rss" "$cpu" "$tree" "$load" >>"$results.runs"
    echo "bench: round $round: ${names[$i]}: $wall s (load $load)" >&2
  done
done
# The medians, one line a row in the order above; a row without runs gets dashes.
for i in "${!names[@]}"; do printf '%s\t%s\n' "${names[$i]}" "${scales[$i]}"; done >"$results.rows"
python3 - "$results.rows" "$results.runs" <<'EOF' >"$results"
import statistics, sys
rows = [line.rstrip("\n").split("\t") for line in open(sys.argv[1])]
runs = [line.rstrip("\n").split("\t") for line in open(sys.argv[2])]
for i, (name, scale) in enumerate(rows):
    mine = [r for r in runs if int(r[0]) == i]
    if not mine:
        print(f"{name}\t-\t-\t-\t-\t-")
        continue
    s = float(scale)
    wall = statistics.median(float(r[1]) for r in mine) * s
    rss = max(int(r[2]) for r in mine)
    cpu = statistics.median(float(r[3]) for r in mine)
    tree = statistics.median(float(r[4]) for r in mine) * s
    print(f"{name}\t{wall:.3f}\t{rss}\t{cpu:.3f}\t{tree:.2f}\t{mine[0][5]}")
EOF
rm -f "$results.rows" "$results.runs"

echo
describe_movie
echo "rounds (runs per row): $runs; load average at the end: $(load_now)"
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
