#!/usr/bin/env bash
# Ten minutes of real music a deck, for the benchmarks that want more than tones: tracks of the
# wesnoth-1.16-music package (an orchestral game soundtrack, scripts/deps.sh bench), joined in three
# different orders and encoded by ffmpeg, 44.1 kHz stereo (or MUSIC_RATE). Files already there are
# kept.
#   bench/music.sh DIR EXT...        DIR/music{A,B,C}.EXT  (EXT: wav, flac, mp3, m4a)
#   bench/music.sh --bench DIR EXT...   the same, under the names the throughput benchmark reads
#                                       (DIR/tone-10min-{0,1,2}.EXT): FADEWELL_BENCH_DIR=DIR
#                                       bench/throughput-vs-ffmpeg.sh then mixes music
set -euo pipefail
bench=0
[ "${1:-}" = --bench ] && { bench=1; shift; }
dir=${1:?directory}; shift
rate=${MUSIC_RATE:-44100}
music=/usr/share/games/wesnoth/1.16/data/core/music
[ -d "$music" ] || { echo "no music: scripts/deps.sh bench installs wesnoth-1.16-music" >&2; exit 1; }
mkdir -p "$dir"
mapfile -t tracks < <(ls "$music"/*.ogg | sort)
# 16-bit, as CDs and their copies are: ffmpeg would make a 24-bit FLAC of the soundtrack's Vorbis,
# and paplay (pacat 16) sends a 24-bit FLAC's bytes to the server undecoded, as noise.
declare -A codec=([wav]="-c:a pcm_s16le" [flac]="-c:a flac -sample_fmt s16" [mp3]="-c:a libmp3lame -b:a 192k" [m4a]="-c:a aac -b:a 192k")
for ext in "$@"; do
  for deck in A B C; do
    n=$(($(printf '%d' "'$deck") - 65))
    out=$dir/music$deck.$ext
    [ $bench = 1 ] && out=$dir/tone-10min-$n.$ext
    [ -s "$out" ] && continue
    list=$dir/list$deck.txt
    : >"$list"
    for ((i = 0; i < 14; i++)); do echo "file '${tracks[(n * 7 + i) % ${#tracks[@]}]}'" >>"$list"; done
    # shellcheck disable=SC2086
    ffmpeg -nostdin -loglevel quiet -f concat -safe 0 -i "$list" -t 600 -ar "$rate" -ac 2 ${codec[$ext]} \
      "$out.part.$ext" && mv "$out.part.$ext" "$out"
  done
done
