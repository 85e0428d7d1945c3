#!/usr/bin/env bash
# End-to-end capture check in the real program, driven through its menus with xdotool under a
# virtual X server and a window manager. Run by hand (it takes about a minute per scenario):
#
#   tests/e2e/capture_e2e.sh [build-dir] [scenario...]
#
# Scenarios: raw, jpeg, limit, kill, ends (default: all five). Each one starts the program with a
# synthetic camera and its own settings folder, works through the File and Capture menus,
# takes screenshots and checks the files with ffprobe. Output (screenshots, logs, AVI files)
# goes to $E2E_OUT (default /tmp/lumora_capture_e2e). Exit status 0 when every check passed.
set -u

here=$(cd "$(dirname "$0")" && pwd)
if [ -z "${E2E_INNER:-}" ]; then
  # Re-run inside a virtual X server of our own.
  export E2E_INNER=1
  exec xvfb-run -a -s '-screen 0 1280x1024x24' "$0" "$@"
fi

build=${1:-$here/../../build}
shift || true
scenarios=${*:-raw jpeg limit kill ends}
app=$(cd "$build" && pwd)/bin/lumora2003
out=${E2E_OUT:-/tmp/lumora_capture_e2e}
rm -rf "$out"
mkdir -p "$out"
failures=0

openbox >/dev/null 2>&1 &
wm=$!
trap 'kill $wm 2>/dev/null' EXIT
sleep 1

say() { printf '%s\n' "$*" | tee -a "$out/report.txt"; }
check() {  # check <description> <command...>
  local what=$1
  shift
  if "$@"; then say "  ok   $what"; else say "  FAIL $what"; failures=$((failures + 1)); fi
}
shot() { import -window root "$out/$1.png"; }
key() { xdotool key --delay 120 "$@"; sleep 0.6; }
type_text() { xdotool type --delay 20 "$1"; sleep 0.3; }

# Menu positions: arrow keys from the first enabled item of each menu (disabled items are
# skipped: while not capturing "Stop Capture" is, while capturing "Start Capture" is).
file_menu() { key alt+f; local i; for ((i = 0; i < $1; i++)); do key Down; done; key Return; }
capture_menu() { key alt+c; local i; for ((i = 0; i < $1; i++)); do key Down; done; key Return; }

app_pid=
start_app() {  # start_app <settings-folder-name>
  export XDG_CONFIG_HOME=$out/cfg_$1 LUMORA_TEST_CAMERAS=1
  mkdir -p "$XDG_CONFIG_HOME"
  "$app" >>"$out/app_$1.log" 2>&1 &
  app_pid=$!
  # Wait for the main window, then give the preview a moment to start.
  local i
  for ((i = 0; i < 50; i++)); do
    xdotool search --onlyvisible --pid "$app_pid" --name . >/dev/null 2>&1 && break
    sleep 0.2
  done
  sleep 2
  xdotool search --onlyvisible --pid "$app_pid" --name . windowactivate --sync 2>/dev/null
  sleep 0.5
}
quit_app() {
  key alt+F4
  local i
  for ((i = 0; i < 50; i++)); do kill -0 "$app_pid" 2>/dev/null || break; sleep 0.2; done
  kill -0 "$app_pid" 2>/dev/null && { say "  (program did not close; killing it)"; kill "$app_pid"; }
  wait "$app_pid" 2>/dev/null
}

# Set Capture File: the file dialog takes the typed path; a new file opens the Set File Size
# dialog, which gets the size in megabytes.
set_capture_file() {  # <path> <megabytes>
  file_menu 0
  type_text "$1"
  key Return
  sleep 0.5
  key ctrl+a
  type_text "$2"
  key Return
}
allocate_space() {  # <megabytes>
  file_menu 1
  key ctrl+a
  type_text "$1"
  key Return
}
save_copy() {  # <path>
  file_menu 2
  key ctrl+a
  type_text "$1"
  key Return
  sleep 2
}
start_capture() { capture_menu 0; sleep 0.8; shot "$1_ready"; key Return; }
# Lists search as one types: the typed prefix selects the first entry that starts with it.
pick_list_entry() { type_text "$1"; sleep 0.3; }
stop_capture() { capture_menu 0; }
# Preview on, and the device's 30 frames a second (the first run's profile asks for 15).
prepare() {  # <name>
  key alt+o
  key Return
  capture_menu 1  # Set Frame Rate...
  sleep 0.5
  key alt+f
  key ctrl+a
  type_text 30
  shot "$1_rate"
  key Return
}

