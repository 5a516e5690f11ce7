#!/usr/bin/env python3
"""Runs one command several times and prints its median wall time, its peak
memory (largest resident set of the process and the children it waited for) and
the median CPU time the command's own process used apart from its children.

Usage: measure.py RUNS -- COMMAND [ARGS...]
Prints one line: wall_seconds peak_rss_kib own_cpu_seconds
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


def run_once(cmd):
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
    if code != 0:
        sys.exit(f"measure: command failed with {code}: {' '.join(cmd)}")
    return wall, usage.ru_maxrss, last_cpu


def main():
    runs = int(sys.argv[1])
    cmd = sys.argv[sys.argv.index("--") + 1:]
    results = [run_once(cmd) for _ in range(runs)]
    wall = statistics.median(r[0] for r in results)
    rss = max(r[1] for r in results)
    cpu = statistics.median(r[2] for r in results)
    print(f"{wall:.3f} {rss} {cpu:.3f}")


if __name__ == "__main__":
    main()
