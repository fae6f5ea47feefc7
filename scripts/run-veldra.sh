#!/usr/bin/env bash
# Installs what is missing, builds, starts a simulated K5 mapped to COM3 and opens the
# calibration wizard VELDRA on it. Without a display ($DISPLAY and $WAYLAND_DISPLAY unset) it
# says so and runs the detection and calibration headless with k5ctl instead.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default

bin=build/default
simout=$(mktemp)
"$bin/sim/k5sim" --left 760 --right 760 >"$simout" &
simpid=$!
trap 'kill "$simpid" 2>/dev/null; wait "$simpid" 2>/dev/null; rm -f "$simout"' EXIT

# k5sim prints its terminal's path once it serves.
for _ in $(seq 50); do
  [ -s "$simout" ] && break
  sleep 0.1
done
device=$(head -n 1 "$simout")
[ -n "$device" ] || { echo "k5sim did not start" >&2; exit 1; }

export K5_COM3="$device"
echo "Simulated K5 on $device, mapped to COM3 (K5_COM3)."

if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
  echo "Opening VELDRA: press Next twice, choose COM3 (or Auto Detect), then Next."
  "$bin/veldra/veldra"
  exit 0
fi

echo "No display (neither DISPLAY nor WAYLAND_DISPLAY is set): running the calibration" \
  "headless with k5ctl instead of opening VELDRA."
"$bin/cli/k5ctl" --port 3 calibrate
