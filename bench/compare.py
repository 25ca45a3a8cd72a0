#!/usr/bin/env python3
"""Runs commands side by side, several rounds each, and prints the median wall time and
the peak resident memory of each. Usage: compare.py ROUNDS NAME=COMMAND ..."""
import os
import shlex
import statistics
import subprocess
import sys
import time


def run_once(cmd):
    start = time.perf_counter()
    with open(os.devnull, 'wb') as null:
        proc = subprocess.Popen(cmd, shell=True, stdout=null)
        _, status, usage = os.wait4(proc.pid, 0)
    elapsed = time.perf_counter() - start
    if os.waitstatus_to_exitcode(status) != 0:
        sys.exit('command failed: %s' % cmd)
    return elapsed, usage.ru_maxrss  # KiB on Linux


def main():
    rounds = int(sys.argv[1])
    results = {}
    for spec in sys.argv[2:]:
        name, cmd = spec.split('=', 1)
        run_once(cmd)  # warm the page cache
        times, peaks = zip(*(run_once(cmd) for _ in range(rounds)))
        results[name] = (statistics.median(times), max(peaks))
    for name, (t, peak) in results.items():
        print('%-28s %9.3f s  %8.1f MiB' % (name, t, peak / 1024))
    return results


if __name__ == '__main__':
    main()
