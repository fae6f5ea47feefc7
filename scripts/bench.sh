#!/usr/bin/env bash
# Builds the default configuration and runs every benchmark against the simulated K5.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default
status=0
for b in build/default/bench/bench_*; do
  [ -x "$b" ] || continue
  echo "=== $(basename "$b")"
  "$b" || status=1
done
exit $status
