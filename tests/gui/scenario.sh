# shellcheck shell=bash
# What the GUI scenarios under Wine share: the build folder's Wine prefix on the virtual
# display of the k5_display fixture, the simulated K5 on a test port, and a technician's
# hands: find a window by its title, click a named point of it, type, answer a box and
# photograph. Every wait is on something that happens (a window appears or goes, the screen
# settles, k5sim's trace shows a request), bounded by a time-out; nothing sleeps a fixed time.
#
# The scenario's environment (set by tests/gui/CMakeLists.txt):
#   K5_GUI_BUILD        the Windows build folder
#   K5_GUI_POINTS       gui_points.sh, the titles and click points generated from gui_points.inc
#   K5_GUI_DISPLAY      the file in which the display fixture wrote its display number
#   K5_GUI_K5SIM        the native k5sim
#   K5_GUI_TRACE_CHECK  the native register_trace_check
#   K5_GUI_SHOTS        where the photographs go
#   K5_SOURCE_DIR       the repository
set -euo pipefail

# shellcheck source=scripts/lib/wine.sh
source "$K5_SOURCE_DIR/scripts/lib/wine.sh"
# shellcheck source=/dev/null
source "$K5_GUI_POINTS"

gui_port=5
gui_work=$(mktemp -d)
gui_app_pid=""
gui_trace="$gui_work/trace"
mkdir -p "$K5_GUI_SHOTS"

gui_cleanup() {
  gui_end_app
  k5_wine_stop_serving "$gui_port"
  rm -rf "$gui_work"
}
trap gui_cleanup EXIT

gui_fail() {
  echo "FAIL: $*" >&2
  exit 1
}

k5_wine_prefix "$K5_GUI_BUILD"
[ -s "$K5_GUI_DISPLAY" ] || gui_fail "no virtual display: the k5_display fixture did not run"
DISPLAY=":$(head -n 1 "$K5_GUI_DISPLAY")"
export DISPLAY

# A Windows PC has Tahoma, the dialog font Wine asks for; without it Wine falls back on some
# host font (a mathematical one here), whose glyph boxes put the text of every line edit
# outside its field. Wine's own Tahoma (package fonts-wine) goes into the prefix's Fonts.
gui_install_wine_fonts() {
  local fonts="$WINEPREFIX/drive_c/windows/Fonts" f
  mkdir -p "$fonts"
  for f in tahoma.ttf tahomabd.ttf; do
    [ -f "/usr/share/wine/fonts/$f" ] || gui_fail "/usr/share/wine/fonts/$f is missing (package fonts-wine)"
    if [ ! -f "$fonts/$f" ]; then
      cp "/usr/share/wine/fonts/$f" "$fonts/$f.$$" && mv -f "$fonts/$f.$$" "$fonts/$f"
    fi
  done
}
gui_install_wine_fonts

# The title of window $1 of gui_points.inc.
gui_title() {
  local name="K5_GUI_${1}_TITLE"
  printf '%s' "${!name}"
}

# Starts k5sim (readings 760/760, the worked example) on the test port, tracing to $gui_trace.
gui_start_sim() {
  k5_wine_serve_port "$K5_GUI_K5SIM" "$gui_port" "$gui_work/sim.out" "$gui_trace" \
    --left 760 --right 760 --trace
}
gui_stop_sim() {
  k5_wine_stop_serving "$gui_port"
}

# Waits up to $2 seconds for k5sim's trace to show the text $1.
gui_trace_shows() {
  local text=$1 seconds=$2 _
  for _ in $(seq $((seconds * 10))); do
    grep -qF -- "$text" "$gui_trace" && return 0
    sleep 0.1
  done
  gui_fail "k5sim's trace shows no $text within $seconds s"
}

gui_launch() {
  "$WINELOADER" "$1" </dev/null >/dev/null 2>&1 &
  gui_app_pid=$!
}

# Waits up to 10 s for the program to end by itself; fails, ending it, otherwise.
gui_await_app_end() {
  local _
  for _ in $(seq 100); do
    if ! kill -0 "$gui_app_pid" 2>/dev/null; then
      wait "$gui_app_pid" 2>/dev/null || true
      gui_app_pid=""
      return 0
    fi
    sleep 0.1
  done
  gui_end_app
  gui_fail "the program did not end"
}

