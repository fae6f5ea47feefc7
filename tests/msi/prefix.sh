#!/usr/bin/env bash
# The installer scenarios' Wine prefix: `start` makes it afresh (nothing installed) and starts
# its persistent wineserver; `stop` ends the server and every Wine process of the prefix.
#   prefix.sh start|stop FOLDER
set -euo pipefail
# shellcheck source=scripts/lib/wine.sh
source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/lib/wine.sh"
[ $# -eq 2 ] || { echo "usage: prefix.sh start|stop FOLDER" >&2; exit 2; }
case "$1" in
  start)
    k5_wine_server_stop "$2"
    rm -rf "$2/wine-prefix"
    k5_wine_server_start "$2"
    ;;
  stop) k5_wine_server_stop "$2" ;;
  *) echo "usage: prefix.sh start|stop FOLDER" >&2; exit 2 ;;
esac
