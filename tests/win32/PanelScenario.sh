#!/usr/bin/env bash
# The Windows panel under wine, on an X display and window manager of its own:
#  1. win32ui_tests.exe, the front end's tests in their own process;
#  2. quillmark.exe as a user meets it, typed at with xdotool, with the program's own WinMM
#     backend writing into the recording stand-in winmm.dll:
#     a first run shows Preferences alone, and the device ID typed there is stored;
#     with the profile holding "MIDI Channel" 1, "TargetDeviceID" 5 and "MIDI Output
#     Device" 0, typing P, E and keypad 1 and clicking ent sends the design's four messages
#     (from probe.exe, which holds the design's table); File > Preferences and
#     Help > About open their windows; a stored device the system does not have shows
#     "MIDI Device Error".
# Everything runs in a wine prefix of its own; every wait has a bound.
#   PanelScenario.sh WINE WINEPREFIX RUN_FOLDER TESTS_EXE QUILLMARK_EXE BACKGROUND STANDIN_DLL PROBE_EXE
set -euo pipefail

wine=$1
export WINEPREFIX=$2
run=$3
tests_exe=$4
quillmark_exe=$5
background=$6
standin=$7
probe_exe=$8

export WINEDEBUG=-all
bound=30  # seconds for each wait on the desktop or the program

pids=()
cleanup() {
  local status=$?
  # Our own programs first, then this prefix's wineserver, then the display.
  [[ -n ${program_pid:-} ]] && kill "$program_pid" 2>/dev/null || true
  WINEPREFIX=$WINEPREFIX "$(dirname "$wine")/wineserver" -k 2>/dev/null || true
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  exit "$status"
}
trap cleanup EXIT

fail() {
  echo "FAIL: $*" >&2
  if [[ -n ${DISPLAY:-} ]]; then
    echo "active window: $(xdotool getactivewindow getwindowname 2>/dev/null)" >&2
  fi
  if [[ -n ${DISPLAY:-} ]] && command -v import >/dev/null; then
    import -window root "$run/failure.png" 2>/dev/null && echo "screen: $run/failure.png" >&2
  fi
  exit 1
}

# A display of our own: Xvfb picks a free number and writes it to the file.
rm -rf "$run"
mkdir -p "$run"
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$run/display" >"$run/xvfb.log" 2>&1 &
pids+=($!)
for ((i = 0; i < bound * 10; ++i)); do
  [[ -s $run/display ]] && break
  sleep 0.1
done
[[ -s $run/display ]] || fail "Xvfb gave no display number"
export DISPLAY=:$(head -1 "$run/display")
openbox --sm-disable >"$run/openbox.log" 2>&1 &
pids+=($!)
for ((i = 0; i < bound * 10; ++i)); do
  xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q window && break
  sleep 0.1
done

export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
timeout 180 "$wine" wineboot --init >"$run/wineboot.log" 2>&1 || fail "wineboot"

echo "=== win32ui_tests"
timeout 300 "$wine" "$tests_exe" || fail "win32ui_tests"

# The program in a folder of its own beside the stand-in, which is loaded in place of
# the system's winmm.dll.
cp "$quillmark_exe" "$background" "$standin" "$probe_exe" "$run/"
cd "$run"
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d;winmm=n,b"
log=$run/midi.log
export QM_STANDIN_LOG="Z:${log//\//\\}"
key='HKCU\Software\Vellicor\Quillmark'

