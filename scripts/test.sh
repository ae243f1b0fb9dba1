#!/usr/bin/env bash
# Installs what is missing, builds everything and runs the whole test suite:
#  1. the plain build (what scripts/run.sh starts and the package ships): the system tests, which
#     run the built program as a user does, the real-time safety tests, whose detector replaces
#     malloc and the lock calls that a sanitizer's runtime owns, and the engine's memory test, which
#     counts what is resident;
#  2. every other test under AddressSanitizer and UndefinedBehaviorSanitizer (the asan preset).
# The engine's tests under ThreadSanitizer are a second command, scripts/test-threads.sh, and the
# busy-machine tests on PipeWire a third, scripts/test-servers.sh, so that this one stays within
# fifteen minutes on two cores.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
cmake --preset default
cmake --build --preset system
ctest --preset default -R '^system\.|RealtimeSafety|EngineMemory' -LE '^servers$'
cmake --preset asan
cmake --build --preset asan
ctest --preset asan
