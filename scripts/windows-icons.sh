#!/usr/bin/env bash
# Makes the Windows icon files resources/torvik.ico and resources/veldra.ico, which the
# programs' .rc files carry: TORVIK's from its PNG icons, VELDRA's from the drawing the wizard
# shows as its window icon, rendered by the default build. Run it after changing either icon,
# and commit the .ico files (the Windows cross build cannot run the renderer).
set -euo pipefail
cd "$(dirname "$0")/.."
command -v icotool >/dev/null || { echo "icotool is missing (package icoutils)" >&2; exit 1; }

cmake --preset default >/dev/null
cmake --build --preset default --target veldra_icon_render
rendered=$(mktemp -d)
trap 'rm -rf "$rendered"' EXIT
QT_QPA_PLATFORM=offscreen build/default/tools/veldra_icon_render "$rendered"

# The 256-pixel image goes in as PNG (as Windows itself stores large icons), the small ones
# as bitmaps that every Windows version reads.
icotool -c -o resources/torvik.ico resources/torvik-16.png resources/torvik-32.png \
  resources/torvik-48.png
icotool -c -o resources/veldra.ico "$rendered/veldra-16.png" "$rendered/veldra-32.png" \
  "$rendered/veldra-48.png" -r "$rendered/veldra-256.png"
icotool -l resources/torvik.ico resources/veldra.ico
