#!/usr/bin/env python3
"""Runs commands side by side, several rounds each, and prints the median wall time, the
median processor time (user and system: on a shared machine it moves less than the wall
time) and the peak resident memory of each. Usage: compare.py ROUNDS NAME=COMMAND ..."""
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
        status = subprocess.call(['/usr/bin/time', '-f', '%M %U %S', '-o', report.name, 'sh', '-c', cmd],
                                 stdout=null)
        elapsed = time.perf_counter() - start
        if status != 0:
            sys.exit('command failed: %s' % cmd)
        peak, user, system = report.read().split()[-3:]
        return elapsed, int(peak), float(user) + float(system)  # KiB, seconds


def main():
    rounds = int(sys.argv[1])
    results = {}
    for spec in sys.argv[2:]:
        name, cmd = spec.split('=', 1)
        run_once(cmd)  # warm the page cache
        times, peaks, cpu = zip(*(run_once(cmd) for _ in range(rounds)))
        results[name] = (statistics.median(times), max(peaks), statistics.median(cpu))
    for name, (t, peak, cpu) in results.items():
        print('%-28s %9.3f s  %8.3f s cpu  %8.1f MiB' % (name, t, cpu, peak / 1024))
    return results


if __name__ == '__main__':
    main()
