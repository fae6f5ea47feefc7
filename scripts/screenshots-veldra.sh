#!/usr/bin/env bash
# Renders every page of VELDRA to PNG for review, on a virtual X display: the introductory
# pages, the detection, the warm-up initialising and counting down, its cancel question, the
# calibration running and complete. Builds the program and runs its CTest entry
# Screenshots.veldra, which writes build/screenshots/veldra/*.png.
set -euo pipefail
cd "$(dirname "$0")/.."
# shellcheck source=scripts/lib/common.sh
source scripts/lib/common.sh
take_screenshots veldra_screenshots veldra
