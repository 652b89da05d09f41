#!/usr/bin/env bash
# Types the panel's keys at the real program many times in a row, with other processes
# loading the machine, and reports every key that did not arrive. Not part of the test
# command: it runs for minutes and wants the machine to itself.
#
# Each run: a private jackd2 (dummy driver, 48 kHz, 64 frames, no realtime), jack_midi_dump
# as the capture, quillmark under Xvfb with openbox on a profile that names the capture's
# port; once its window is active, 28 keys typed with xdotool 50 to 70 ms apart (p f a,
# keypad 1-9, keypad point 0 minus, Up Down, x, Return, r b l, F1-F4, e, 1), then Escape.
# The program writes its key-path counters at exit (QUILLMARK_KEY_PATH_COUNTS). A run
# fails when a typed key is missing at the capture, and says where it went: never given to
# the panel (the X server's or the toolkit's), refused with a box (the counters'
# sendsReported), or sent and then not read by the capture (jackd's late cycles are shown).
#
#   tools/panel-key-stress.sh [-n RUNS] [-l LOADERS] [-s] [-p] [-b BUILD_DIR]
#     -n  runs (default 50)
#     -l  busy processes loading the machine meanwhile (default 2; 0 for none)
#     -s  jackd in synchronous mode (--sync, as the end-to-end tests run it): the server
#         waits for late clients instead of dropping their cycle, so a key lost then is ours
#     -p  stop the program (SIGSTOP) for 300 to 500 ms once in each run while keys are
#         typed, as a machine that does not schedule it for that long would: the keys
#         typed meanwhile reach it all at once
#     -b  build folder with bin/quillmark and bin/quillmark-send (default build/default)
# Exit status: 0 when every key of every run arrived, 1 otherwise, 2 on a usage or set-up error.
set -uo pipefail
cd "$(dirname "$0")/.."

runs=50 loaders=2 build=build/default sync=() pause=0
while getopts "n:l:spb:" option; do
  case $option in
    p) pause=1 ;;
    s) sync=(--sync) ;;
    n) runs=$OPTARG ;;
    l) loaders=$OPTARG ;;
    b) build=$OPTARG ;;
    *) exit 2 ;;
  esac
done
bin=$(realpath "$build/bin")
for tool in jackd jack_midi_dump Xvfb openbox xdotool; do
  command -v "$tool" >/dev/null || { echo "missing: $tool (bash tools/setup.sh test)" >&2; exit 2; }
done
[[ -x $bin/quillmark && -x $bin/quillmark-send ]] || { echo "no programs in $bin" >&2; exit 2; }

work=$(mktemp -d "${TMPDIR:-/tmp}/quillmark-stress-XXXXXX")
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
  wait 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM

# Up to 10 s for something to show; the checks are cheap.
wait_for() {
  local i
  for ((i = 0; i < 200; i++)); do
    "$@" >/dev/null 2>&1 && return 0
    sleep 0.05
  done
  return 1
}

export JACK_DEFAULT_SERVER=quillmark-stress-$$
jackd -n "$JACK_DEFAULT_SERVER" --no-realtime "${sync[@]}" -d dummy -r 48000 -p 64 >"$work/jackd.log" 2>&1 &
pids+=($!)
wait_for jack_lsp || { echo "jackd did not start" >&2; exit 2; }
stdbuf -oL jack_midi_dump -a >"$work/dump" 2>/dev/null &
pids+=($!)
wait_for eval 'jack_lsp | grep -q midi-monitor' || { echo "jack_midi_dump did not start" >&2; exit 2; }

Xvfb -displayfd 1 -screen 0 1024x768x24 -nolisten tcp >"$work/display" 2>/dev/null &
pids+=($!)
wait_for test -s "$work/display" || { echo "Xvfb did not start" >&2; exit 2; }
export DISPLAY=:$(head -n1 "$work/display")
openbox >/dev/null 2>&1 &
pids+=($!)
wait_for xprop -root _NET_SUPPORTING_WM_CHECK || { echo "openbox did not start" >&2; exit 2; }

export XDG_CONFIG_HOME=$work/config
mkdir -p "$XDG_CONFIG_HOME/Vellicor"
device=$("$bin/quillmark-send" -l | awk '/midi-monitor:input/ { print $1; exit }')
[[ -n $device ]] || { echo "the capture port is not listed" >&2; exit 2; }
printf '[Settings]\nMIDI Channel=1\nTargetDeviceID=5\nDisengageOnMinimize=0\nMIDI Output Device=%s\n' \
  "$device" >"$XDG_CONFIG_HOME/Vellicor/Quillmark.conf"

