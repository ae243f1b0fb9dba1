#!/usr/bin/env bash
# The dropout analysis tells the recorder's faults from the program's: recordings made to order,
# the decks' tones with the reference tones beside them, some with samples cut out of the whole
# recording (what a recorder that falls behind loses), one with a gap in the decks' tones alone
# (what a program that falls behind leaves).
#   witness.sh BUILD_DIR
set -uo pipefail
build=$(cd "${1:?build dir}" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
. "$here/lib.sh"
fw_init
analyse=$build/tests/fadewell_dropout_analyse
cd "$FW_TMP" || exit 1
raw() { sox -D -m "$@" -t raw -e signed -b 16 -; }
sox -D -n -r 44100 -b 16 -c 2 decks.wav synth 12 sine 440 synth 12 sine mix 1000 vol 0.39
sox -D -n -r 44100 -b 16 -c 2 reference.wav synth 12 sine "${FW_REFERENCE_TONES%,*}" synth 12 sine mix \
  "${FW_REFERENCE_TONES#*,}" vol "$FW_REFERENCE_VOLUME"
# The decks fall silent for 30 ms at 5 s; the reference sounds on.
sox decks.wav early.wav trim 0 5 pad 0 0.03
sox decks.wav late.wav trim 5.03
sox early.wav late.wav decks-gap.wav
raw decks.wav reference.wav >whole.raw
raw decks-gap.wav reference.wav >program-gap.raw
# cut N: the whole recording less N frames at 5 s.
cut() { { head -c $((44100 * 4 * 5)) whole.raw; tail -c +$((44100 * 4 * 5 + $1 * 4 + 1)) whole.raw; } >"lost$1.raw"; }
max_step=$(fw_max_step 0.39 440,1000)
# recording, expected "recording:" line, expected exit code
while read -r recording whole code; do
  case $recording in lost*) cut "${recording#lost}" ;; esac
  out=$("$analyse" "$recording.raw" steady=440,1000 max_step="$max_step" reference="$FW_REFERENCE_TONES")
  status=$?
  verdict=$(grep '^recording: [wN]' <<<"$out")
  expect "$recording: \"$verdict\" (exit $status; $(tail -1 <<<"$out"))" \
    test "$(awk '{print $2}' <<<"$verdict")" = "$whole" -a "$status" = "$code"
done <<'CASES'
whole whole 0
program-gap whole 1
lost5 NOT 3
lost40 NOT 3
lost455 NOT 3
lost941 NOT 3
lost4410 NOT 3
CASES
fw_done
