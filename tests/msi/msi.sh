# shellcheck shell=bash
# What the installer scenarios share: the Wine prefix of their own (in K5_MSI_HOME, made
# afresh by the Msi.Prefix fixture), msiexec, and what the kit looks like once installed.
#
# The scenario's environment (set by tests/msi/CMakeLists.txt):
#   K5_MSI_HOME      the folder of the scenarios' Wine prefix and ports (scripts/lib/wine.sh)
#   K5_MSI           the package of this build
#   K5_MSI_OLDER     the same files packed with a lower version
#   K5_MSI_VERSION   this build's version, K5_MSI_OLDER_VERSION the lower one
#   K5_MSI_STAGE     the files the package holds, as the build staged them
#   K5_MSI_K5SIM     the native k5sim
#   K5_SOURCE_DIR    the repository
set -euo pipefail

# shellcheck source=scripts/lib/wine.sh
source "$K5_SOURCE_DIR/scripts/lib/wine.sh"
k5_wine_env "$K5_MSI_HOME"
[ -f "$WINEPREFIX/.k5-ready" ] || { echo "FAIL: no prefix: the k5_msi fixture did not run" >&2; exit 1; }

msi_folder="$WINEPREFIX/drive_c/Program Files/K5 service kit"
msi_uninstall='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall'

msi_fail() {
  echo "FAIL: $*" >&2
  exit 1
}

# msiexec with the given arguments, silent; its exit status (Wine passes on its low byte).
msi_exec() {
  "$WINELOADER" msiexec "$@" /qn </dev/null >/dev/null 2>&1
}

msi_install() {
  msi_exec /i "$1" || msi_fail "msiexec /i $(basename "$1") /qn failed ($?)"
}

# Removes whichever version of the kit is installed.
msi_remove_any() {
  msi_exec /x "$K5_MSI" || true
  msi_exec /x "$K5_MSI_OLDER" || true
}

# Every Add/Remove Programs entry, as reg prints it.
msi_entries() {
  "$WINELOADER" reg query "$msi_uninstall" /s </dev/null 2>/dev/null | tr -d '\r'
}

# The value $1 of the kit's entries, one line per entry.
msi_entry_value() {
  msi_entries | awk -v name="$1" '
    /^HKEY_/ { kit = 0; value = "" }
    $1 == "DisplayName" && $0 ~ /REG_SZ +K5 service kit$/ { kit = 1 }
    $1 == name { sub(/^ *[^ ]+ +REG_[A-Z_]+ */, ""); value = $0 }
    /^$/ { if (kit) print value; kit = 0 }
    END { if (kit) print value }'
}

# The files of a folder, relative to it, sorted.
msi_files() {
  (cd "$1" && find . -type f | sed 's|^\./||' | LC_ALL=C sort)
}

# The kit's files are exactly those staged, and the README is of version $1.
msi_check_files() {
  [ -d "$msi_folder" ] || msi_fail "nothing in $msi_folder"
  diff <(msi_files "$K5_MSI_STAGE") <(msi_files "$msi_folder") >&2 ||
    msi_fail "the installed files are not the staged ones (< staged, > installed)"
  head -n 1 "$msi_folder/README.txt" | grep -qxF "K5 service kit $1 for Windows"$'\r' ||
    msi_fail "README.txt is not the one of version $1"
}

# The Start-menu shortcuts: per machine, but Wine puts them where it wants (the user's own
# menu folder here), so they are looked for everywhere on drive C.
msi_shortcuts() {
  find "$WINEPREFIX/drive_c" \( -name TORVIK.lnk -o -name VELDRA.lnk \) | LC_ALL=C sort
}
