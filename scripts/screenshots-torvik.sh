#!/usr/bin/env bash
# Renders every window and dialog of TORVIK to PNG for review, on a virtual X display: the
# main window idle, with the port open, running and after a successful run, the message
# boxes, both dialogs and a validation prompt. Writes build/screenshots/*.png.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
# K5_BUILD_DIR names another configured build folder to take the program from.
build="${K5_BUILD_DIR:-build/default}"
if [ -z "${K5_BUILD_DIR:-}" ]; then
  cmake --preset default >/dev/null
fi
cmake --build "$build" --target torvik_screenshots

out=build/screenshots
rm -rf "$out"
mkdir -p "$out"
xvfb-run -a -s "-screen 0 1280x1024x24" "$build/torvik/torvik_screenshots" "$out"
echo "Screenshots in $out/"
