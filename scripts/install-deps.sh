#!/usr/bin/env bash
# Installs Debian's packages that kdsp needs, only when something is missing.
# Runs as root (CI) or through sudo.
#   scripts/install-deps.sh programs   what building and running the programs needs
#   scripts/install-deps.sh [all]      that, and what the tests, fuzzing,
#                                      benchmarks, manual pages and package need
#   scripts/install-deps.sh bench      that, and GNU Radio for the comparison in
#                                      scripts/bench_rx.py (large; CI leaves it out)
set -euo pipefail

# Building the programs, and the libraries they run with.
programs=(
  build-essential cmake pkg-config
  libsndfile1-dev libsoxr-dev libpng-dev
  libcli11-dev libliquid-dev libfftw3-dev nlohmann-json3-dev zlib1g-dev
  libsoapysdr-dev libebur128-dev
)

# The test suite and everything CI runs beside it.
development=(
  libgtest-dev libbenchmark-dev time
  clang libclang-rt-14-dev llvm
  binutils valgrind
  sox python3 codec2-examples
  parallel rsync openssh-server openssh-client
  scdoc man-db dpkg-dev
  chromium chromium-driver python3-selenium
)

# The comparison flowgraph of scripts/bench_rx.py, and numpy for its recording.
bench=(gnuradio python3-numpy)

case "${1:-all}" in
  programs) packages=("${programs[@]}") ;;
  all) packages=("${programs[@]}" "${development[@]}") ;;
  bench) packages=("${programs[@]}" "${development[@]}" "${bench[@]}") ;;
  *)
    echo "usage: $0 [programs|all|bench]" >&2
    exit 2
    ;;
esac

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if ((${#missing[@]} == 0)); then
  exit 0
fi

sudo_cmd=()
if [[ $(id -u) -ne 0 ]]; then sudo_cmd=(sudo); fi
echo "installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
