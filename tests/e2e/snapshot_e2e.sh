#!/usr/bin/env bash
# The snapshot path as a user drives it, through the program's menus and keys, with a
# synthetic camera: Preview, Snapshot, the docked window following the main window (move,
# minimise, restore), a second snapshot, Save in each of the seven formats, and Save onto a
# read-only folder. ImageMagick checks every saved file against the snapshot's pixels.
#
# Run by hand (not part of ctest), as root: it mounts a small read-only tmpfs.
#   tests/e2e/snapshot_e2e.sh [build dir] [output dir]
# Needs xvfb-run, openbox, xdotool, x11-utils and ImageMagick. Screenshots and the saved
# files stay in the output dir (default /tmp/snapshot_e2e) for a look. Save with no picture
# cannot be reached from the menus (closing the window frees the picture and the window);
# SnapshotWindowTest covers it.
set -u
BUILD=$(realpath "${1:-build}")
OUT=${2:-/tmp/snapshot_e2e}
if [ -z "${SNAPSHOT_E2E_INSIDE:-}" ]; then
  rm -rf "$OUT" && mkdir -p "$OUT"
  SNAPSHOT_E2E_INSIDE=1 exec xvfb-run -a -s '-screen 0 1280x1024x24' bash "$0" "$BUILD" "$OUT"
fi

failures=0
pass() { echo "PASS  $*"; }
fail() { echo "FAIL  $*"; failures=$((failures + 1)); }
check() { local what=$1; shift; if "$@"; then pass "$what"; else fail "$what"; fi; }
shot() { import -window root "$OUT/$1.png"; }

# Waits up to 10 s for a visible window whose name matches; prints its id.
wait_window() {
  local id
  for _ in $(seq 50); do
    id=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | head -1)
    [ -n "$id" ] && { echo "$id"; return 0; }
    sleep 0.2
  done
  return 1
}
wait_gone() {
  for _ in $(seq 50); do
    xdotool search --onlyvisible --name "$1" >/dev/null 2>&1 || return 0
    sleep 0.2
  done
  return 1
}

# Frame rectangle of a window: sets FX FY FW FH (client geometry plus the frame extents).
frame_of() {
  local info ext l r t b
  info=$(xwininfo -id "$1")
  ext=$(xprop -id "$1" _NET_FRAME_EXTENTS | sed 's/.*= //; s/,//g')
  read -r l r t b <<<"${ext:-0 0 0 0}"
  CX=$(awk '/Absolute upper-left X/ {print $4}' <<<"$info")
  CY=$(awk '/Absolute upper-left Y/ {print $4}' <<<"$info")
  CW=$(awk '/  Width:/ {print $2}' <<<"$info")
  CH=$(awk '/  Height:/ {print $2}' <<<"$info")
  FX=$((CX - l)); FY=$((CY - t)); FW=$((CW + l + r)); FH=$((CH + t + b))
}
viewable() { xwininfo -id "$1" | grep -q 'IsViewable'; }

# The snapshot window stands one pixel right of the main window's frame, top-aligned.
docked() {
  frame_of "$MAIN"; local right=$((FX + FW)) top=$FY
  frame_of "$SNAP"
  echo "      main frame right $right top $top; snapshot frame left $FX top $FY, client ${CW}x${CH}"
  [ "$FX" -eq $((right + 1)) ] && [ "$FY" -eq "$top" ]
}

openbox >/dev/null 2>&1 &
WM=$!
sleep 1
export LUMORA_TEST_CAMERAS=1 XDG_CONFIG_HOME=$OUT/cfg
mkdir -p "$XDG_CONFIG_HOME"
"$BUILD/bin/lumora2003" >"$OUT/app.log" 2>&1 &
APP=$!
MAIN=$(wait_window 'lumora2003$') || { echo "no main window"; kill "$APP" "$WM"; exit 1; }
sleep 1

