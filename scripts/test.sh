#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: the default build, the address and
# undefined-behaviour sanitizer build, the thread sanitizer build, and a bounded fuzzing run.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh

fuzz_seconds="${K5_FUZZ_SECONDS:-30}"

run_preset() {
  local preset=$1
  echo "=== $preset build"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  # Thread sanitizer runtimes of this compiler generation cannot cope with the kernel's
  # widest address-space randomisation; run that build without it.
  if [ "$preset" = tsan ]; then
    setarch "$(uname -m)" -R ctest --preset "$preset"
  else
    ctest --preset "$preset"
  fi
}

run_preset default
run_preset asan
run_preset tsan

echo "=== fuzzing, ${fuzz_seconds} s per target"
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz
for target in fuzz_reply fuzz_sim_parser; do
  corpus="build/fuzz/corpus/$target"
  mkdir -p "$corpus"
  "build/fuzz/fuzz/$target" -max_total_time="$fuzz_seconds" -max_len=1024 -print_final_stats=0 \
    "$corpus" 2>"build/fuzz/$target.log" || { tail -n 40 "build/fuzz/$target.log"; exit 1; }
  echo "$target: $(grep -c . "build/fuzz/$target.log" >/dev/null && tail -n 1 "build/fuzz/$target.log")"
done
echo "All tests passed."
