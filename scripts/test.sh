#!/usr/bin/env bash
# Installs what is missing, builds everything and runs the whole test suite under AddressSanitizer
# and UndefinedBehaviorSanitizer (the asan preset), then the engine's tests under ThreadSanitizer
# (the tsan preset). The plain build is what scripts/run.sh builds and starts.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
cmake --preset asan
cmake --build --preset asan
ctest --preset asan
cmake --preset tsan
cmake --build --preset tsan
ctest --preset tsan