keys=(p f a KP_1 KP_2 KP_3 KP_4 KP_5 KP_6 KP_7 KP_8 KP_9 KP_Decimal KP_0 KP_Subtract Up Down
      x Return r b l F1 F2 F3 F4 e 1)
names=(prog func para 1 2 3 4 5 6 7 8 9 point 0 minus up down cxl ent reset byp level F1 F2 F3 F4 ent 1)
# The main keyboard's 1 is the button's mnemonic: it presses the 1 button.
mapfile -t expected < <("$bin/quillmark-send" -p -i 5 "${names[@]}" | tr -d ' ')

for ((i = 0; i < loaders; i++)); do
  (while :; do :; done) &
  pids+=($!)
done

# Xvfb starts with Num Lock off.
xdotool key Num_Lock
lost_runs=0
for ((run = 1; run <= runs; run++)); do
  dumped=$(wc -l <"$work/dump")
  logged=$(wc -l <"$work/jackd.log")
  rm -f "$work/counts"
  QUILLMARK_KEY_PATH_COUNTS=$work/counts QT_QPA_PLATFORM=xcb "$bin/quillmark" >/dev/null 2>&1 &
  program=$!
  window=$(timeout 60 xdotool search --sync --onlyvisible --name '^Quillmark$' | head -n1)
  [[ -n $window ]] || { echo "run $run: no window" >&2; kill "$program"; wait "$program"; lost_runs=$((lost_runs + 1)); continue; }
  xdotool windowactivate --sync "$window" 2>/dev/null
  wait_for eval '[[ $(xdotool getactivewindow) == "$window" ]]'
  stop_at=-1
  [[ $pause -eq 1 ]] && stop_at=$((RANDOM % (${#keys[@]} - 6)))
  for ((k = 0; k < ${#keys[@]}; k++)); do
    key=${keys[k]}
    if [[ $k -eq $stop_at ]]; then
      kill -STOP "$program"
      (sleep "0.$((3 + RANDOM % 3))"; kill -CONT "$program") &
    fi
    xdotool key "$key"
    sleep "0.0$((50 + RANDOM % 21))"
  done
  xdotool key Escape
  timeout 30 tail --pid="$program" -f /dev/null
  wait "$program"
  mapfile -t seen < <(tail -n +$((dumped + 1)) "$work/dump" | sed -E 's/^ *[0-9]+: *//' | tr -d ' ' |
                      tr a-f A-F | grep '^F0')
  received=$(awk '/^(keyboardKeys|commandKeys)/ { n += $2 } END { print n }' "$work/counts" 2>/dev/null)

  if [[ ${#seen[@]} -eq ${#keys[@]} && ${received:-0} -eq ${#keys[@]} ]]; then
    waited=$(awk '/^sendsWaited/ { print $2 }' "$work/counts")
    echo "run $run: all ${#keys[@]} keys arrived${waited:+, $waited waited for a buffer}"
    continue
  fi
  lost_runs=$((lost_runs + 1))
  echo "run $run: ${#seen[@]} of ${#keys[@]} keys arrived, the panel took ${received:-?}" \
    "(counters: $(tr '\n' ' ' <"$work/counts" 2>/dev/null))"
  [[ ${received:-0} -ge ${#keys[@]} ]] ||
    echo "  the panel was given ${received:-0} of the ${#keys[@]} keys: the rest never reached the program"
  # A cycle that a client did not finish in time (no realtime, a loaded machine) loses
  # what was written for it: that is the server's, not the program's.
  late=$(tail -n +$((logged + 1)) "$work/jackd.log" | grep -c -i 'xrun\|not finished' || true)
  [[ $late -eq 0 ]] || echo "  jackd reported $late late cycles meanwhile:" \
    "$(tail -n +$((logged + 1)) "$work/jackd.log" | grep -i 'xrun\|not finished' | sort | uniq -c | head -n3)"
  j=0
  for ((k = 0; k < ${#expected[@]}; k++)); do
    if [[ ${seen[j]:-} == "${expected[k]}" ]]; then j=$((j + 1)); else echo "  lost: ${keys[k]} (${names[k]})"; fi
  done
done
echo "$((runs - lost_runs)) of $runs runs had every key; $lost_runs lost a key"
[[ $lost_runs -eq 0 ]]
