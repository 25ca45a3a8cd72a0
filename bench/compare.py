#!/usr/bin/env python3
"""Runs commands side by side, several rounds each, the commands taking turns within each
round (and the first of a round moving on by one each round), so that a machine that gets
busier or quieter weighs on all of them alike. Prints the median wall time, the median
processor time (user + system: steadier than wall time on a shared machine) and the peak
resident memory of each.

Usage: compare.py ROUNDS [--warm N] [--before COMMAND] [--job LABEL --rows FILE] NAME=COMMAND ...
  --warm N      untimed runs of each command first (1: warms the page cache)
  --before CMD  an untimed shell command before every run, with NAME in its environment
                (removing what the last run of that command wrote)
  --rows FILE   appends "LABEL<tab>NAME<tab>wall<tab>cpu<tab>peak KiB" for each command"""
import argparse
import os
import statistics
import subprocess
import sys
import tempfile


def run_once(name, cmd, before):
    if before and subprocess.call(['sh', '-c', before], env=dict(os.environ, NAME=name)) != 0:
        sys.exit('command failed: %s' % before)
    # GNU time measures wall time and peak memory: measured from here, a forked child
    # would count the Python process's own pages as well.
    with tempfile.NamedTemporaryFile('r') as report, open(os.devnull, 'wb') as null:
        child = subprocess.Popen(['/usr/bin/time', '-f', '%e %M', '-o', report.name, 'sh', '-c', cmd], stdout=null)
        # Processor time from the kernel's own count of the child and what it waited for
        # (GNU time rounds it to 10 ms, too coarse for a listing).
        _, status, usage = os.wait4(child.pid, 0)
        child.returncode = os.waitstatus_to_exitcode(status)
        if child.returncode != 0:
            sys.exit('command failed: %s' % cmd)
        wall, peak = report.read().split()[-2:]
        return float(wall), usage.ru_utime + usage.ru_stime, int(peak)  # seconds, seconds, KiB


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('rounds', type=int)
    parser.add_argument('--warm', type=int, default=1)
    parser.add_argument('--before', default='')
    parser.add_argument('--job', default='')
    parser.add_argument('--rows', default='')
    parser.add_argument('specs', nargs='+')
    args = parser.parse_args()
    commands = [spec.split('=', 1) for spec in args.specs]
    for _ in range(args.warm):
        for name, cmd in commands:
            run_once(name, cmd, args.before)
    runs = {name: [] for name, _ in commands}
    for r in range(args.rounds):
        for k in range(len(commands)):
            name, cmd = commands[(r + k) % len(commands)]
            runs[name].append(run_once(name, cmd, args.before))
    for name, _ in commands:
        wall = statistics.median(x[0] for x in runs[name])
        cpu = statistics.median(x[1] for x in runs[name])
        peak = max(x[2] for x in runs[name])
        print('%-28s %9.3f s  %9.3f s cpu  %8.1f MiB' % (name, wall, cpu, peak / 1024))
        if args.rows:
            with open(args.rows, 'a') as f:
                f.write('%s\t%s\t%.3f\t%.3f\t%d\n' % (args.job, name, wall, cpu, peak))


if __name__ == '__main__':
    main()