frames_of() {  # ffprobe's frame count of the first video stream
  ffprobe -v error -count_frames -select_streams v:0 \
    -show_entries stream=nb_read_frames -of default=nw=1:nk=1 "$1" 2>/dev/null | head -1
}
probe_line() {
  ffprobe -v error -count_frames -select_streams v:0 \
    -show_entries stream=codec_name,width,height,r_frame_rate,nb_frames,nb_read_frames \
    -of compact=p=0 "$1" 2>&1 | head -1
}
riff_length() { python3 "$here/riff_length.py" "$1"; }
size_of() { stat -c %s "$1"; }
live_between() {
  local diff
  diff=$(compare -metric AE "$out/$1.png" "$out/$2.png" null: 2>&1 | cut -d' ' -f1)
  [ "${diff%%.*}" -gt 100 ] 2>/dev/null
}
near() { [ "$1" -ge "$2" ] && [ "$1" -le "$3" ]; }

# Capture about 5 s, stop through the menu, then save a compacted copy.
timed_capture() {  # <name> <compress: 0/1>
  local name=$1 avi=$out/$1.avi copy=$out/$1_copy.avi mb=64
  say "== $name: Set Capture File, Allocate File Space, 5 s capture, Save Captured Video As"
  start_app "$name"
  set_capture_file "$avi" 32
  check "new capture file reserved at 32 MB ($(size_of "$avi" 2>/dev/null) bytes)" \
    test "$(size_of "$avi" 2>/dev/null)" = $((32 * 1048576))
  allocate_space $mb
  check "Allocate File Space makes it $mb MB ($(size_of "$avi") bytes)" \
    test "$(size_of "$avi")" = $((mb * 1048576))
  prepare "$name"
  if [ "$2" = 1 ]; then
    # Capture > Compression opens the sorted list of compressors; pick the JPEG encoder.
    key alt+c
    key c
    sleep 0.8
    shot "${name}_compressor_list"
    pick_list_entry "JPEG image encoder"
    shot "${name}_compressor"
    key Return
  fi
  shot "${name}_before"
  start_capture "$name"
  local t0 t1
  t0=$(date +%s%N)
  # The menu takes about a second to reach "Stop Capture": stop after about 5 s in all.
  sleep 3.5
  shot "${name}_running"
  stop_capture
  t1=$(date +%s%N)
  sleep 1.5
  shot "${name}_stopped"
  sleep 0.5
  shot "${name}_stopped2"
  local frames riff size ms=$(((t1 - t0) / 1000000))
  frames=$(frames_of "$avi")
  say "  captured for about $ms ms between the Ready dialog's OK and Stop Capture"
  riff=$(riff_length "$avi")
  size=$(size_of "$avi")
  say "  ffprobe: $(probe_line "$avi")"
  check "about 150 frames, 30 a second ($frames)" near "${frames:-0}" $((ms * 27 / 1000)) $((ms * 33 / 1000))
  check "reserved size kept ($size bytes, RIFF length $riff)" test "$size" = $((mb * 1048576))
  # The test picture has moving snow in a corner: a live preview changes between two shots.
  check "the preview runs again after the capture" live_between "${name}_stopped" "${name}_stopped2"
  save_copy "$copy"
  shot "${name}_saved"
  local csize cframes
  csize=$(size_of "$copy" 2>/dev/null || echo 0)
  cframes=$(frames_of "$copy")
  say "  copy ffprobe: $(probe_line "$copy")"
  check "copy is exactly the RIFF length ($csize = $riff)" test "$csize" = "$riff"
  check "copy holds the same frames ($cframes = $frames)" test "${cframes:-x}" = "$frames"
  quit_app
}

