#!/usr/bin/env bash
# The whole test suite: release build, then the same suite again under
# AddressSanitizer + UndefinedBehaviorSanitizer with leak detection.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh all
cmake --workflow --preset default
cmake --workflow --preset asan
