#!/usr/bin/env bash
# The Windows build and its tests: builds the native k5sim the tests talk to, cross-builds
# the windows preset with mingw-w64, and runs its tests under Wine with one persistent
# wineserver for the whole run (about 0.05 s per program start instead of 3 s). Every Wine
# and simulator process the tests start is ended by its pid before ctest returns.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
. scripts/lib/ccache.sh

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
# The zip holds the programs and the README at its top, and nothing of the build.
zip="build/windows/package/k5kit-$(sed -n 's/^project(k5kit VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)-win64.zip"
python3 - "$zip" <<'PY'
import sys, zipfile
names = zipfile.ZipFile(sys.argv[1]).namelist()
top = sorted({n.split("/", 1)[1] for n in names if n.count("/") == 1})
assert "k5ctl.exe" in top and "README.txt" in top, top
assert len(names) < 200, f"{len(names)} files: the zip holds more than the programs"
print(f"{sys.argv[1]}: {', '.join(top)}")
PY
# The desktop programs under Wine on a virtual display, clicked through and photographed, and
# started once more from the unpacked zip.
if [ -f build/windows/torvik/torvik.exe ]; then
  scripts/wine-qt.sh build/windows
fi
