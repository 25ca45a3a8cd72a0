#!/usr/bin/env python3
"""Runs commands side by side, several rounds each, and prints the median wall time and
the peak resident memory of each. Usage: compare.py ROUNDS NAME=COMMAND ..."""
import os
import statistics
import subprocess
import sys
import tempfile
import time


def run_once(cmd):
    # GNU time measures the peak memory: measured from here, a forked child would count
    # the Python process's own pages as well.
    with tempfile.NamedTemporaryFile('r') as report, open(os.devnull, 'wb') as null:
        start = time.perf_counter()
        status = subprocess.call(['/usr/bin/time', '-f', '%M', '-o', report.name, 'sh', '-c', cmd], stdout=null)
        elapsed = time.perf_counter() - start
        if status != 0:
            sys.exit('command failed: %s' % cmd)
        return elapsed, int(report.read().split()[-1])  # KiB


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
