#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: shellcheck over the scripts, the
# default build, the address and undefined-behaviour sanitizer build, the thread sanitizer
# build (each a CMake workflow preset: configure, build, test), the kit on real serial drivers
# in a virtual machine, a bounded fuzzing run, the Debian package's checks, and the Windows
# build with its tests under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
. scripts/lib/ccache.sh

fuzz_seconds="${K5_FUZZ_SECONDS:-30}"

echo "=== shellcheck"
mapfile -t shell_scripts < <(find scripts tests/drivers tests/gui tests/msi tests/windows \
  -name '*.sh' | sort)
shellcheck -x .ci/run "${shell_scripts[@]}"
echo "scripts: shellcheck clean"

for preset in default asan tsan; do
  echo "=== $preset build"
  cmake --workflow --preset "$preset"
done

echo "=== real serial drivers, in a virtual machine"
K5_BUILD_DIR=build/default scripts/test-drivers.sh

echo "=== fuzzing, ${fuzz_seconds} s per target"
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz --target fuzz_reply fuzz_sim_parser
for target in fuzz_reply fuzz_sim_parser; do
  corpus="build/fuzz/corpus/$target"
  mkdir -p "$corpus"
  "build/fuzz/fuzz/$target" -max_total_time="$fuzz_seconds" -max_len=1024 -print_final_stats=0 \
    "$corpus" 2>"build/fuzz/$target.log" || { tail -n 40 "build/fuzz/$target.log"; exit 1; }
  echo "$target: $(grep -o 'Done [0-9]* runs in [0-9]* second(s)' "build/fuzz/$target.log"), no failure"
done
scripts/check-package.sh
scripts/test-windows.sh
echo "All tests passed."
