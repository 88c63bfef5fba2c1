"""What the benchmark scripts share: one program run measured by
/usr/bin/time -v, and the machine's description for their tables."""
import os
import platform
import re
import subprocess
import sys
import time


def measure(command):
    """Wall seconds, CPU seconds (user + system) and peak resident set in kB
    of one run of `command`; exits with its standard error if it fails."""
    start = time.perf_counter()
    proc = subprocess.run(["/usr/bin/time", "-v"] + list(command), stdout=subprocess.DEVNULL,
                          stderr=subprocess.PIPE, text=True)
    wall = time.perf_counter() - start
    if proc.returncode != 0:
        sys.exit(f"{' '.join(command)} failed ({proc.returncode}):\n{proc.stderr}")
    rss_kb = int(re.search(r"Maximum resident set size \(kbytes\): (\d+)", proc.stderr).group(1))
    cpu = sum(float(re.search(rf"{kind} time \(seconds\): ([\d.]+)", proc.stderr).group(1))
              for kind in ("User", "System"))
    return wall, cpu, rss_kb


def machine_description():
    model = "unknown"
    try:
        for line in subprocess.run(["lscpu"], capture_output=True, text=True).stdout.splitlines():
            if line.startswith("Model name:"):
                model = line.split(":", 1)[1].strip()
    except OSError:
        pass
    return f"{model}, {os.cpu_count()} cores, {platform.system()} {platform.release()}"
