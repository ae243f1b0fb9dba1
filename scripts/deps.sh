#!/usr/bin/env bash
# Installs, from Debian's packages, whatever the build, the program and the tests need and the
# machine lacks. The one list of packages for both README commands.
#   deps.sh          what the build, the program and the tests need
#   deps.sh bench    that, and what the benchmarks compare against (bench/README.md)
#   deps.sh fuzz     that, and clang with its libFuzzer and sanitizer runtimes (scripts/fuzz.sh)
set -euo pipefail

packages=(
  # build (g++ brings its own ASan, UBSan and TSan runtimes for the asan and tsan presets)
  cmake ninja-build g++ pkg-config
  # libraries
  qt6-base-dev portaudio19-dev libpulse-dev libjack-jackd2-dev libsndfile1-dev libflac-dev libsoxr-dev libasound2-dev libmpg123-dev
  # every other format of a music library (AAC, ALAC, WMA, Monkey's Audio, WavPack, Opus, ...)
  libavformat-dev libavcodec-dev libavutil-dev libswresample-dev
  # control from outside: OSC over UDP, MIDI from the ALSA sequencer and JACK
  liblo-dev librtmidi-dev
  # the seven-segment face of the time displays, and a condensed face for the captions
  fonts-dseg fonts-dejavu-extra
  # tests and benchmarks
  libgtest-dev libgmock-dev libbenchmark-dev
  # the tests' fixtures in the formats FFmpeg reads: ffmpeg's encoders, and Musepack's
  ffmpeg musepack-tools
  # a private sound server, a virtual display and tools to drive and measure them
  pulseaudio pulseaudio-utils libasound2-plugins alsa-utils sox xvfb xauth xdotool
  # a private JACK server on its dummy backend, its graph listed and recorded (jack_lsp, jack_rec)
  jackd2
  # the other sound server desktops run, with its session manager and PulseAudio service
  # (scripts/pipewire-server.sh)
  pipewire wireplumber pipewire-pulse
  # the icon's PNGs, rendered from its SVG (the SVG reader is in the -extra library, which a
  # machine with imagemagick alone may lack)
  imagemagick libmagickcore-6.q16-6-extra
  # reading the console's labels from outside (accessibility bus on a private session bus)
  at-spi2-core python3-pyatspi dbus
  # checking the installed desktop entry, and its MIME types against the shared MIME database
  desktop-file-utils shared-mime-info
  # the locale sources from which a test compiles a comma-decimal language (German) for itself
  locales
)
if [ "${1:-}" = "bench" ]; then
  # the engine's throughput is compared with ffmpeg doing the same mix; the soak is timed with time -v;
  # the live output plays real music (a game's orchestral soundtrack) to measure its CPU time
  packages+=(time wesnoth-1.16-music)
fi
if [ "${1:-}" = "fuzz" ]; then
  packages+=(clang libclang-rt-14-dev)
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
