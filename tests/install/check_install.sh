#!/usr/bin/env bash
# Installs the build into a staging folder (prefix /usr) and checks what a packager and a
# desktop need: every file in place, the desktop entry and the AppStream metainfo as their
# validators see them, the man pages as man sees them, the licence in the copyright file,
# the completion as bash runs it, the data folder the man pages name, --help and --version without a display, and the staged
# panel started from / painting its tiled background.
#   check_install.sh CMAKE BUILD_DIR
set -euo pipefail
cmake=$1
build=$2
id=example.vellicor.Quillmark
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
DESTDIR=$stage "$cmake" --install "$build" --prefix /usr >/dev/null
usr=$stage/usr

expected=(
  bin/quillmark bin/quillmark-send
  share/quillmark/DarkRivets.bmp
  share/applications/$id.desktop
  share/metainfo/$id.metainfo.xml
  share/icons/hicolor/scalable/apps/$id.svg
  share/man/man1/quillmark.1.gz share/man/man1/quillmark-send.1.gz
  share/bash-completion/completions/quillmark-send
  share/doc/quillmark/copyright share/doc/quillmark/changelog.gz
)
for size in 16 22 24 32 48 64 128 256; do
  expected+=("share/icons/hicolor/${size}x${size}/apps/$id.png")
done
for file in "${expected[@]}"; do
  [[ -f $usr/$file ]] || fail "not installed: $file"
done
for program in quillmark quillmark-send; do
  [[ -x $usr/bin/$program ]] || fail "not executable: bin/$program"
done
for size in 16 22 24 32 48 64 128 256; do
  png=$usr/share/icons/hicolor/${size}x${size}/apps/$id.png
  [[ $(identify -format '%wx%h' "$png" 2>/dev/null) == "${size}x${size}" ]] || fail "$png is not ${size}x${size}"
done

# The copyright file carries LICENSE whole: its copyright line, and its text as the last
# licence paragraph, each line indented by one space and an empty line written " .".
copyright=$usr/share/doc/quillmark/copyright
licence=$(dirname "$0")/../../LICENSE
grep -qx 'Copyright: 2026 the Quillmark developers' "$copyright" || fail "copyright lacks the copyright line"
text=$(awk '/^License: / { text = ""; next } { text = text $0 "\n" } END { printf "%s", text }' "$copyright")
[[ $text == "$(sed '1,/^Copyright (c) /d' "$licence" | sed '/./,$!d; s/^$/./; s/^/ /')" ]] ||
  fail "the licence text in copyright is not that of LICENSE"

desktop=$usr/share/applications/$id.desktop
desktop-file-validate "$desktop" || fail "desktop-file-validate: $desktop"
grep -qx 'Exec=quillmark' "$desktop" || fail "Exec does not name the installed program"
grep -qx "Icon=$id" "$desktop" || fail "Icon does not name the installed icon"
grep -qx 'Categories=AudioVideo;Audio;Midi;' "$desktop" || fail "Categories"
appstreamcli validate --no-net --explain "$usr/share/metainfo/$id.metainfo.xml" >/dev/null ||
  fail "appstreamcli validate: $(appstreamcli validate --no-net "$usr/share/metainfo/$id.metainfo.xml")"
grep -q '<screenshot type="default">' "$usr/share/metainfo/$id.metainfo.xml" || fail "metainfo names no screenshot"

grep -q '/usr/share/quillmark' <(zcat "$usr/share/man/man1/quillmark.1.gz") ||
  fail "man quillmark does not name the installed data folder /usr/share/quillmark"
for page in quillmark quillmark-send; do
  warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$usr/share/man/man1/$page.1.gz" 2>&1 >/dev/null)
  [[ -z $warnings ]] || fail "man $page: $warnings"
done

# The installed completion as an interactive bash runs it, output names with ':' included.
python3 "$(dirname "$0")/../cli/completion_test.py" "$usr/share/bash-completion/completions/quillmark-send" ||
  fail "completion of quillmark-send"

# The command-line companion runs where no GUI libraries are installed.
if ldd "$usr/bin/quillmark-send" | grep -E 'libQt|libX11|libxcb|libicu|libglib'; then
  fail "quillmark-send links toolkit libraries"
fi

# --help and --version print and end without a display.
for program in quillmark quillmark-send; do
  version=$(cd / && env -u DISPLAY -u WAYLAND_DISPLAY "$usr/bin/$program" --version) ||
    fail "$program --version failed"
  [[ $version == "$program 1.0.0.0" ]] || fail "$program --version: $version"
  (cd / && env -u DISPLAY -u WAYLAND_DISPLAY "$usr/bin/$program" --help | grep -q '^usage: ') ||
    fail "$program --help"
done

# The staged panel started from /, with a profile past its first run: the rivets
# (a dark bitmap, mean under 25%) cover most of the window; without them the panel is the
# light dialog grey.
profile=$stage/config
mkdir -p "$profile/Vellicor"
printf '[Settings]\nMIDI%%20Channel=1\n' >"$profile/Vellicor/Quillmark.conf"
mean=$(
  cd /
  XDG_CONFIG_HOME=$profile QT_QPA_PLATFORM=xcb timeout 120 xvfb-run -a -s '-screen 0 640x480x24' bash -c '
    "$1" & panel=$!
    window=$(timeout 60 xdotool search --sync --onlyvisible --name "^Quillmark\$" | head -1)
    # The first paint follows the map: capture until the window is no longer blank.
    for attempt in $(seq 100); do
      mean=$(import -window "$window" -colorspace Gray -format "%[fx:mean]" info: 2>/dev/null || echo 1)
      awk -v m="$mean" "BEGIN { exit !(m < 0.6) }" && break
      xdotool sleep 0.1
    done
    echo "$mean"
    kill "$panel"; wait "$panel" 2>/dev/null || true' _ "$usr/bin/quillmark"
)
echo "panel mean brightness: $mean"
awk -v m="$mean" 'BEGIN { exit !(m < 0.6) }' || fail "panel started from / shows no tiled background (mean brightness $mean)"

[[ $failures -eq 0 ]] && echo "install: all checks passed"
exit $((failures > 0))