reg() { timeout "$bound" "$wine" reg.exe "$@" >/dev/null 2>&1; }
stored() {  # stored NAME: the value as reg query prints it
  timeout "$bound" "$wine" reg.exe query "$key\\Settings" /v "$1" 2>/dev/null | tr -d '\r' |
    awk -v name="$1" '$0 ~ name {print $NF}'
}
probe() { timeout "$bound" "$wine" probe.exe "$@" | tr -d '\r'; }
window() { timeout "$bound" xdotool search --sync --name "^$1\$" >/dev/null 2>&1; }
no_window() { ! xdotool search --name "^$1\$" >/dev/null 2>&1; }
wait_gone() {
  local i
  for ((i = 0; i < bound * 10; ++i)); do no_window "$1" && return 0; sleep 0.1; done
  fail "window \"$1\" still there"
}
start() {
  "$wine" quillmark.exe >"$run/quillmark.log" 2>&1 &
  program_pid=$!
}
ended() {
  local i
  for ((i = 0; i < bound * 10; ++i)); do
    kill -0 "$program_pid" 2>/dev/null || { wait "$program_pid" || true; program_pid=; return 0; }
    sleep 0.1
  done
  fail "quillmark.exe did not end"
}
lines() { [[ -f $log ]] && wc -l <"$log" || echo 0; }
wait_lines() {
  local i
  for ((i = 0; i < bound * 10; ++i)); do (($(lines) >= $1)) && return 0; sleep 0.1; done
  fail "the stand-in recorded $(lines) messages, expected $1"
}
# Makes the window the active one, and waits until the desktop says it is.
focus() {
  local id i
  for ((i = 0; i < bound * 5; ++i)); do
    id=$(xdotool search --name "^$1\$" 2>/dev/null | head -1) || true
    if [[ -n $id ]]; then
      [[ $(xdotool getactivewindow 2>/dev/null) == "$id" ]] && { sleep 0.2; return 0; }
      xdotool windowactivate "$id" >/dev/null 2>&1 || true
    fi
    sleep 0.2
  done
  fail "window \"$1\" does not become active"
}

echo "=== first run: Preferences alone, then the typed device ID is stored"
reg delete "$key" /f || true
start
window Preferences || fail "no Preferences window on a first run"
no_window Quillmark || fail "the panel came before the first-run Preferences"
[[ $(probe owner Preferences) == none ]] || fail "the first-run Preferences has an owner"
focus Preferences
# The focus starts in the device ID field.
xdotool key --delay 50 End BackSpace BackSpace BackSpace 5 Return
window Quillmark || fail "no panel after the first-run Preferences"
focus Quillmark
xdotool key Escape
ended
[[ $(stored TargetDeviceID) == 0x5 ]] || fail "TargetDeviceID is $(stored TargetDeviceID), typed 5"
[[ $(stored "MIDI Channel") == 0x1 ]] || fail "MIDI Channel is $(stored "MIDI Channel")"
[[ $(stored "MIDI Output Device") == 0x0 ]] || fail "MIDI Output Device is $(stored "MIDI Output Device")"

echo "=== keys typed and clicked reach the stand-in as the design's messages for device ID 5"
rm -f "$log"
start
window Quillmark || fail "no panel"
focus Quillmark
xdotool key --delay 100 p e KP_1
read -r x y < <(probe center Quillmark 69) || fail "no ent button"
xdotool mousemove "$x" "$y" click 1
wait_lines 4
probe expect 5 prog ent 1 ent >"$run/expected.txt"
tr -d '\r' <"$log" | diff -u "$run/expected.txt" - || fail "the stand-in recorded other bytes"

echo "=== File > Preferences and Help > About"
focus Quillmark
xdotool key --delay 200 F10 f p
window Preferences || fail "File > Preferences opened no window titled Preferences"
[[ $(probe owner Preferences) == Quillmark ]] || fail "Preferences is not owned by the panel"
focus Preferences
xdotool key Escape
wait_gone Preferences
focus Quillmark
# The About item has no mnemonic: it is the last of the Help menu.
xdotool key --delay 200 F10 h Up Return
window "About Quillmark" || fail "Help > About opened no window titled About Quillmark"
focus "About Quillmark"
xdotool key Return
wait_gone "About Quillmark"
focus Quillmark
xdotool key Escape
ended
(($(lines) == 4)) || fail "the menus sent keys"

echo "=== a stored device the system does not have shows MIDI Device Error"
# By number alone: the output's name, stored by Preferences, would be looked up instead.
reg add "$key\\Settings" /v "MIDI Output Device" /t REG_DWORD /d 3 /f
reg add "$key\\Settings" /v "MIDI Output Device Name" /t REG_SZ /d "" /f
start
window Quillmark || fail "no panel"
focus Quillmark
xdotool key p
window "MIDI Device Error" || fail "no MIDI Device Error box"
focus "MIDI Device Error"
xdotool key Return
wait_gone "MIDI Device Error"
focus Quillmark
xdotool key Escape
ended
(($(lines) == 4)) || fail "a message went out without a device"
echo "all scenarios passed"
