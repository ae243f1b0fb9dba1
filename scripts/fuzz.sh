#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, ASan + UBSan) and runs one of them; never part of the tests.
#   scripts/fuzz.sh decode [SECONDS]   arbitrary bytes as an audio file on a deck (default 600 s)
#   scripts/fuzz.sh decoder [SECONDS]  the same bytes to the decoder alone: its readers and fallbacks
#   scripts/fuzz.sh text [SECONDS]     the auto-fade text, FormatTime, StripPath, fade ticks
# The corpus grows in build-fuzz/corpus/TARGET, crashing inputs land in build-fuzz/artifacts/.
# Extra arguments after SECONDS go to libFuzzer (e.g. a crash file to replay it).
set -euo pipefail
cd "$(dirname "$0")/.."
target=${1:?decode, decoder or text}
seconds=${2:-600}
shift $(( $# < 2 ? $# : 2 ))
scripts/deps.sh fuzz
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz --target "fuzz_$target" fuzz_seeds

corpus=build-fuzz/corpus/$target
artifacts=build-fuzz/artifacts/$target
mkdir -p "$corpus" "$artifacts"
case "$target" in
decode | decoder)
  [ -n "$(ls -A "$corpus")" ] || build-fuzz/fuzz/fuzz_seeds "$corpus"
  max_len=32768
  ;;
text)
  [ -n "$(ls -A "$corpus")" ] || printf '\0\0\0\0004' >"$corpus/seed-4"
  max_len=4096
  ;;
*) echo "unknown target $target" >&2; exit 2 ;;
esac

export ASAN_OPTIONS="detect_leaks=1:halt_on_error=1:abort_on_error=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export LSAN_OPTIONS="suppressions=$PWD/scripts/lsan.supp:print_suppressions=0"
export QT_QPA_PLATFORM=offscreen
exec "build-fuzz/fuzz/fuzz_$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
  -max_len="$max_len" -print_final_stats=1 -artifact_prefix="$artifacts/" "$@" "$corpus"
