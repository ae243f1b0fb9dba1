#!/usr/bin/env bash
# Installs the built project into a temporary prefix, as `cmake --install` does for a user, and
# checks what landed: the two programs, the desktop entry, the icon in its three forms. Then builds
# the Debian package with CPack and checks its contents and that its Depends names the package of
# every library the installed programs need.
#   install.sh BUILD_DIR
set -euo pipefail
build=$(cd "${1:?build dir}" && pwd)

tmp=$(mktemp -d /tmp/fadewell-install-XXXXXX)
trap 'rm -rf "$tmp"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
pass() { echo "ok: $*"; }

prefix=$tmp/prefix
cmake --install "$build" --prefix "$prefix" >"$tmp/install.log" || { cat "$tmp/install.log"; exit 1; }

for exe in bin/fadewell bin/fadewell-mixer-test; do
  if [ -x "$prefix/$exe" ] && [ "$(head -c 4 "$prefix/$exe" | tail -c 3)" = ELF ]; then pass "$exe installed"; else fail "$exe missing or not a program"; fi
done

desktop=$prefix/share/applications/fadewell.desktop
if [ -f "$desktop" ]; then
  pass "desktop entry installed"
  if command -v desktop-file-validate >/dev/null; then
    if out=$(desktop-file-validate "$desktop" 2>&1) && [ -z "$out" ]; then pass "desktop entry validates"
    else fail "desktop-file-validate: $out"; fi
  else
    fail "desktop-file-validate not found (scripts/deps.sh installs desktop-file-utils)"
  fi
  entry() { sed -n "/^\[Desktop Entry\]/,/^\[/s/^$1=//p" "$desktop"; }
  [ "$(entry Name)" = Fadewell ] && pass "Name=Fadewell" || fail "Name is '$(entry Name)'"
  [ -n "$(entry Comment)" ] && pass "has a Comment" || fail "no Comment"
  [ "$(entry Type)" = Application ] && pass "Type=Application" || fail "Type is '$(entry Type)'"
  [ "$(entry Categories)" = "AudioVideo;Audio;Player;" ] && pass "Categories" || fail "Categories is '$(entry Categories)'"
  [ "$(entry Icon)" = fadewell ] && pass "Icon=fadewell" || fail "Icon is '$(entry Icon)'"
  exec_name=$(entry Exec | awk '{print $1}')
  [ "$exec_name" = fadewell ] && [ -x "$prefix/bin/$exec_name" ] && pass "Exec names the installed program" \
    || fail "Exec is '$(entry Exec)', not a program in bin/"
  # "Open with Fadewell" in a file manager hands over every chosen file: %F, local paths.
  [ "$(entry Exec)" = "fadewell %F" ] && pass "Exec=fadewell %F" || fail "Exec is '$(entry Exec)', not 'fadewell %F'"
  # Each type is the shared MIME database's own name for it (an alias or a misspelling would never
  # match a file), and the everyday formats are all there.
  mime_types=$(entry MimeType | tr ';' '\n' | grep .)
  unknown=$(for t in $mime_types; do [ -f "/usr/share/mime/$t.xml" ] || echo "$t"; done)
  [ -n "$mime_types" ] && [ -z "$unknown" ] && pass "MimeType names $(echo "$mime_types" | wc -l) types the MIME database knows" \
    || fail "MimeType types not in /usr/share/mime: '${unknown:-none given}'"
  for t in audio/x-wav audio/flac audio/mpeg audio/x-vorbis+ogg audio/mp4 audio/x-wavpack; do
    grep -qx "$t" <<<"$mime_types" && pass "MimeType has $t" || fail "MimeType lacks $t"
  done
else
  fail "no share/applications/fadewell.desktop"
fi

svg=$prefix/share/icons/hicolor/scalable/apps/fadewell.svg
if [ -f "$svg" ] && python3 -c 'import sys, xml.etree.ElementTree as E; r = E.parse(sys.argv[1]).getroot(); sys.exit(r.tag != "{http://www.w3.org/2000/svg}svg")' "$svg"; then
  pass "scalable icon is an SVG document"
