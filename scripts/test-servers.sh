#!/usr/bin/env bash
# Installs what is missing, builds the program and runs the busy-machine system tests (three decks
# under a loaded processor, under disk and memory pressure, twelve hand-overs, and keys and clicks
# heard at once under load: this last on both servers) on a private
# PipeWire graph, as current desktops run it, and the same load with no sound server at all
# (PortAudio's ALSA path); scripts/test.sh runs them on PulseAudio, and the end-to-end test on both.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
cmake --preset default
cmake --build --preset system
ctest --preset default -L '^servers$'
