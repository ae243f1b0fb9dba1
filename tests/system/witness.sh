#!/usr/bin/env bash
# The dropout analysis tells the recorder's faults from the program's: recordings made to order,
# the decks' tones with the reference tones beside them, some with samples cut out of the whole
# recording (what a recorder that falls behind loses) or silenced in it (a sink or a recorder that
# left the whole mix out), some with a gap in the decks' tones alone (what a program that falls
# behind leaves).
#   witness.sh BUILD_DIR
set -uo pipefail
build=$(cd "${1:?build dir}" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
. "$here/lib.sh"
fw_init
analyse=$build/tests/fadewell_dropout_analyse
cd "$FW_TMP" || exit 1
sox -D -n -r 44100 -b 16 -c 2 decks.wav synth 12 sine 440 synth 12 sine mix 1000 vol 0.39
# The reference as lib.sh plays it; short.wav ends at 8 s, before the decks.
for length in 12 8; do
  sox -D -n -r 44100 -b 16 -c 2 "reference$length.wav" synth $length sine "${FW_REFERENCE_TONES%,*}" synth $length \
    sine mix "${FW_REFERENCE_TONES#*,}" vol "$FW_REFERENCE_VOLUME"
done
# The decks fall silent for 30 ms at 9 s; the reference sounds on.
sox decks.wav early.wav trim 0 9 pad 0 0.03
sox decks.wav late.wav trim 9.03
sox early.wav late.wav decks-gap.wav
mix() { sox -D -m "$1" "$2" -t raw -e signed -b 16 "$3.raw"; }
mix decks.wav reference12.wav whole
mix decks-gap.wav reference12.wav program-gap
mix decks.wav reference8.wav short
# cut RAW SECONDS:FRAMES...: the recording less FRAMES at SECONDS, and so on (the seconds falling);
# SECONDS+FRAMES: FRAMES made digital silence there (the whole mix left out, its time kept).
cut() {
  local raw=$1 at frames
  shift
  for place in "$@"; do
    at=${place%[:+]*} frames=${place#*[:+]}
    { head -c $((44100 * 4 * at)) "$raw"
      [[ $place != *+* ]] || head -c $((frames * 4)) /dev/zero
      tail -c +$((44100 * 4 * at + frames * 4 + 1)) "$raw"; } >cut.raw
    mv cut.raw "$raw"
  done
}
max_step=$(fw_max_step 0.39 440,1000)
# the "recording:" line's first word, the exit code, the recording, the frames cut from it where
while read -r whole code in places; do
  name=$in${places:+ less $places}
  cp "$in.raw" this.raw
  [ -z "$places" ] || cut this.raw $places
  out=$("$analyse" this.raw steady=440,1000 max_step="$max_step" reference="$FW_REFERENCE_TONES")
  status=$?
  verdict=$(grep '^recording: [wNg]' <<<"$out")
  expect "$name: \"$verdict\" (exit $status; $(tail -1 <<<"$out"))" \
    test "$(awk '{print $2}' <<<"$verdict")" = "$whole" -a "$status" = "$code"
done <<'CASES'
whole 0 whole
whole 1 program-gap
NOT 3 short
gaps 0 whole 5:5
gaps 0 whole 5:40
gaps 0 whole 5:455
gaps 0 whole 5:941
gaps 0 whole 5:4410
gaps 1 program-gap 5:512
gaps 0 whole 5+470
NOT 3 whole 7:512 3:512
CASES
fw_done
