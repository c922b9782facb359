#!/usr/bin/env python3
"""pair.py [-n RUNS] [--warmup W] 'COMMAND_A' ['COMMAND_B'] - times whole commands.

Each command is run through sh -c, RUNS times after W uncounted runs; with two
commands they alternate (A B A B ...) so that a machine whose speed drifts
slows both alike, and the ratio A/B is taken pair by pair. Prints min, median
and max of wall seconds and of CPU seconds (user + system of the command and
every process it waited for), and the median of the pairwise ratios.
"""
import argparse
import os
import statistics
import subprocess
import sys
import time


def run(command):
    start = time.monotonic()
    child = subprocess.Popen(["sh", "-c", command], stdin=subprocess.DEVNULL,
                             stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    _, status, usage = os.wait4(child.pid, 0)
    wall = time.monotonic() - start
    code = os.waitstatus_to_exitcode(status)
    if code != 0:
        sys.exit(f"pair.py: \"{command}\" ended with status {code}")
    return wall, usage.ru_utime + usage.ru_stime


def spread(values):
    return f"{min(values):7.3f} {statistics.median(values):7.3f} {max(values):7.3f}"


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("-n", type=int, default=7, help="counted runs of each command (default 7)")
    parser.add_argument("--warmup", type=int, default=1, help="uncounted runs first (default 1)")
    parser.add_argument("commands", nargs="+", metavar="COMMAND")
    args = parser.parse_args()
    if len(args.commands) > 2:
        parser.error("one or two commands")
    for _ in range(args.warmup):
        for c in args.commands:
            run(c)
    results = [[] for _ in args.commands]
    for _ in range(args.n):
        for i, c in enumerate(args.commands):
            results[i].append(run(c))
    print(f"{'':3} {'wall s: min':>13} {'median':>7} {'max':>7}   {'cpu s: min':>10} {'median':>7} {'max':>7}")
    for name, r in zip("AB", results):
        print(f"{name:3} {spread([w for w, _ in r]):>29}   {spread([c for _, c in r])}")
    if len(results) == 2:
        wall = [a[0] / b[0] for a, b in zip(*results)]
        cpu = [a[1] / b[1] if b[1] > 0 else float("inf") for a, b in zip(*results)]
        print(f"A/B {spread(wall):>29}   {spread(cpu)}   (pairwise ratios)")


if __name__ == "__main__":
    main()
