#!/usr/bin/python3
"""Times kdsp-rx beside a GNU Radio flowgraph doing the same job.

The recording: --duration seconds of cu8 at 2.4 MS/s (an 8-bit SDR's raw
output) holding one FM voice channel (5 kHz deviation, a few tones moving
like speech) at --offset from the centre, a second, weaker channel
elsewhere, and noise. It is synthesized here with numpy, one second at a
time, so its length costs no memory.

Both receivers make a 48 kHz 16-bit WAV of the channel:
  kdsp-rx    kdsp-rx REC.cu8 --rate 2.4M --offset HZ -j JOBS -q -o out.wav
  GNU Radio  file source -> cu8 to complex -> frequency-translating
             decimating FIR (to 240 kHz) -> quadrature demod ->
             low-pass decimating FIR (to 48 kHz) -> WAV sink
             (run as `bench_rx.py --flowgraph ...` in its own process)

For each: wall time, CPU time (user + system) and peak resident memory from
/usr/bin/time -v, --runs times alternating, the median printed. With
--markdown FILE the table is also written into that file under its own
heading, with the machine's description.

Needs Debian's gnuradio (scripts/install-deps.sh bench) and python3-numpy,
both for /usr/bin/python3; without gnuradio only kdsp-rx is timed and the
script says so.

    scripts/bench_rx.py [--build build/default] [--duration 120] [--runs 3]
                        [--jobs 2] [--markdown docs/benchmarks.md]
"""
import argparse
import os
import statistics
import subprocess
import sys
import tempfile

from measure_run import machine_description, measure

RATE = 2400000
AUDIO_RATE = 48000
CHANNEL_RATE = 240000
OFFSET_HZ = 300000
SECOND_OFFSET_HZ = -450000
DEVIATION_HZ = 5000.0


def synthesize(path, duration_s, offset_hz=OFFSET_HZ, seed=1):
    """Writes the cu8 recording one second at a time."""
    import numpy as np

    rng = np.random.default_rng(seed)
    phase = 0.0
    phase2 = 0.0
    with open(path, "wb") as out:
        for second in range(int(duration_s)):
            t = second + np.arange(RATE) / RATE
            # Speech-like: three tones whose loudness comes and goes.
            audio = (0.5 * np.sin(2 * np.pi * 440 * t) * (0.6 + 0.4 * np.sin(2 * np.pi * 0.7 * t))
                     + 0.3 * np.sin(2 * np.pi * 1230 * t) * (0.5 + 0.5 * np.sin(2 * np.pi * 1.9 * t))
                     + 0.2 * np.sin(2 * np.pi * 2710 * t))
            inst = 2 * np.pi * (offset_hz + DEVIATION_HZ * audio) / RATE
            ph = phase + np.cumsum(inst)
            phase = float(ph[-1]) % (2 * np.pi)
            inst2 = 2 * np.pi * (SECOND_OFFSET_HZ + 3000.0 * np.sin(2 * np.pi * 1000 * t)) / RATE
            ph2 = phase2 + np.cumsum(inst2)
            phase2 = float(ph2[-1]) % (2 * np.pi)
            sig = 0.4 * np.exp(1j * ph) + 0.1 * np.exp(1j * ph2)
            sig += 0.02 * (rng.standard_normal(RATE) + 1j * rng.standard_normal(RATE))
            iq = np.empty(2 * RATE, dtype=np.float64)
            iq[0::2] = sig.real
            iq[1::2] = sig.imag
            out.write(np.clip(np.round(iq * 127.5 + 127.5), 0, 255).astype(np.uint8).tobytes())