else
  fail "scalable icon missing or not SVG"
fi
for size in 32 48; do
  png=$prefix/share/icons/hicolor/${size}x${size}/apps/fadewell.png
  if [ ! -f "$png" ]; then fail "no ${size}x${size} icon"; continue; fi
  got=$(identify -format '%m %wx%h' "$png" 2>/dev/null || true)
  [ "$got" = "PNG ${size}x${size}" ] && pass "${size}x${size} icon is a ${size}x${size} PNG" || fail "${size}x${size} icon is '$got'"
  # Drawn, not blank: the dark panel and the green knob are both there.
  colours=$(convert "$png" -alpha off -colors 16 -format %k info: 2>/dev/null || echo 0)
  [ "$colours" -ge 3 ] && pass "${size}x${size} icon has a picture ($colours colours)" || fail "${size}x${size} icon looks blank"
done

# Nothing else lands: an unexpected file is a packaging mistake (a test program, a header, a library).
expected="bin/fadewell
bin/fadewell-mixer-test
share/applications/fadewell.desktop
share/icons/hicolor/32x32/apps/fadewell.png
share/icons/hicolor/48x48/apps/fadewell.png
share/icons/hicolor/scalable/apps/fadewell.svg"
landed=$(cd "$prefix" && find . -type f | sed 's|^\./||' | sort)
[ "$landed" = "$expected" ] && pass "exactly the expected files landed" || fail "installed files differ:
$(diff <(echo "$expected") <(echo "$landed") || true)"

# The Debian package.
if cpack --config "$build/CPackConfig.cmake" -B "$tmp/pkg" >"$tmp/cpack.log" 2>&1; then
  deb=$(ls "$tmp"/pkg/fadewell_*_*.deb 2>/dev/null | head -1)
  if [ -n "$deb" ]; then
    pass "cpack made $(basename "$deb")"
    contents=$(dpkg-deb -c "$deb" | awk '{print $6}' | grep -v '/$' | sed 's|^\./usr/||' | sort)
    [ "$contents" = "$expected" ] && pass "package holds the installed files under /usr" || fail "package contents differ:
$(diff <(echo "$expected") <(echo "$contents") || true)"
    depends=$(dpkg-deb -f "$deb" Depends)
    declare -A dep=()
    for d in ${depends//,/ }; do case "$d" in [a-z0-9]*) dep[$d]=1 ;; esac; done
    for p in fonts-dseg libqt6widgets6 libportaudio2 libsndfile1 libsoxr0 libasound2 libmpg123-0 libflac12 \
      libavformat59 libavcodec59 libavutil57 libswresample4 qt6-qpa-plugins; do
      [ -n "${dep[$p]:-}" ] && pass "Depends lists $p" || fail "Depends lacks $p"
    done
    # Every library the programs load directly comes from a package that Depends names.
    for exe in fadewell fadewell-mixer-test; do
      for lib in $(objdump -p "$prefix/bin/$exe" | awk '/NEEDED/ {print $2}'); do
        # "libfoo.so.1 => /path (addr)", or "/path/ld-linux-x86-64.so.2 (addr)" for the loader.
        path=$(ldd "$prefix/bin/$exe" | awk -v l="$lib" '$1 == l {print $3} $1 ~ ("/" l "$") {print $1}' | head -1)
        owner=$(dpkg -S "$(readlink -f "$path")" 2>/dev/null | head -1 | cut -d: -f1 || true)
        [ -n "$owner" ] || owner=$(dpkg -S "$path" 2>/dev/null | head -1 | cut -d: -f1 || true)
        if [ -n "$owner" ] && [ -n "${dep[$owner]:-}" ]; then pass "$exe needs $lib, from $owner, listed"
        else fail "$exe needs $lib (package '${owner:-unknown}'), not in Depends: $depends"; fi
      done
    done
  else
    fail "cpack made no .deb"; cat "$tmp/cpack.log"
  fi
else
  fail "cpack failed"; cat "$tmp/cpack.log"
fi

echo "install check: $failures failure(s)"
[ "$failures" -eq 0 ]
