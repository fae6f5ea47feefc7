#!/usr/bin/env bash
# Renders every page of VELDRA to PNG for review, on a virtual X display: the introductory
# pages, the detection, the warm-up initialising and counting down, its cancel question, the
# calibration running and complete. Writes build/screenshots/veldra/*.png.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
# K5_BUILD_DIR names another configured build folder to take the program from.
build="${K5_BUILD_DIR:-build/default}"
if [ -z "${K5_BUILD_DIR:-}" ]; then
  cmake --preset default >/dev/null
fi
cmake --build "$build" --target veldra_screenshots

out=build/screenshots/veldra
rm -rf "$out"
mkdir -p "$out"
xvfb-run -a -s "-screen 0 1280x1024x24" "$build/veldra/veldra_screenshots" "$out"
echo "Screenshots in $out/"
