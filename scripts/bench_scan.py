#!/usr/bin/env python3
"""Times kdsp-scan on wide recordings of two lengths and shows that its memory
does not grow with the length: noise as a receiver writes it (cu8 at
2.4 MS/s), scanned with and without a spectrogram. Prints one Markdown table
of wall time, CPU time (user + system) and peak resident memory from
/usr/bin/time -v.

    scripts/bench_scan.py [--build build/default] [--seconds 30]
"""
import argparse
import os
import tempfile

from measure_run import measure

RATE = 2_400_000


def write_noise(path, seconds):
    with open(path, "wb") as out:
        left = 2 * RATE * seconds
        while left > 0:
            block = min(left, 1 << 24)
            out.write(os.urandom(block))
            left -= block


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", default="build/default")
    parser.add_argument("--seconds", type=int, default=30)
    args = parser.parse_args()
    scan = os.path.join(args.build, "tools", "kdsp-scan", "kdsp-scan")
    print("| recording | picture | wall s | CPU s | peak RSS MiB |")
    print("|---|---|---|---|---|")
    with tempfile.TemporaryDirectory() as scratch:
        for seconds in (args.seconds, 4 * args.seconds):
            path = os.path.join(scratch, f"noise{seconds}.cu8")
            write_noise(path, seconds)
            for picture in (False, True):
                command = [scan, path, "--rate", "2.4M"]
                if picture:
                    command += ["--png", os.path.join(scratch, "scan.png")]
                wall_s, cpu_s, rss_kb = measure(command)
                print(f"| {seconds} s cu8 at 2.4 MS/s | {'yes' if picture else 'no'} | {wall_s:.1f} | "
                      f"{cpu_s:.1f} | {rss_kb / 1024:.1f} |")
            os.remove(path)


if __name__ == "__main__":
    main()
