#!/usr/bin/env bash
# The Windows build and its tests: builds the native k5sim the tests talk to, cross-builds
# the windows preset with mingw-w64, and runs its tests under Wine with one persistent
# wineserver for the whole run (about 0.05 s per program start instead of 3 s). Every Wine
# and simulator process the tests start is ended by its pid before ctest returns.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh

echo "=== windows build (mingw-w64, tests under Wine)"
cmake --preset default >/dev/null
cmake --build --preset default --target k5sim
# Qt for Windows in its cache folder, for torvik.exe and veldra.exe: unpacked from
# ../shared/qt-windows when that is there, otherwise built once from Debian's sources.
scripts/qt-windows.sh >/dev/null
cmake --preset windows >/dev/null
cmake --build --preset windows

# ctest starts the persistent wineserver before the first test and ends it, with every Wine
# and simulator process, after the last.
ctest --preset windows "$@"
cmake --build --preset windows --target package
# The desktop programs under Wine on a virtual display, clicked through and photographed, and
# started once more from the unpacked zip.
if [ -f build/windows/torvik/torvik.exe ]; then
  scripts/wine-qt.sh build/windows
fi
