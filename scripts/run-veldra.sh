#!/usr/bin/env bash
# Installs what is missing, builds, starts a simulated K5 mapped to COM3 and opens the
# calibration wizard VELDRA on it. Without a display ($DISPLAY and $WAYLAND_DISPLAY unset) it
# says so and runs the detection and calibration headless with k5ctl instead.
set -euo pipefail
cd "$(dirname "$0")/.."
# shellcheck source=scripts/lib/common.sh
source scripts/lib/common.sh

build_default
start_simulated_k5 3

if have_display; then
  echo "Opening VELDRA: press Next twice, choose COM3 (or Auto Detect), then Next."
  build/default/veldra/veldra
  exit 0
fi

echo "No display (neither DISPLAY nor WAYLAND_DISPLAY is set): running the calibration" \
  "headless with k5ctl instead of opening VELDRA."
build/default/cli/k5ctl --port 3 calibrate
