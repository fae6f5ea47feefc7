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
sim_pid=""
stop_sim() {
  if [ -n "$sim_pid" ]; then
    kill "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
    sim_pid=""
  fi
}
trap 'stop_sim; k5_wine_server_stop "$build"' EXIT

# Starts k5sim with its link at $1 and waits for it.
start_sim() {
  build/default/sim/k5sim --left 760 --right 760 --link "$1" >/dev/null 2>&1 &
  sim_pid=$!
  for _ in $(seq 100); do
    [ -c "$1" ] && return 0
    sleep 0.05
  done
  echo "k5sim did not start" >&2
  exit 1
}

status=0
k5_wine_server_start "$build"
start_sim "$build/wine-ports/com5"
"$root/scripts/wine-run.sh" "$build/bench/bench_com_link.exe" '\\.\COM5' "$iterations" || status=1
stop_sim
echo
start_sim "$build/native-bench-line"
build/default/bench/bench_com_link "$build/native-bench-line" "$iterations" || status=1
stop_sim
exit $status
