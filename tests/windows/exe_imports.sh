#!/usr/bin/env bash
# What the Windows programs import, read from their import tables without running them:
# all three ask for the 1 ms timer and opt out of timer power throttling; TORVIK and VELDRA
# use the C++ runtime DLL that Qt's own DLLs use, and k5ctl.exe carries its runtime inside.
# Usage: exe_imports.sh OBJDUMP TORVIK_EXE VELDRA_EXE K5CTL_EXE QT6CORE_DLL
set -euo pipefail
objdump=$1 torvik=$2 veldra=$3 k5ctl=$4 qtcore=$5
failures=0

expect() {
  local file=$1 what=$2 wanted=$3 table found
  # The whole table first: grep -q would end objdump early, and pipefail would say "no".
  table=$("$objdump" -p "$file")
  if grep -qw -- "$what" <<<"$table"; then found=yes; else found=no; fi
  if [ "$found" != "$wanted" ]; then
    echo "FAIL: $(basename "$file") imports $what: $found, expected $wanted" >&2
    failures=$((failures + 1))
  fi
}

for exe in "$torvik" "$veldra" "$k5ctl"; do
  expect "$exe" timeBeginPeriod yes
  expect "$exe" SetProcessInformation yes
done
expect "$qtcore" libstdc++-6.dll yes
for exe in "$torvik" "$veldra"; do
  expect "$exe" libstdc++-6.dll yes
done
for runtime in libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll; do
  expect "$k5ctl" "$runtime" no
done
[ "$failures" -eq 0 ] && echo "imports as expected"
exit "$failures"
