#!/usr/bin/env python3
"""Times commands in interleaved rounds: each round runs every command once,
in turn, so that a change in the machine's load touches all of them alike.

interleave.py ROUNDS JSON NAME=COMMAND [NAME=COMMAND ...]

COMMAND is run by bash -c; its output goes to /dev/null. A NAME that starts
with "+" marks a preparing command: it runs (untimed) before each timed
command that follows it in the list, until the next one. Writes
{name: [seconds, ...]} to JSON and prints each median."""
import json
import os
import statistics
import subprocess
import sys
import time


def main():
    rounds = int(sys.argv[1])
    out = sys.argv[2]
    steps = []
    prepare = None
    for pair in sys.argv[3:]:
        name, command = pair.split("=", 1)
        if name.startswith("+"):
            prepare = command
        else:
            steps.append((name, command, prepare))
    times = {name: [] for name, _, _ in steps}
    devnull = open(os.devnull, "wb")
    for _ in range(rounds + 1):  # the first round warms the caches, untimed
        for name, command, prep in steps:
            if prep:
                subprocess.run(["bash", "-c", prep], check=True, stdout=devnull)
            start = time.perf_counter()
            subprocess.run(["bash", "-c", command], stdout=devnull,
                           stderr=devnull)
            times[name].append(time.perf_counter() - start)
    for name in times:
        times[name] = times[name][1:]
    with open(out, "w") as f:
        json.dump(times, f)
    for name, values in times.items():
        print("%-28s median %.1f ms" % (name, statistics.median(values) * 1000))


if __name__ == "__main__":
    main()
