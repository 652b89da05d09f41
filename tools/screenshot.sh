#!/usr/bin/env bash
# Makes docs/screenshot.png: the panel as a user first sees it, under Xvfb with openbox,
# started from / with a fresh profile past its first run.
#   screenshot.sh [PROGRAM [OUTPUT]]   default: the default build's quillmark
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
program=$(realpath "${1:-$root/build/default/bin/quillmark}")
output=$(realpath -m "${2:-$root/docs/screenshot.png}")
profile=$(mktemp -d)
trap 'rm -rf "$profile"' EXIT
mkdir -p "$profile/Vellicor"
printf '[Settings]\nMIDI%%20Channel=1\n' >"$profile/Vellicor/Quillmark.conf"

cd /
XDG_CONFIG_HOME=$profile QT_QPA_PLATFORM=xcb timeout 120 \
  xvfb-run -a -s '-screen 0 480x320x24 -dpi 96' bash -c '
  set -euo pipefail
  openbox & wm=$!
  for attempt in $(seq 100); do
    xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q "window id" && break
    xdotool sleep 0.1
  done
  "$1" & panel=$!
  window=$(timeout 60 xdotool search --sync --onlyvisible --name "^Quillmark\$" | head -1)
  xdotool windowmove --sync "$window" 24 24
  xdotool sleep 1  # the first paint
  # The window with the frame openbox draws around it.
  read -r left right top bottom < <(xprop -id "$window" _NET_FRAME_EXTENTS | tr -d , | awk "{print \$3, \$4, \$5, \$6}")
  geometry=$(xwininfo -id "$window")
  x=$(awk "/Absolute upper-left X/ {print \$NF}" <<<"$geometry")
  y=$(awk "/Absolute upper-left Y/ {print \$NF}" <<<"$geometry")
  width=$(awk "/Width:/ {print \$NF}" <<<"$geometry")
  height=$(awk "/Height:/ {print \$NF}" <<<"$geometry")
  import -window root -crop "$((width + left + right))x$((height + top + bottom))+$((x - left))+$((y - top))" \
    +repage "$2"
  kill "$panel" "$wm"
  wait "$panel" 2>/dev/null || true' _ "$program" "$output"
echo "wrote $output"
