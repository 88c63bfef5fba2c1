#!/usr/bin/env python3
"""Times kdsp-rx --all against kdsp-rx on one channel of the same recording.

kdsp-synth keys --channels channels on a 25 kHz raster on and off with real
speech in a cu8 recording at 2.4 MS/s (--duration s, and half as long to
show that memory does not grow with the length). For each: kdsp-rx on one
channel (the recording read, converted for that channel, run through the
core) and kdsp-rx --all (every channel found, read once through the filter
bank, every transmission through the core), both with -j 2. Prints the
median wall time of --runs runs, the median CPU time (user + system) and the
peak resident memory (/usr/bin/time -v), and the ratio of the two wall
times; --markdown FILE appends the table there.

    scripts/bench_rx_all.py [--build build/default] [--duration 120] [--channels 6]
                            [--runs 3] [--markdown docs/benchmarks.md]

--short makes 8 s and 16 s recordings and runs each once: a check that it runs.
"""
import argparse
import json
import os
import statistics
import subprocess
import sys
import tempfile

from measure_run import measure


def run_measured(command):
    """Wall seconds, CPU seconds and peak resident set in MB of one run."""
    wall, cpu, rss_kb = measure(command)
    return wall, cpu, rss_kb / 1000.0


def medians(runs):
    return tuple(statistics.median(r[i] for r in runs) for i in range(3))


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build", default="build/default")
    parser.add_argument("--duration", type=float, default=120.0)
    parser.add_argument("--channels", type=int, default=6)
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--short", action="store_true")
    parser.add_argument("--markdown")
    options = parser.parse_args()
    if options.short:
        options.duration, options.runs = 16.0, 1
    synth = os.path.join(options.build, "tools/kdsp-synth/kdsp-synth")
    rx = os.path.join(options.build, "tools/kdsp-rx/kdsp-rx")
    rows = []
    with tempfile.TemporaryDirectory() as work:
        for duration in (options.duration / 2, options.duration):
            recording = os.path.join(work, f"band-{duration:g}.cu8")
            truth = os.path.join(work, "truth.json")
            subprocess.run([synth, "--keyed", str(options.channels), "--rate", "2.4M", "--duration", f"{duration:g}",
                            "--cnr", "25", "--deviation", "2500", "--seed", "3", "--truth", truth, recording],
                           check=True)
            with open(truth) as f:
                sent = json.load(f)
            if not sent:
                sys.exit(f"kdsp-synth keyed no transmission in {duration:g} s; make it longer")
            offset = sent[0]["offset_hz"]
            single, every = [], []
            found = 0
            for run in range(options.runs):
                single.append(run_measured([rx, recording, "--rate", "2.4M", "--offset", f"{offset:.0f}", "-j", "2",
                                            "-q", "-o", os.path.join(work, "one.wav")]))
                out = os.path.join(work, f"all-{duration:g}-{run}")
                every.append(run_measured([rx, "--all", recording, "--rate", "2.4M", "--raster", "25k", "-j", "2",
                                           "-q", "-O", out]))
                with open(os.path.join(out, "transmissions.json")) as f:
                    found = len(json.load(f))
            os.remove(recording)
            rows.append((duration, len(sent), found, medians(single), medians(every)))
    lines = ["| recording | transmissions sent / found | one channel: wall s, CPU s, peak MB "
             "| --all: wall s, CPU s, peak MB | --all / one channel (wall) |",
             "|---|---:|---:|---:|---:|"]
    for duration, sent, found, one, every in rows:
        lines.append(f"| {duration:g} s cu8, 2.4 MS/s, {options.channels} keyed channels | {sent} / {found} "
                     f"| {one[0]:.2f}, {one[1]:.2f}, {one[2]:.0f} | {every[0]:.2f}, {every[1]:.2f}, {every[2]:.0f} "
                     f"| {every[0] / one[0]:.2f} |")
    table = "\n".join(lines)
    print(table)
    if options.markdown:
        with open(options.markdown, "a") as f:
            f.write("\n" + table + "\n")


if __name__ == "__main__":
    main()
