#!/usr/bin/env bash
# The engine's three-deck throughput against ffmpeg doing the same mix, run in turns (engine,
# ffmpeg, engine, ...) so that both see the same machine; on a shared machine single runs differ by
# a fifth. Prints every run's CPU seconds (user + system, all threads) and the medians.
#   bench/throughput-vs-ffmpeg.sh [BENCH_BINARY] [RUNS]
set -euo pipefail
bin=${1:-build-bench/bench/fadewell_bench}
runs=${2:-5}
dir=${FADEWELL_BENCH_DIR:-/tmp/fadewell-bench}

# The fixtures are the benchmark's own; one run of each writes any that are missing.
"$bin" --benchmark_filter='BM_ThreeDeckThroughput' >/dev/null

median() { printf '%s\n' "$@" | sort -g | awk '{v[NR]=$1} END {print (NR%2) ? v[(NR+1)/2] : (v[NR/2]+v[NR/2+1])/2}'; }

TIMEFORMAT='%U %S'
printf '%-5s %-40s %-40s %s\n' format "engine CPU s" "ffmpeg CPU s" "ffmpeg/engine (medians)"
index=0
for ext in wav flac mp3 m4a; do
  engine=() ffmpeg=()
  for ((i = 0; i < runs; i++)); do
    engine+=("$("$bin" --benchmark_filter="BM_ThreeDeckThroughput/$index/" --benchmark_format=json 2>/dev/null |
      python3 -c 'import json,sys; print(round(json.load(sys.stdin)["benchmarks"][0]["process_cpu_s"], 3))')")
    t=$( { time ffmpeg -nostdin -hide_banner -loglevel error -threads 1 -filter_complex_threads 1 \
      -i "$dir/tone-10min-0.$ext" -i "$dir/tone-10min-1.$ext" -i "$dir/tone-10min-2.$ext" \
      -filter_complex "amix=inputs=3,aresample=48000" -f null - ; } 2>&1)
    ffmpeg+=("$(awk '{printf "%.3f", $1 + $2}' <<<"$t")")
  done
  e=$(median "${engine[@]}") f=$(median "${ffmpeg[@]}")
  printf '%-5s %-40s %-40s %.2f\n' "$ext" "${engine[*]}" "${ffmpeg[*]}" "$(awk -v e="$e" -v f="$f" 'BEGIN {print f / e}')"
  index=$((index + 1))
done
