#!/usr/bin/env bash
# The Windows builds of TORVIK and VELDRA under Wine on a virtual X display, on Qt's real
# `windows` platform, driven as a technician would drive them (xdotool types and clicks):
#   - both programs start with their exact captions;
#   - TORVIK against the native k5sim mapped into the prefix as COM5 (above every port Wine
#     maps by itself): COM5, Open, Start, Yes; the saved CfgLog.txt beside torvik.exe must
#     hold the exact log, which k5ctl.exe prints for the same amplifier; Alt+D resets;
#   - VELDRA with the warmed-up box ticked, COM5 chosen and the calibration run; k5sim's trace
#     must show the protection registers written and the lock code;
#   - every window, dialog and page is photographed to build/screenshots/windows/.
# Usage: scripts/wine-qt.sh [BUILD_DIR]   (default build/windows, built with Qt for Windows)
# The native simulator comes from K5_NATIVE_BUILD (default build/default).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
source scripts/lib/wine.sh

build=$(cd "${1:-build/windows}" && pwd)
native=${K5_NATIVE_BUILD:-$root/build/default}
k5sim=$native/sim/k5sim
shots=$root/build/screenshots/windows
port=5

for f in "$build/torvik/torvik.exe" "$build/veldra/veldra.exe" "$build/cli/k5ctl.exe"; do
  [ -f "$f" ] || { echo "wine-qt: $f is missing (a windows build with Qt for Windows)" >&2; exit 1; }
done
[ -x "$k5sim" ] || { echo "wine-qt: no native k5sim at $k5sim" >&2; exit 1; }
for tool in Xvfb xdotool import; do
  command -v "$tool" >/dev/null || { echo "wine-qt: $tool is missing" >&2; exit 1; }
done

work=$(mktemp -d)
xvfb_pid="" app_pid=""
failures=0
cleanup() {
  local pid
  if [ -n "$app_pid" ]; then
    kill "$app_pid" 2>/dev/null || true
    wait "$app_pid" 2>/dev/null || true
  fi
  k5_stop_sim
  # The server and every process of the prefix (the device manager's services too), by pid.
  k5_wine_server_stop "$build"
  if [ -n "$xvfb_pid" ]; then
    kill "$xvfb_pid" 2>/dev/null || true
    wait "$xvfb_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
  return 0
}
trap cleanup EXIT

fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}
pass() { echo "ok: $*"; }

# --- the virtual display, the prefix and its server -------------------------------------
# A Windows PC has Tahoma, the dialog font Wine asks for; without it Wine falls back on some
# host font (a mathematical one here), whose glyph boxes put the text of every line edit
# outside its field. Wine's own Tahoma (package fonts-wine) goes into the prefix's Fonts.
install_wine_fonts() {
  local fonts="$WINEPREFIX/drive_c/windows/Fonts" f
  mkdir -p "$fonts"
  for f in tahoma.ttf tahomabd.ttf; do
    if [ -f "/usr/share/wine/fonts/$f" ]; then
      [ -f "$fonts/$f" ] || cp "/usr/share/wine/fonts/$f" "$fonts/"
    else
      echo "wine-qt: /usr/share/wine/fonts/$f is missing (package fonts-wine)" >&2
    fi
  done
}

Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$work/display" 2>/dev/null &
xvfb_pid=$!
for _ in $(seq 50); do
  [ -s "$work/display" ] && break
  sleep 0.1
done
display=":$(head -n 1 "$work/display")"
k5_wine_prefix "$build"
install_wine_fonts
k5_wine_server_start "$build"
export DISPLAY=$display

# Starts k5sim (readings 760/760, the worked example) on COM$port, tracing to $work/trace.
start_sim() {
  k5_wine_serve_port "$k5sim" "$port" "$work/sim.out" "$work/trace" --left 760 --right 760 \
    --trace || exit 1
}
stop_sim() {
  k5_wine_stop_serving "$port"  # back to the empty placeholder: nothing serves the port now
}

