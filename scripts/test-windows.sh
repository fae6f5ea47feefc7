#!/usr/bin/env bash
# The Windows build and its tests: builds the native k5sim the tests talk to, cross-builds
# the windows preset with mingw-w64 and its zip, and runs its tests under Wine with one
# persistent wineserver for the whole run (about 0.05 s per program start instead of 3 s),
# the GUI scenarios among them. Every Wine, simulator and display process the tests start is
# ended by its pid before ctest returns.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
. scripts/lib/ccache.sh

echo "=== windows build (mingw-w64, tests under Wine)"
# The native programs the tests under Wine talk to: the simulated K5 and the reader of its
# trace.
cmake --preset default >/dev/null
cmake --build --preset default --target k5sim register_trace_check
# Qt for Windows in its cache folder, for torvik.exe and veldra.exe: unpacked from
# ../shared/qt-windows when that is there, otherwise built once from Debian's sources.
scripts/qt-windows.sh >/dev/null
# Configure, build (with the Windows Installer package), pack the zip, then ctest: the tests
# under Wine, the desktop programs clicked through on a virtual display, the zip's programs
# started and the package installed, upgraded and removed in a Wine prefix of its own. ctest starts the
# persistent wineserver and the display before the first test that needs them and ends
# them, with every Wine and simulator process, after the last.
cmake --workflow --preset windows
version=$(sed -n 's/^project(k5kit VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
# The zip holds the programs and the README at its top, and nothing of the build.
zip="build/windows/package/k5kit-$version-win64.zip"
python3 - "$zip" <<'PY'
import sys, zipfile
names = zipfile.ZipFile(sys.argv[1]).namelist()
top = sorted({n.split("/", 1)[1] for n in names if n.count("/") == 1})
assert "k5ctl.exe" in top and "README.txt" in top, top
assert len(names) < 200, f"{len(names)} files: the zip holds more than the programs"
print(f"{sys.argv[1]}: {', '.join(top)}")
PY
# The Windows Installer package beside the zip.
msi="build/windows/package/k5kit-$version-x64.msi"
[ -f "$msi" ] || { echo "FAIL: no $msi" >&2; exit 1; }
echo "$msi: $(du -h "$msi" | cut -f1)"
