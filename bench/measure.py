#!/usr/bin/env python3
"""Runs one command several times and prints its median wall time, its peak
memory (the largest resident set of the process and of any child it waited
for: the largest single process, not a sum), the median CPU time the command's
own process used apart from its children, and the median CPU time of the whole
process tree.

Each run starts after a sync and a pause of two seconds, so that writing back
the previous run's output, and the kernel's deferred work on the files it freed
(telling the disk which blocks are free), are not charged to the next one. Exit statuses other than 0 fail unless listed
with --ok (mkvmerge ends with 1 when it only warned).

--fresh FILE (any number of times) removes FILE before that sync, so that the
command writes its output as a new file into the space the last one freed, as
every row then does alike. Written over an existing file, or as a new file
while the old one still stands, the outputs of this machine's virtual disk
differed by a factor of two: mkvmerge's cut took 1.5 s over its old output and
2.9 s as a new file beside it, and reelmender, which writes a new file in its
work folder and then takes the output's place, always paid the second.

Usage: measure.py RUNS [--ok 0,1] [--fresh FILE]... -- COMMAND [ARGS...]
Prints one line: wall_seconds peak_rss_kib own_cpu_seconds tree_cpu_seconds
"""
import os
import statistics
import subprocess
import sys
import time

CLOCK = os.sysconf("SC_CLK_TCK")


def own_cpu(pid):
    """utime + stime of the process itself (fields 14 and 15 of /proc/PID/stat)."""
    try:
        with open(f"/proc/{pid}/stat") as f:
            fields = f.read().rsplit(")", 1)[1].split()
        return (int(fields[11]) + int(fields[12])) / CLOCK
    except (OSError, IndexError, ValueError):
        return None


def run_once(cmd, ok, fresh):
    for path in fresh:
        try:
            os.remove(path)
        except FileNotFoundError:
            pass
    os.sync()
    time.sleep(2)
    start = time.perf_counter()
    proc = subprocess.Popen(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    last_cpu = 0.0
    while True:
        pid, status, usage = os.wait4(proc.pid, os.WNOHANG)
        if pid != 0:
            break
        cpu = own_cpu(proc.pid)
        if cpu is not None:
            last_cpu = cpu
        time.sleep(0.02)
    wall = time.perf_counter() - start
    code = os.waitstatus_to_exitcode(status)
    if code not in ok:
        sys.exit(f"measure: command failed with {code}: {' '.join(cmd)}")
    return wall, usage.ru_maxrss, last_cpu, usage.ru_utime + usage.ru_stime


def main():
    args = sys.argv[1:]
    split = args.index("--")
    options, cmd = args[:split], args[split + 1:]
    runs = int(options[0])
    ok = {0}
    if "--ok" in options:
        ok = {int(c) for c in options[options.index("--ok") + 1].split(",")}
    fresh = [options[i + 1] for i, option in enumerate(options) if option == "--fresh"]
    results = [run_once(cmd, ok, fresh) for _ in range(runs)]
    wall = statistics.median(r[0] for r in results)
    rss = max(r[1] for r in results)
    cpu = statistics.median(r[2] for r in results)
    tree = statistics.median(r[3] for r in results)
    print(f"{wall:.3f} {rss} {cpu:.3f} {tree:.3f}")


if __name__ == "__main__":
    main()
