#!/usr/bin/env bash
# The main job: installs what is missing, builds, starts a simulated K5 on COM1 and opens the
# configuration tool TORVIK on it. Without a display ($DISPLAY and $WAYLAND_DISPLAY unset) it
# says so and runs the configuration procedure headless with k5ctl instead; options are then
# passed on to 'k5ctl configure' (see 'build/default/cli/k5ctl --help').
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

export K5_COM1="$device"
echo "Simulated K5 on $device, mapped to COM1 (K5_COM1)."

if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
  echo "Opening TORVIK: choose COM1, press Open, then Start."
  "$bin/torvik/torvik"
  exit 0
fi

echo "No display (neither DISPLAY nor WAYLAND_DISPLAY is set): running the configuration" \
  "headless with k5ctl instead of opening TORVIK."
"$bin/cli/k5ctl" --port 1 link-test
"$bin/cli/k5ctl" --port 1 configure "$@"