# Waits up to $2 seconds (default 30) for a window whose name is exactly $1; prints its id.
window_named() {
  local name=$1 seconds=${2:-30} id pattern
  pattern="^$(printf '%s' "$name" | sed 's/[].[^$*+?(){}|\\]/\\&/g')\$"
  for _ in $(seq $((seconds * 5))); do
    id=$(xdotool search --onlyvisible --name "$pattern" 2>/dev/null | tail -n 1 || true)
    if [ -n "$id" ]; then
      echo "$id"
      return 0
    fi
    sleep 0.2
  done
  return 1
}

# Photographs window $1 as $2.png.
shoot() {
  sleep 0.5  # let the window finish painting
  timeout 20 import -window "$1" "$shots/$2.png" 2>/dev/null || fail "no screenshot $2"
}

# Waits until window $1 is gone (a message box answered).
gone() {
  local _
  for _ in $(seq 50); do
    xdotool getwindowname "$1" >/dev/null 2>&1 || return 0
    sleep 0.2
  done
  return 1
}

# Clicks window $1, whose client area is $2 by $3 dialog units, at the unit point $4,$5.
click() {
  local id=$1 width_units=$2 height_units=$3 x=$4 y=$5 WIDTH HEIGHT
  eval "$(xdotool getwindowgeometry --shell "$id" | grep -E '^(WIDTH|HEIGHT)=')"
  xdotool mousemove --window "$id" $((x * WIDTH / width_units)) $((y * HEIGHT / height_units))
  sleep 0.1
  xdotool click 1
  sleep 0.5
}

# Answers the message box captioned $1 (photographed as $2) with the keys $3...
answer() {
  local caption=$1 name=$2 box
  shift 2
  if box=$(window_named "$caption" 30); then
    shoot "$box" "$name"
    keys "$box" "$@"
    gone "$box" || fail "the box \"$caption\" stayed open"
  else
    fail "no box \"$caption\" for $name"
  fi
}

# True when k5sim's trace shows the unlock code, STMAX, STPTE and STCLIP written and then
# the lock code, in that order.
registers_written_and_locked() {
  grep -- '-> FF 08 01 02' "$1" | sed 's/.*-> //' | awk '
    /^FF 08 01 02 FF FF 6B 2E 91 C4/ { unlocked = 1 }
    /^FF 08 01 02 A1 08/ && unlocked { stmax = 1 }
    /^FF 08 01 02 A1 0A/ && unlocked { stpte = 1 }
    /^FF 08 01 02 A1 01/ && unlocked { stclip = 1 }
    /^FF 08 01 02 FF FF 94 D1 6E 3B/ && stmax && stpte && stclip { locked = 1 }
    END { exit !locked }'
}

# Types keys into window $1 (focused first): xdotool key syntax, e.g. Tab space alt+d.
keys() {
  local id=$1
  shift
  xdotool windowfocus --sync "$id" 2>/dev/null || xdotool windowfocus "$id" 2>/dev/null || true
  sleep 0.2
  xdotool key --delay 120 "$@"
}

launch() {
  "$WINELOADER" "$1" </dev/null >/dev/null 2>&1 &
  app_pid=$!
}
wait_app_end() {
  local _
  for _ in $(seq 100); do
    if ! kill -0 "$app_pid" 2>/dev/null; then
      wait "$app_pid" 2>/dev/null || true
      app_pid=""
      return 0
    fi
    sleep 0.1
  done
  kill "$app_pid" 2>/dev/null || true
  wait "$app_pid" 2>/dev/null || true
  app_pid=""
  return 1
}

rm -rf "$shots"
mkdir -p "$shots"

# The icon Explorer and the taskbar show: each program carries its icon file as group icon 128.
for program in torvik veldra; do
  if command -v wrestool >/dev/null &&
    wrestool -x -t 14 -n 128 "$build/$program/$program.exe" -o "$work/$program.ico" 2>/dev/null &&
    [ "$(icotool -l "$work/$program.ico")" = "$(icotool -l "resources/$program.ico")" ]; then
    pass "$program.exe carries resources/$program.ico as its icon"
  else
    fail "$program.exe carries no icon 128 like resources/$program.ico"
  fi
  # A windowed program: Windows opens no console window beside it.
  headers=$(x86_64-w64-mingw32-objdump -p "$build/$program/$program.exe")
  if grep -q '^Subsystem.*(Windows GUI)' <<<"$headers"; then
    pass "$program.exe is a windowed program"
  else
    fail "$program.exe is not a windowed (GUI subsystem) program"
  fi