# Time limit of 3 s: the capture stops by itself.
limit_capture() {
  local name=limit avi=$out/limit.avi
  say "== limit: Set Time Limit 3 s, capture stops by itself"
  start_app "$name"
  set_capture_file "$avi" 32
  prepare "$name"
  capture_menu 2  # Set Time Limit...
  sleep 0.5
  key alt+t       # the seconds
  key ctrl+a
  type_text 3
  key shift+Tab   # back to "Use Time Limit"
  key space
  shot limit_dialog
  key Return
  start_capture "$name"
  sleep 6
  shot limit_stopped
  local frames
  frames=$(frames_of "$avi")
  say "  ffprobe: $(probe_line "$avi")"
  check "stopped by itself after 3 s (~90 frames: $frames)" near "${frames:-0}" 75 105
  quit_app
}

# SIGKILL in the middle of a capture, restart, and rescue through Save Captured Video As.
kill_capture() {
  local name=kill avi=$out/kill.avi copy=$out/kill_copy.avi
  say "== kill: SIGKILL mid-capture, restart, Save Captured Video As rescues"
  start_app "$name"
  set_capture_file "$avi" 64
  prepare "$name"
  start_capture "$name"
  sleep 4
  kill -KILL "$app_pid"
  wait "$app_pid" 2>/dev/null
  # What the killed process had written is all in the file (the kernel holds it).
  local before
  before=$(python3 "$here/riff_length.py" --frames "$avi")
  say "  whole frames written before the kill: $before"
  # Settings are written when the window closes, so the killed run never stored its capture
  # file: name it again (it exists, so no size is asked), then save the copy.
  start_app "$name"
  file_menu 0
  type_text "$avi"
  key Return
  shot kill_restarted
  save_copy "$copy"
  shot kill_saved
  local cframes
  cframes=$(frames_of "$copy")
  say "  copy ffprobe: $(probe_line "$copy")"
  check "rescued ${cframes:-0} frames >= $before - 30" test "${cframes:-0}" -ge $((before - 30))
  quit_app
}

# Escape, closing the window and SIGTERM each end a capture with a finished file: header
# counts written (ffprobe's header count equals the frames it reads) and a whole RIFF chain.
finished() {  # <file>
  local line header read
  line=$(probe_line "$1")
  header=$(sed -n 's/.*nb_frames=\([0-9]*\).*/\1/p' <<<"$line")
  read=$(sed -n 's/.*nb_read_frames=\([0-9]*\).*/\1/p' <<<"$line")
  say "  $(basename "$1"): $line, RIFF length $(riff_length "$1")"
  [ -n "$header" ] && [ "$header" = "$read" ] && [ "$read" -gt 30 ] && [ "$(riff_length "$1")" -gt 4096 ]
}
ends_capture() {
  say "== ends: Escape, closing the window and SIGTERM each leave a finished AVI"
  start_app ends
  set_capture_file "$out/escape.avi" 16
  prepare ends
  start_capture ends_escape
  sleep 3
  key Escape
  sleep 1.5
  shot ends_escape
  check "Escape ends the capture with a finished file" finished "$out/escape.avi"
  set_capture_file "$out/close.avi" 16
  start_capture ends_close
  sleep 3
  key alt+F4
  local i
  for ((i = 0; i < 50; i++)); do kill -0 "$app_pid" 2>/dev/null || break; sleep 0.2; done
  check "closing the window ends the capture with a finished file" finished "$out/close.avi"
  kill -0 "$app_pid" 2>/dev/null && kill "$app_pid"
  wait "$app_pid" 2>/dev/null
  start_app ends
  set_capture_file "$out/term.avi" 16
  start_capture ends_term
  sleep 3
  kill -TERM "$app_pid"
  for ((i = 0; i < 50; i++)); do kill -0 "$app_pid" 2>/dev/null || break; sleep 0.2; done
  check "SIGTERM ends the capture with a finished file" finished "$out/term.avi"
  kill -0 "$app_pid" 2>/dev/null && kill -KILL "$app_pid"
  wait "$app_pid" 2>/dev/null
}

for s in $scenarios; do
  case $s in
    raw) timed_capture raw 0 ;;
    jpeg) timed_capture jpeg 1 ;;
    limit) limit_capture ;;
    kill) kill_capture ;;
    ends) ends_capture ;;
    *) say "unknown scenario $s"; failures=$((failures + 1)) ;;
  esac
done
say "failures: $failures (screenshots and logs in $out)"
exit $((failures > 0))
