#!/usr/bin/env bash
# What Explorer and the taskbar see of the two programs: each carries its icon file as group
# icon 128 and is a windowed program (no console window opens beside it).
#   exe-resources.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$1 source=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for program in torvik veldra; do
  exe="$build/$program/$program.exe"
  wrestool -x -t 14 -n 128 "$exe" -o "$work/$program.ico"
  if [ "$(icotool -l "$work/$program.ico")" != "$(icotool -l "$source/resources/$program.ico")" ]; then
    echo "FAIL: $program.exe carries no icon 128 like resources/$program.ico" >&2
    exit 1
  fi
  headers=$(x86_64-w64-mingw32-objdump -p "$exe")
  grep -q '^Subsystem.*(Windows GUI)' <<<"$headers" ||
    { echo "FAIL: $program.exe is not a windowed (GUI subsystem) program" >&2; exit 1; }
  echo "$program.exe: icon resources/$program.ico, windowed"
done