done
# --- TORVIK -------------------------------------------------------------------------------
# The main window is 324 by 282 dialog units; its controls' places in those units.
torvik_title="K5 Post-AMP Config V1.3.0"
torvik() { click "$main" 324 282 "$1" "$2"; }
report="$build/torvik/CfgLog.txt"
rm -f "$report"
start_sim
launch "$build/torvik/torvik.exe"
if main=$(window_named "$torvik_title" 60); then
  pass "torvik.exe shows \"$torvik_title\""
  shoot "$main" torvik-1-idle
  # The port list has the focus: a technician types the port's name, then presses Open.
  keys "$main" C O M "$port"
  torvik 90 21 # Open
  torvik 144 21 # Test Link
  shoot "$main" torvik-2-port-open-link-ok
  torvik 45 45 # User Settings
  if dialog=$(window_named "User Settings" 10); then
    shoot "$dialog" torvik-3-user-settings
    # CP above its bound (the dialog is 214 by 180 units, CP's field at 48,156): the prompt.
    click "$dialog" 214 180 72 162
    keys "$dialog" ctrl+a 0 period 9 5 Return
    answer TORVIK torvik-3-user-settings-prompt Return
    shoot "$dialog" torvik-3-user-settings-refused
    keys "$dialog" Escape
    gone "$dialog" || fail "User Settings stayed open"
  else
    fail "no User Settings dialog"
  fi
  torvik 123 45 # Status
  if dialog=$(window_named "Status" 10); then
    shoot "$dialog" torvik-4-status-before-run
    keys "$dialog" Escape
    gone "$dialog" || fail "Status stayed open"
  else
    fail "no Status dialog"
  fi
  torvik 201 45 # Start
  sleep 4
  shoot "$main" torvik-5-running
  answer Note torvik-6-save-question y
  answer Note torvik-7-save-data-ok Return
  shoot "$main" torvik-8-success
  torvik 123 45 # Status
  if dialog=$(window_named "Status" 10); then
    shoot "$dialog" torvik-9-status-after-run
    keys "$dialog" Escape
    gone "$dialog" || fail "Status stayed open"
  fi
  # Alt+D reaches the tool through the hot key registered with Windows.
  keys "$main" alt+d
  answer Note torvik-10-register-reset Return
  keys "$main" alt+F4
  wait_app_end || fail "torvik.exe did not end on closing"
else
  fail "no window \"$torvik_title\" from torvik.exe"
fi
stop_sim
cp "$work/trace" "$shots/torvik-k5sim-trace.txt"
registers_written_and_locked "$work/trace" && pass "TORVIK wrote and locked the registers" ||
  fail "k5sim's trace shows no registers written and locked by TORVIK"

# The saved report: a line feed, the dated header, CR LF, then the log exactly as k5ctl.exe
# prints it for a fresh simulated K5 with the same readings.
if [ -f "$report" ]; then
  cp "$report" "$shots/CfgLog.txt"
  start_sim
  "$WINELOADER" "$build/cli/k5ctl.exe" --port "$port" configure </dev/null 2>/dev/null |
    tr -d '\r' >"$work/expected-log"
  stop_sim
  header=$(sed -n 2p "$report")
  if [ "$(head -c 1 "$report" | od -An -tx1 | tr -d ' ')" = 0a ] &&
    grep -Eq '^Configuration Process log - [0-9]+\.[0-9]+\.[0-9]+ [0-9]+:[0-9]+:[0-9]+:'$'\r''$' \
      <<<"$header" &&
    tail -n +3 "$report" | cmp -s - "$work/expected-log"; then
    pass "CfgLog.txt beside torvik.exe holds the exact log"
  else
    fail "CfgLog.txt does not hold the exact log (see $shots/CfgLog.txt)"
  fi
else
  fail "no CfgLog.txt beside torvik.exe"
fi

# --- VELDRA -------------------------------------------------------------------------------
# The frame is 339 by 241 dialog units: Previous, Next and Exit along the bottom, the page
# above them (the warmed-up box and the port list in its place on their pages).
veldra_title="K5 Calibration Application"
veldra() { click "$wizard" 339 241 "$1" "$2"; }
next_page() { veldra 250 227; }

