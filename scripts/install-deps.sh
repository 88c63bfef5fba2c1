#!/usr/bin/env bash
# Installs what the build and the test suite need, from Debian's packages,
# only when something is missing. Runs as root (CI) or through sudo.
set -euo pipefail

packages=(
  build-essential cmake pkg-config
  libgtest-dev libbenchmark-dev libfftw3-dev time
  clang libclang-rt-14-dev llvm
  binutils valgrind
  sox python3
  libsndfile1-dev libsoxr-dev libpng-dev
  libliquid-dev nlohmann-json3-dev codec2-examples
  parallel
)

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
