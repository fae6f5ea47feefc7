#!/usr/bin/env bash
# Renders every window and dialog of TORVIK to PNG for review, on a virtual X display: the
# main window idle, with the port open, running and after a successful run, the message
# boxes, both dialogs and a validation prompt. Builds the program and runs its CTest entry
# Screenshots.torvik, which writes build/screenshots/torvik/*.png.
set -euo pipefail
cd "$(dirname "$0")/.."
# shellcheck source=scripts/lib/common.sh
source scripts/lib/common.sh
take_screenshots torvik_screenshots torvik