# Options > Preview, then Capture > Snapshot.
xdotool key alt+o; sleep 0.5; xdotool key Return; sleep 2
shot 01_preview
xdotool key alt+c; sleep 0.5; xdotool key s
SNAP=$(wait_window '^Snapshot Window$') || { fail "Snapshot opens the snapshot window"; SNAP=0; }
sleep 1
shot 02_snapshot
check "snapshot window docked on first showing" docked

xdotool windowmove "$MAIN" 60 300; sleep 1
shot 03_moved
check "moving the main window moves the snapshot window" docked

xdotool windowminimize "$MAIN"; sleep 1
shot 04_minimised
check "minimising the main window minimises the snapshot window" bash -c "! xwininfo -id $SNAP | grep -q IsViewable"
xdotool windowactivate "$MAIN"; sleep 1
shot 05_restored
check "restoring the main window restores the snapshot window" viewable "$SNAP"
check "restored snapshot window is still docked" docked

# Maximising the main window leaves the snapshot window where it is.
frame_of "$SNAP"; before="$FX,$FY"
# (a double click on the title bar toggles maximising in openbox)
maximise_toggle() {
  frame_of "$MAIN"
  xdotool mousemove $((FX + FW / 2)) $((FY + 8)) click --repeat 2 --delay 80 1; sleep 1.5
}
maximise_toggle
shot 05b_maximised
frame_of "$MAIN"; echo "      maximised main frame ${FW}x${FH}"
frame_of "$SNAP"
check "maximising the main window leaves the snapshot window in place" [ "$FX,$FY" = "$before" ]
maximise_toggle
check "un-maximised, the snapshot window is docked again" docked

# A second snapshot refreshes the same window. (The synthetic camera offers no format page,
# so the picture keeps its size here; SnapshotWindowTest covers the resize.)
xdotool windowactivate --sync "$MAIN"; sleep 0.3
xdotool key alt+c; sleep 0.5; xdotool key s; sleep 1
shot 06_second_snapshot
check "second snapshot uses the same window" [ "$(wait_window '^Snapshot Window$')" = "$SNAP" ]
check "second snapshot window is docked" docked

# File > Save in the snapshot window; picks file type `index` (0 = BMP) and saves to `path`.
# With a quality, opens the options area and types it into the JPEG quality box.
save_as() {
  local index=$1 path=$2 quality=${3:-} dlg
  xdotool windowactivate --sync "$SNAP"; sleep 0.3
  xdotool key alt; sleep 0.3; xdotool key Down; sleep 0.3; xdotool key s
  dlg=$(wait_window '^lumora$') || { fail "save dialog opens"; return 1; }
  sleep 0.5
  xdotool key Tab; sleep 0.2
  for _ in $(seq "$index"); do xdotool key Down; sleep 0.1; done
  if [ -n "$quality" ]; then
    xdotool key Tab; sleep 0.2; xdotool key space; sleep 0.8   # Advanced>>
    # The quality box has no mnemonic: click it (its place in the options area).
    frame_of "$dlg"
    xdotool mousemove $((CX + 276)) $((CY + 636)) click --repeat 3 1; sleep 0.3
    xdotool key ctrl+a; xdotool type --delay 50 "$quality"; sleep 0.3
    shot "quality_$quality"
  fi
  xdotool key alt+n; sleep 0.2; xdotool key ctrl+a; xdotool type --delay 20 "$path"; sleep 0.3
  xdotool key Return; sleep 1.5
}

FORMATS=(bmp jpg png tif tga pcx gif)
for i in "${!FORMATS[@]}"; do
  ext=${FORMATS[$i]}
  if [ "$ext" = jpg ]; then save_as "$i" "$OUT/snap.jpg" 90; else save_as "$i" "$OUT/snap.$ext"; fi
  check "save dialog closed after saving $ext" wait_gone '^lumora$'
  check "snap.$ext written" test -s "$OUT/snap.$ext"
done
shot 07_after_saves

