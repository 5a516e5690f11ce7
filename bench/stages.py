#!/usr/bin/env python3
"""Runs one reelmender command once and tells where its time went.

The CLI writes a plain progress line on standard error whenever a stage begins
(standard error not being a terminal); each line is stamped as it arrives and
matched against the stage table read from the source, so the table here never
drifts from the program's. The tool runs come from the log the stand-ins of
bench/toolwrap.sh write; each run is charged to the stage it started in.

Usage: stages.py --table STAGE_ARGS_H --log TOOL_LOG --movie-bytes N
                 --name NAME [--details FILE] -- COMMAND [ARGS...]
The caller puts the stand-ins first on PATH and points
REELMENDER_BENCH_TOOL_LOG at TOOL_LOG.
"""
import argparse
import glob
import os
import re
import subprocess
import sys
import time
from collections import defaultdict

PROGRESS = re.compile(r"^\s*[\d.]+%\s+(.*?)\s*$")
STAGE_ROW = re.compile(r'\{"(\w+)", "([^"]*)", [\d.]+\}')


def stage_table(path):
    """{label: key} from the stage table in the source."""
    with open(path, encoding="utf-8") as f:
        return {label: key for key, label in STAGE_ROW.findall(f.read())}


def run_stamped(cmd):
    """Runs cmd; returns (start, end, status, peak KiB of the largest process
    of the tree, [(time, stderr line)])."""
    start = time.time()
    proc = subprocess.Popen(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True, bufsize=1)
    lines = [(time.time(), line.rstrip("\n")) for line in proc.stderr]
    _, status, usage = os.wait4(proc.pid, 0)
    proc.returncode = os.waitstatus_to_exitcode(status)
    return start, time.time(), proc.returncode, usage.ru_maxrss, lines


def stage_spans(start, end, lines, labels):
    """[(key, begin, finish)] from the stage announcements, with "startup"
    before the first one; "done" lasts until the process ended."""
    spans = [["startup", start]]
    for stamp, line in lines:
        match = PROGRESS.match(line)
        if not match:
            continue
        key = labels.get(match.group(1))
        if key and key != spans[-1][0]:
            spans.append([key, stamp])
    return [(key, begin, spans[i + 1][1] if i + 1 < len(spans) else end) for i, (key, begin) in enumerate(spans)]


def read_tool_log(path):
    runs = []
    with open(path, encoding="utf-8", errors="replace") as f:
        for line in f:
            fields = line.rstrip("\n").split("\t", 7)
            if len(fields) < 8:
                continue
            begin, finish, status, tool, read, written, peak, args = fields
            runs.append({"begin": float(begin), "end": float(finish), "status": int(status), "tool": tool,
                         "read": int(read), "written": int(written), "peak": int(peak or 0), "args": args})
    return runs


def stage_of(stamp, spans):
    for key, begin, finish in spans:
        if begin <= stamp < finish:
            return key
    return spans[-1][0] if stamp >= spans[-1][2] else spans[0][0]


