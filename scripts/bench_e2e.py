#!/usr/bin/env python3
"""Times kdsp as a whole process on a synthesized 30 s capture.

For each kernel: the median and the fastest wall time of --runs runs, the
median CPU time (user + system, less disturbed than the wall time when other
work shares the cores) and the peak resident memory reported by
/usr/bin/time -v. Prints one Markdown
table; with --markdown FILE also writes it there with the machine's
description.

    scripts/bench_e2e.py [--build build/default] [--runs 5] [--duration 30]
                         [--markdown docs/benchmarks.md]
"""
import argparse
import os
import statistics
import struct
import subprocess
import tempfile

from measure_run import machine_description, measure

OP_LI, OP_ADDI, OP_XOR, OP_GETIQ, OP_FMDEMOD, OP_FSHIFT = 0x01, 0x03, 0x07, 0x20, 0x21, 0x22
EMIT, HALT = 0x30000000, 0xFF000000


def mb(figures):
    """A measurement with its peak resident set in MB."""
    wall, cpu, rss_kb = figures
    return wall, cpu, rss_kb / 1000.0


def li(rd, imm20):
    return OP_LI << 24 | rd << 20 | (imm20 & 0xFFFFF)


def rrr(op, rd, ra, rb):
    return op << 24 | rd << 20 | ra << 16 | rb << 12


def addi(rd, ra, imm16):
    return OP_ADDI << 24 | rd << 20 | ra << 16 | (imm16 & 0xFFFF)


def kernel_image(words):
    """Header: magic, version 1, header size 32, word count, data size 0,
    entry 0, three reserved words; then the words, little-endian."""
    header = b"KDSP" + struct.pack("<HHIII3I", 1, 32, len(words), 0, 0, 0, 0, 0)
    return header + b"".join(struct.pack("<I", w) for w in words)


def demod_then_shifts(shift_count):
    """GETIQ r2; LI r4,25000; FMDEMOD r3,r2,r4; (LI r5,300; FSHIFT r3,r3,r5)...;
    ADDI r1,r3,0; EMIT; HALT."""
    words = [rrr(OP_GETIQ, 2, 0, 0), li(4, 25000), rrr(OP_FMDEMOD, 3, 2, 4)]
    if shift_count:
        words.append(li(5, 300))
    words += [rrr(OP_FSHIFT, 3, 3, 5)] * shift_count
    return words + [addi(1, 3, 0), EMIT, HALT]


def demods(count, offset_hz=25000):
    """GETIQ r2; LI r4,offset; FMDEMOD r3,r2,r4 (count times); ADDI r1,r3,0; EMIT; HALT.
    A negative offset is built as LI of its magnitude, then XOR/ADD into the
    two's complement through r0 (which stays 0)."""
    words = [rrr(OP_GETIQ, 2, 0, 0)]
    if offset_hz >= 0:
        words.append(li(4, offset_hz))
    else:
        words += [li(4, -offset_hz), addi(5, 0, -1), rrr(OP_XOR, 4, 4, 5), addi(4, 4, 1)]
    words += [rrr(OP_FMDEMOD, 3, 2, 4)] * count
    return words + [addi(1, 3, 0), EMIT, HALT]


KERNELS = [
    ("FMDEMOD, EMIT (six words)", demod_then_shifts(0)),
    ("FMDEMOD, FSHIFT 300, EMIT", demod_then_shifts(1)),
    ("FMDEMOD, 31 x FSHIFT 300, EMIT", demod_then_shifts(31)),
    ("32 x FMDEMOD, EMIT", demods(32)),
]


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build", default="build/default")
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--duration", default="30")
    parser.add_argument("--markdown")
    args = parser.parse_args()

    kdsp = os.path.join(args.build, "kdsp")
    synth = os.path.join(args.build, "tools", "kdsp-synth", "kdsp-synth")
    with tempfile.TemporaryDirectory(prefix="kdsp-bench-") as tmp:
        capture = os.path.join(tmp, "capture.iq")
        subprocess.run([synth, "--audio", "voice", "--offset", "25000", "--cnr", "30", "--seed", "7",
                        "--duration", args.duration, capture], check=True, stdout=subprocess.DEVNULL)
        rows = []
        for name, words in KERNELS:
            kernel = os.path.join(tmp, "kernel.kdsp")
            with open(kernel, "wb") as f:
                f.write(kernel_image(words))
            runs = [mb(measure([kdsp, capture, kernel, os.path.join(tmp, "out.wav")])) for _ in range(args.runs)]
            walls = [w for w, _, _ in runs]
            cpus = [c for _, c, _ in runs]
            rows.append((name, statistics.median(walls), min(walls), statistics.median(cpus),
                         max(r for _, _, r in runs)))

    table = [f"{args.duration} s capture, {args.runs} runs per kernel.", "",
             "| kernel | median s | min s | median CPU s | peak RSS MB |", "|---|---:|---:|---:|---:|"]
    table += [f"| {n} | {med:.3f} | {mn:.3f} | {cpu:.2f} | {rss:.1f} |" for n, med, mn, cpu, rss in rows]
    text = "\n".join(table)
    print(text)
    if args.markdown:
        # The end-to-end part is rewritten; any sections after it are kept.
        kept = ""
        if os.path.exists(args.markdown):
            with open(args.markdown) as f:
                old = f.read()
            if "\n## Micro" in old:
                kept = old[old.index("\n## Micro"):]
        with open(args.markdown, "w") as f:
            f.write("# Benchmarks\n\nEnd to end (`scripts/bench_e2e.py`), on " + machine_description() +
                    ":\n\n" + text + "\n" + kept)


if __name__ == "__main__":
    main()