psnr() { compare -metric PSNR "$1" "$2" null: 2>&1; }
# The painted client area (below the menu bar) against the saved BMP: same pixels, same size.
import -window "$SNAP" "$OUT/window.png"
size=$(identify -format '%wx%h' "$OUT/snap.bmp")
w=${size%x*}; h=${size#*x}
frame_of "$SNAP"
echo "      snapshot ${size}; window client ${CW}x${CH}"
convert "$OUT/window.png" -gravity SouthWest -crop "${w}x${h}+0+0" +repage "$OUT/client.png"
check "painted client area shows the snapshot's pixels" [ "$(psnr "$OUT/snap.bmp" "$OUT/client.png")" = "inf" ]
check "client area width is the image width" [ "$CW" -eq "$w" ]
for ext in png tif pcx; do
  check "$ext holds the snapshot's pixels" [ "$(psnr "$OUT/snap.bmp" "$OUT/snap.$ext")" = "inf" ]
done
# ImageMagick 6.9 turns bottom-up TGA files (image descriptor 0) upside down, its own ones
# included; netpbm (or ffmpeg) reads the rows in the file's stated order.
if command -v tgatoppm >/dev/null; then tgatoppm "$OUT/snap.tga" >"$OUT/tga.ppm" 2>/dev/null
else ffmpeg -loglevel error -y -i "$OUT/snap.tga" "$OUT/tga.ppm"; fi
check "tga holds the snapshot's pixels" [ "$(psnr "$OUT/snap.bmp" "$OUT/tga.ppm")" = "inf" ]
check "jpg written at quality 90" [ "$(identify -format '%Q' "$OUT/snap.jpg")" = 90 ]
echo "      jpg q90 PSNR $(psnr "$OUT/snap.bmp" "$OUT/snap.jpg") dB; gif PSNR $(psnr "$OUT/snap.bmp" "$OUT/snap.gif") dB"
check "jpg is $size" [ "$(identify -format '%wx%h' "$OUT/snap.jpg")" = "$size" ]
check "gif is $size" [ "$(identify -format '%wx%h' "$OUT/snap.gif[0]")" = "$size" ]

# Save onto a read-only folder: over an existing file (after the overwrite question) and as a
# new file. The error is shown, the old file and the snapshot stay.
RO=$OUT/readonly
mkdir -p "$RO"
if mount -t tmpfs -o size=4m tmpfs "$RO"; then
  cp "$OUT/snap.png" "$RO/kept.bmp"
  mount -o remount,ro "$RO"
  save_as 0 "$RO/kept.bmp"
  xdotool key alt+y; sleep 1.5     # yes, replace it
  shot 08_readonly_error
  check "an error box is shown" eval "wait_window '^lumora2003$' >/dev/null"
  xdotool key Return; sleep 0.5
  check "the existing file is unchanged" cmp -s "$OUT/snap.png" "$RO/kept.bmp"
  save_as 2 "$RO/new.png"
  shot 09_readonly_new_error
  xdotool key Return; sleep 0.5
  check "no file appears in the read-only folder" [ ! -e "$RO/new.png" ]
  check "the snapshot window stays open" viewable "$SNAP"
  save_as 0 "$OUT/after.bmp"
  check "the snapshot is unchanged after the failures" cmp -s "$OUT/snap.bmp" "$OUT/after.bmp"
  umount "$RO"
else
  fail "read-only folder (needs root to mount a tmpfs)"
fi
shot 10_end

# Closing the snapshot window and taking another snapshot opens a new, docked window.
xdotool windowactivate --sync "$SNAP"; sleep 0.3; xdotool key alt+F4
check "closing the snapshot window" wait_gone '^Snapshot Window$'
xdotool windowactivate --sync "$MAIN"; sleep 0.3
xdotool key alt+c; sleep 0.5; xdotool key s
SNAP=$(wait_window '^Snapshot Window$') && sleep 1
shot 11_reopened
check "a snapshot after closing opens the window again, docked" docked

xdotool windowclose "$SNAP" 2>/dev/null; sleep 0.5
kill "$APP" 2>/dev/null; wait "$APP" 2>/dev/null
kill "$WM" 2>/dev/null
echo "$failures failure(s); screenshots and files in $OUT"
[ "$failures" -eq 0 ]
