#!/usr/bin/env bash
# Times a register reading and a text exchange against the simulated K5 twice, natively and
# as the Windows program under Wine (the simulator mapped to COM5), and prints both tables.
#   scripts/bench-windows.sh [iterations]
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
source scripts/lib/wine.sh
iterations=${1:-200}

scripts/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default --target k5sim bench_com_link
cmake --preset windows >/dev/null
cmake --build --preset windows --target bench_com_link

build="$root/build/windows"
trap 'k5_stop_sim; k5_wine_server_stop "$build"' EXIT
k5sim=build/default/sim/k5sim
sim_log="$build/bench-k5sim.log"

status=0
k5_wine_server_start "$build"
k5_wine_serve_port "$k5sim" 5 /dev/null "$sim_log" --left 760 --right 760
"$root/scripts/wine-run.sh" "$build/bench/bench_com_link.exe" '\\.\COM5' "$iterations" || status=1
k5_wine_stop_serving 5
echo
k5_start_sim "$k5sim" "$build/native-bench-line" /dev/null "$sim_log" --left 760 --right 760
build/default/bench/bench_com_link "$build/native-bench-line" "$iterations" || status=1
k5_stop_sim
exit $status
