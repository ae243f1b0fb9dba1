#!/usr/bin/env bash
# Installs what is missing, builds the audio engine's tests under ThreadSanitizer (the tsan preset)
# and runs them, the real-device ones on a private sound server included: the audio callback, the
# worker and the user-interface thread share the engine's state.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
cmake --preset tsan
cmake --build --preset tsan
ctest --preset tsan