gui_end_app() {
  if [ -n "$gui_app_pid" ]; then
    kill "$gui_app_pid" 2>/dev/null || true
    wait "$gui_app_pid" 2>/dev/null || true
    gui_app_pid=""
  fi
}

# Waits up to $2 seconds for a visible window titled exactly as window $1 of gui_points.inc;
# prints its id.
gui_window() {
  local title pattern id
  title=$(gui_title "$1")
  pattern="^$(printf '%s' "$title" | sed 's/[].[^$*+?(){}|\\]/\\&/g')\$"
  id=$(timeout "$2" xdotool search --sync --onlyvisible --name "$pattern" 2>/dev/null | tail -n 1) ||
    gui_fail "no window \"$title\" within $2 s"
  echo "$id"
}

# Waits up to 10 s until window $1 is gone.
gui_gone() {
  local _
  for _ in $(seq 100); do
    xdotool getwindowname "$1" >/dev/null 2>&1 || return 0
    sleep 0.1
  done
  gui_fail "window $1 ($2) stayed open"
}

# Captures window $1 as a PPM (no time stamps in it, so equal pictures are equal files).
gui_capture() {
  timeout 20 import -window "$1" "ppm:$2" 2>/dev/null
}

# Waits until window $1 looks the same twice running (it has finished painting) and, with
# a third argument, until it no longer looks like that picture; keeps it as $2.png ($2 "-":
# not kept, only remembered for gui_last_shot).
gui_shoot() {
  local id=$1 name=$2 before=${3:-} previous="$gui_work/previous.ppm" current="$gui_work/current.ppm" _
  gui_capture "$id" "$previous" || gui_fail "no picture of $name"
  for _ in $(seq 50); do
    gui_capture "$id" "$current" || gui_fail "no picture of $name"
    if cmp -s "$previous" "$current" && { [ -z "$before" ] || ! cmp -s "$before" "$current"; }; then
      [ "$name" = - ] || convert "$current" "$K5_GUI_SHOTS/$name.png"
      mv -f "$current" "$gui_work/last-$id.ppm"
      return 0
    fi
    mv -f "$current" "$previous"
  done
  gui_fail "window $name never settled${before:+ into a new picture}"
}

# The last picture gui_shoot kept of window $1, for "until it changes".
gui_last_shot() {
  echo "$gui_work/last-$1.ppm"
}

# Types keys into window $1 (focused first): xdotool key syntax, e.g. Tab space alt+d.
gui_keys() {
  local id=$1
  shift
  xdotool windowfocus --sync "$id" 2>/dev/null || xdotool windowfocus "$id" 2>/dev/null || true
  xdotool key --delay 120 "$@"
}

# Clicks point $3 of window $2 (names of gui_points.inc) in window id $1.
gui_click() {
  local id=$1 window=$2 point=$3 size place width_units height_units x y WIDTH HEIGHT
  size="K5_GUI_${window}_SIZE"
  place="K5_GUI_${window}_${point}"
  [ -n "${!place:-}" ] || gui_fail "gui_points.inc has no point $point of $window"
  read -r width_units height_units <<<"${!size}"
  read -r x y <<<"${!place}"
  eval "$(xdotool getwindowgeometry --shell "$id" | grep -E '^(WIDTH|HEIGHT)=')"
  xdotool mousemove --window "$id" $((x * WIDTH / width_units)) $((y * HEIGHT / height_units)) \
    click 1
}

# Answers the box titled as window $1 of gui_points.inc, photographed as $2, with keys $3...
gui_answer() {
  local window=$1 name=$2 box
  shift 2
  box=$(gui_window "$window" 30)
  gui_shoot "$box" "$name"
  gui_keys "$box" "$@"
  gui_gone "$box" "$name"
}

# True when k5sim's trace shows the protection registers unlocked, written and locked.
gui_registers_written_and_locked() {
  "$K5_GUI_TRACE_CHECK" "$gui_trace"
}
