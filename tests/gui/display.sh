#!/usr/bin/env bash
# The virtual X display of the GUI scenarios (the k5_display fixture): starts Xvfb, writes
# its display number to STATE.display and its pid to STATE.pid, and stops it by that pid.
#   display.sh start|stop STATE
set -euo pipefail
[ $# -eq 2 ] || { echo "usage: display.sh start|stop STATE" >&2; exit 2; }
state=$2

stop() {
  if [ -f "$state.pid" ]; then
    local pid _
    pid=$(cat "$state.pid")
    rm -f "$state.pid" "$state.display"
    kill "$pid" 2>/dev/null || true
    for _ in $(seq 50); do
      kill -0 "$pid" 2>/dev/null || return 0
      sleep 0.1
    done
    kill -9 "$pid" 2>/dev/null || true
  fi
}

case "$1" in
  start)
    stop  # one left over from a run stopped short
    rm -f "$state.display"
    # Xvfb writes the number of the display it found free once it serves it.
    Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$state.display" \
      </dev/null >/dev/null 2>&1 &
    echo $! >"$state.pid"
    for _ in $(seq 100); do
      [ -s "$state.display" ] && { echo "display :$(cat "$state.display")"; exit 0; }
      kill -0 "$(cat "$state.pid")" 2>/dev/null || break
      sleep 0.1
    done
    echo "Xvfb did not start" >&2
    stop
    exit 1
    ;;
  stop) stop ;;
  *) echo "usage: display.sh start|stop STATE" >&2; exit 2 ;;
esac
