#!/usr/bin/env bash
# The main job: installs what is missing, builds, starts a simulated K5 on COM1 and opens the
# configuration tool TORVIK on it. Without a display ($DISPLAY and $WAYLAND_DISPLAY unset) it
# says so and runs the configuration procedure headless with k5ctl instead; options are then
# passed on to 'k5ctl configure' (see 'build/default/cli/k5ctl --help').
set -euo pipefail
cd "$(dirname "$0")/.."
# shellcheck source=scripts/lib/common.sh
source scripts/lib/common.sh

build_default
start_simulated_k5 1

if have_display; then
  echo "Opening TORVIK: choose COM1, press Open, then Start."
  build/default/torvik/torvik
  exit 0
fi

echo "No display (neither DISPLAY nor WAYLAND_DISPLAY is set): running the configuration" \
  "headless with k5ctl instead of opening TORVIK."
build/default/cli/k5ctl --port 1 link-test
build/default/cli/k5ctl --port 1 configure "$@"
