#!/usr/bin/env bash
# Starts or stops the persistent wineserver of a Windows build folder: the setup and cleanup
# of its tests (ctest runs them around every test that starts Wine).
#   wine-server.sh start|stop BUILD_DIR
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
# shellcheck source=scripts/lib/wine.sh
source "$here/lib/wine.sh"
[ $# -eq 2 ] || { echo "usage: wine-server.sh start|stop BUILD_DIR" >&2; exit 2; }
case "$1" in
  start) k5_wine_server_start "$2" ;;
  stop) k5_wine_server_stop "$2" ;;
  *) echo "usage: wine-server.sh start|stop BUILD_DIR" >&2; exit 2 ;;
esac
