#!/usr/bin/env bash
# Runs a Windows executable of the cross build under Wine: ctest's emulator for the windows
# preset (CMAKE_CROSSCOMPILING_EMULATOR). Usage: wine-run.sh PROGRAM.exe [ARGUMENT...]
# The build folder, whose Wine prefix is used (and created on first use), is the nearest
# folder above PROGRAM that holds a CMakeCache.txt, or K5_WINE_BUILD_DIR when set.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
# shellcheck source=scripts/lib/wine.sh
source "$here/lib/wine.sh"

[ $# -ge 1 ] || { echo "usage: wine-run.sh PROGRAM.exe [ARGUMENT...]" >&2; exit 2; }
program=$1
shift

build="${K5_WINE_BUILD_DIR:-}"
if [ -z "$build" ]; then
  dir="$(cd "$(dirname "$program")" && pwd)"
  while [ "$dir" != / ] && [ ! -f "$dir/CMakeCache.txt" ]; do dir="$(dirname "$dir")"; done
  [ -f "$dir/CMakeCache.txt" ] || { echo "wine-run.sh: no build folder above $program" >&2; exit 2; }
  build=$dir
fi

k5_wine_prefix "$build"
if ! k5_wine_server_running; then
  # No test run's server: start one that ends itself a few seconds after its last client,
  # with its output sent nowhere.
  "$WINESERVER" -p3 </dev/null >/dev/null 2>&1 || true
  "$WINELOADER" cmd /c exit </dev/null >/dev/null 2>&1 || true
fi
k5_wine_guard_ports
exec "$WINELOADER" "$program" "$@"