# Waits up to $2 seconds for k5sim's trace to show the text $1.
trace_shows() {
  local _
  for _ in $(seq $(($2 * 5))); do
    grep -qF -- "$1" "$work/trace" && return 0
    sleep 0.2
  done
  return 1
}

start_sim
launch "$build/veldra/veldra.exe"
if wizard=$(window_named "$veldra_title" 60); then
  pass "veldra.exe shows \"$veldra_title\""
  shoot "$wizard" veldra-1-welcome
  next_page
  shoot "$wizard" veldra-2-preparation
  veldra 14 135 # Yes, the K5 has been warmed up
  shoot "$wizard" veldra-2-preparation-warmed-up
  next_page
  shoot "$wizard" veldra-3-port-selection
  veldra 152 111 # the port list opens; typing the name picks the port
  xdotool key --delay 120 C O M "$port" Return
  sleep 0.5
  shoot "$wizard" veldra-3-port-chosen
  next_page
  trace_shows 'Main.Model' 20 || fail "VELDRA's detection sent nothing to COM$port"
  sleep 2
  shoot "$wizard" veldra-4-detected
  next_page # warmed up: the calibration starts at once
  sleep 3
  shoot "$wizard" veldra-6-calibrating
  if trace_shows 'Power=Off' 180; then
    sleep 2
    shoot "$wizard" veldra-6-calibration-done
  else
    fail "the calibration did not end by powering the K5 off"
  fi
  veldra 306 227 # Exit
  answer "Confirm Exit" veldra-7-confirm-exit Return
  wait_app_end || fail "veldra.exe did not end after Exit"
else
  fail "no window \"$veldra_title\" from veldra.exe"
fi
stop_sim
cp "$work/trace" "$shots/veldra-k5sim-trace.txt"
registers_written_and_locked "$work/trace" && pass "VELDRA wrote and locked the registers" ||
  fail "k5sim's trace shows no registers written and locked by VELDRA"

# Once more without the warmed-up box, for the warm-up page: its countdown running, the
# question that cancels it, and the page after the cancel.
start_sim
launch "$build/veldra/veldra.exe"
if wizard=$(window_named "$veldra_title" 60); then
  next_page
  next_page
  veldra 152 111
  xdotool key --delay 120 C O M "$port" Return
  sleep 0.5
  next_page
  trace_shows 'Main.Model' 20 || fail "VELDRA's detection sent nothing to COM$port"
  sleep 2
  next_page # the ten-minute warm-up and its countdown
  sleep 3
  shoot "$wizard" veldra-5-warm-up-countdown
  veldra 306 227 # Exit, during the warm-up: cancel it?
  answer "Confirm Cancel" veldra-5-confirm-cancel Return
  sleep 1
  shoot "$wizard" veldra-5-warm-up-cancelled
  veldra 306 227
  answer "Confirm Exit" veldra-7-confirm-exit-after-warm-up Return
  wait_app_end || fail "veldra.exe did not end after Exit"
else
  fail "no window \"$veldra_title\" from veldra.exe (second run)"
fi
stop_sim

# --- the zip -----------------------------------------------------------------------------
# Unpacked into a folder of its own, each program starts with only what the zip holds.
zip=$(ls "$build"/package/k5kit-*-win64.zip 2>/dev/null | tail -n 1 || true)
if [ -n "$zip" ]; then
  mkdir -p "$work/unpacked"
  (cd "$work/unpacked" && unzip -q "$zip")
  folder=$(ls -d "$work"/unpacked/k5kit-*-win64)
  for program in torvik:"$torvik_title" veldra:"$veldra_title"; do
    exe="$folder/${program%%:*}.exe"
    launch "$exe"
    if window_named "${program#*:}" 60 >/dev/null; then
      pass "$(basename "$zip"): ${program%%:*}.exe starts"
    else
      fail "$(basename "$zip"): ${program%%:*}.exe shows no window \"${program#*:}\""
    fi
    kill "$app_pid" 2>/dev/null || true
    wait "$app_pid" 2>/dev/null || true
    app_pid=""
  done
fi

echo "Screenshots in $shots/"
if [ "$failures" -ne 0 ]; then
  echo "wine-qt: $failures failure(s)" >&2
  exit 1
fi
echo "wine-qt: both programs ran under Wine as expected"