def flowgraph(recording, output, offset_hz):
    """The GNU Radio receiver, in this process."""
    from gnuradio import analog, blocks, filter, gr
    from gnuradio.fft import window
    from gnuradio.filter import firdes

    tb = gr.top_block("rx", catch_exceptions=False)
    source = blocks.file_source(gr.sizeof_char, recording, False)
    # cu8: interleaved unsigned bytes, 127.5 is zero.
    to_float = blocks.uchar_to_float()
    centre = blocks.add_const_ff(-127.5)
    scale = blocks.multiply_const_ff(1.0 / 127.5)
    to_complex = blocks.deinterleave(gr.sizeof_float)
    pair = blocks.float_to_complex()
    channel_taps = firdes.low_pass(1.0, RATE, 100000, 20000, window.WIN_HAMMING)
    translate = filter.freq_xlating_fir_filter_ccf(RATE // CHANNEL_RATE, channel_taps, offset_hz, RATE)
    demod = analog.quadrature_demod_cf(CHANNEL_RATE / (2 * 3.141592653589793 * DEVIATION_HZ))
    audio_taps = firdes.low_pass(0.5, CHANNEL_RATE, 3500, 1000, window.WIN_HAMMING)
    audio = filter.fir_filter_fff(CHANNEL_RATE // AUDIO_RATE, audio_taps)
    sink = blocks.wavfile_sink(output, 1, AUDIO_RATE, blocks.FORMAT_WAV, blocks.FORMAT_PCM_16, False)
    tb.connect(source, to_float, centre, scale, to_complex)
    tb.connect((to_complex, 0), (pair, 0))
    tb.connect((to_complex, 1), (pair, 1))
    tb.connect(pair, translate, demod, audio, sink)
    tb.run()
    return 0


def have_gnuradio():
    return subprocess.run(["/usr/bin/python3", "-c", "import gnuradio.gr"], stdout=subprocess.DEVNULL,
                          stderr=subprocess.DEVNULL).returncode == 0


def write_markdown(path, section):
    heading = "## kdsp-rx beside GNU Radio"
    text = open(path).read() if os.path.exists(path) else "# Benchmarks\n"
    start = text.find(heading)
    if start >= 0:
        end = text.find("\n## ", start + len(heading))
        text = text[:start] + section + ("" if end < 0 else text[end + 1:])
    else:
        text = text.rstrip("\n") + "\n\n" + section
    with open(path, "w") as out:
        out.write(text)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build", default="build/default")
    parser.add_argument("--duration", type=int, default=120)
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--jobs", type=int, default=2)
    parser.add_argument("--extra-duration", type=int, default=0,
                        help="also time kdsp-rx alone on a recording this long (memory against length)")
    parser.add_argument("--markdown")
    parser.add_argument("--flowgraph", nargs=3, metavar=("REC", "OUT", "OFFSET"), help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.flowgraph:
        return flowgraph(args.flowgraph[0], args.flowgraph[1], float(args.flowgraph[2]))

    rx = os.path.join(args.build, "tools", "kdsp-rx", "kdsp-rx")
    if not os.access(rx, os.X_OK):
        sys.exit(f"no kdsp-rx at {rx}: build first")
    gnuradio = have_gnuradio()
    if not gnuradio:
        print("GNU Radio is missing for /usr/bin/python3 (scripts/install-deps.sh bench installs it): "
              "timing kdsp-rx alone", file=sys.stderr)
    rows = []
    with tempfile.TemporaryDirectory(prefix="kdsp-bench-rx-") as tmp:
        durations = [args.duration] + ([args.extra_duration] if args.extra_duration else [])
        # Every recording is made before anything is timed.
        recordings = {}
        for duration in durations:
            recordings[duration] = os.path.join(tmp, f"rec{duration}.cu8")
            synthesize(recordings[duration], duration)
        for duration in durations:
            recording = recordings[duration]
            commands = {"kdsp-rx": [rx, recording, "--rate", str(RATE), "--offset", str(OFFSET_HZ), "-j",
                                    str(args.jobs), "-q", "-o", os.path.join(tmp, "rx.wav")]}
            if gnuradio and duration == args.duration:
                commands["GNU Radio flowgraph"] = ["/usr/bin/python3", os.path.abspath(__file__), "--flowgraph",
                                                   recording, os.path.join(tmp, "gr.wav"), str(OFFSET_HZ)]
            figures = {name: [] for name in commands}
            for _ in range(args.runs):
                for name, command in commands.items():
                    wall, cpu, rss_kb = measure(command)
                    figures[name].append((wall, cpu, rss_kb / 1024.0))
            for name, runs in figures.items():
                rows.append((name, duration, statistics.median(r[0] for r in runs),
                             statistics.median(r[1] for r in runs), max(r[2] for r in runs)))
    table = ["| receiver | recording | median wall s | median CPU s | peak RSS MB |", "|---|---|---:|---:|---:|"]
    for name, duration, wall, cpu, rss in rows:
        table.append(f"| {name} | {duration} s cu8, 2.4 MS/s | {wall:.2f} | {cpu:.2f} | {rss:.1f} |")
    ratio = ""
    by_name = {(r[0], r[1]): r for r in rows}
    if ("GNU Radio flowgraph", args.duration) in by_name:
        gr_wall = by_name[("GNU Radio flowgraph", args.duration)][2]
        rx_wall = by_name[("kdsp-rx", args.duration)][2]
        ratio = f"\nkdsp-rx takes {rx_wall / gr_wall:.2f} of the flowgraph's wall time.\n"
    section = (f"## kdsp-rx beside GNU Radio\n\n`scripts/bench_rx.py` on {machine_description()}, kdsp-rx with -j {args.jobs}, "
               f"{args.runs} alternating runs each:\n\n" + "\n".join(table) + "\n" + ratio)
    print(section)
    if args.markdown:
        write_markdown(args.markdown, section)
    return 0


if __name__ == "__main__":
    sys.exit(main())