def short(args, width=110):
    return args if len(args) <= width else args[: width - 3] + "..."


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--table", required=True)
    parser.add_argument("--log", required=True)
    parser.add_argument("--movie-bytes", type=int, required=True)
    parser.add_argument("--name", required=True)
    parser.add_argument("--details")
    parser.add_argument("cmd", nargs="+")
    options = parser.parse_args()

    open(options.log, "w").close()
    with open("/proc/loadavg") as f:
        load = " ".join(f.read().split()[:3])
    start, end, status, tree_peak, lines = run_stamped(options.cmd)
    if status != 0:
        sys.stderr.write("\n".join(line for _, line in lines[-20:]) + "\n")
        sys.exit(f"stages: {options.name} failed with status {status}")
    spans = stage_spans(start, end, lines, stage_table(options.table))
    runs = read_tool_log(options.log)
    for leftover in glob.glob(glob.escape(options.log) + ".*"):
        os.remove(leftover)
    for run in runs:
        run["stage"] = stage_of(run["begin"], spans)

    movie = options.movie_bytes
    gb = lambda n: f"{n / 1e9:.2f}"
    mib = lambda kib: f"{kib / 1024:.1f}" if kib else "-"
    print(f"\n== {options.name}: {end - start:.2f} s, {len(runs)} tool runs, peak {mib(tree_peak)} MiB "
          f"(load before: {load})")
    # "other s": the stage's time outside tool runs (the program itself, and
    # starting the tools).
    head = "{:<9} {:>8} {:>6} {:>8} {:>8} {:>8} {:>8} {:>9}  {}"
    print(head.format("stage", "seconds", "runs", "tool s", "other s", "read GB", "wrote GB", "peak MiB",
                      "tool runs (count, seconds)"))
    totals = defaultdict(float)
    for key, begin, finish in spans:
        mine = [r for r in runs if r["stage"] == key]
        per_tool = defaultdict(lambda: [0, 0.0])
        for r in mine:
            per_tool[r["tool"]][0] += 1
            per_tool[r["tool"]][1] += r["end"] - r["begin"]
        tool_s = sum(r["end"] - r["begin"] for r in mine)
        read = sum(r["read"] for r in mine)
        written = sum(r["written"] for r in mine)
        totals["tool"] += tool_s
        totals["read"] += read
        totals["written"] += written
        detail = ", ".join(f"{tool} x{n} {s:.2f}s" for tool, (n, s) in sorted(per_tool.items()))
        peak = max((r["peak"] for r in mine), default=0)
        print(head.format(key, f"{finish - begin:.2f}", len(mine), f"{tool_s:.2f}", f"{finish - begin - tool_s:.2f}",
                          gb(read), gb(written), mib(peak), detail))
    peak = max((r["peak"] for r in runs), default=0)
    print(head.format("total", f"{end - start:.2f}", len(runs), f"{totals['tool']:.2f}",
                      f"{end - start - totals['tool']:.2f}", gb(totals["read"]), gb(totals["written"]), mib(peak), ""))

    # A run that moved at least half the movie's bytes reads (or writes) the
    # movie, or a copy of most of it, in full.
    big = [r for r in runs if r["read"] >= movie / 2 or r["written"] >= movie / 2]
    over = [r for r in runs if r["peak"] > 100 * 1024]
    if over:
        print("tool runs above 100 MiB:")
        for r in over:
            print(f"  {r['stage']:<8} {mib(r['peak'])} MiB  {r['tool']} {short(r['args'])}")
    print(f"movie read {totals['read'] / movie:.1f} times and written {totals['written'] / movie:.1f} times "
          f"over (bytes moved by the tools / the movie's {gb(movie)} GB); runs moving half the movie or more:")
    for r in big:
        print(f"  {r['stage']:<8} {r['end'] - r['begin']:6.2f}s  read {gb(r['read'])}  wrote {gb(r['written'])}  "
              f"{r['tool']} {short(r['args'])}")

    if options.details:
        with open(options.details, "w", encoding="utf-8") as f:
            f.write("stage\tat\tseconds\tstatus\ttool\tread_bytes\twritten_bytes\tpeak_kib\targuments\n")
            rows = [(begin - start, f"{key}\t{begin - start:.3f}\t{finish - begin:.3f}\t\tstage\t\t\t\t")
                    for key, begin, finish in spans]
            rows += [(r["begin"] - start,
                      f"{r['stage']}\t{r['begin'] - start:.3f}\t{r['end'] - r['begin']:.3f}\t{r['status']}\t"
                      f"{r['tool']}\t{r['read']}\t{r['written']}\t{r['peak']}\t{r['args']}") for r in runs]
            for _, row in sorted(rows, key=lambda row: row[0]):
                f.write(row + "\n")
        print(f"every tool run: {options.details}")


if __name__ == "__main__":
    main()
