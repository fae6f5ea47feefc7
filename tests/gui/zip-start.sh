#!/usr/bin/env bash
# The zip as a Windows PC gets it: unpacked into a folder of its own, TORVIK and VELDRA each
# start from it with only what it holds and show their windows.
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
# shellcheck source=tests/gui/scenario.sh
source "$here/scenario.sh"

zips=("$K5_GUI_BUILD"/package/k5kit-*-win64.zip)
[ -f "${zips[-1]}" ] || gui_fail "no zip in $K5_GUI_BUILD/package (build the target package)"
zip=${zips[-1]}
mkdir -p "$gui_work/unpacked"
(cd "$gui_work/unpacked" && unzip -q "$zip")
folder=$(echo "$gui_work"/unpacked/k5kit-*-win64)
for program in torvik veldra; do
  gui_launch "$folder/$program.exe"
  gui_window "$program" 60 >/dev/null
  gui_end_app
  echo "$(basename "$zip"): $program.exe starts"
done
