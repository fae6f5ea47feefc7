#!/usr/bin/env bash
# The kit's Windows Installer package under Wine, one scenario per run:
#   msi-test.sh install|shortcuts|k5ctl|downgrade|upgrade|remove
# Each first brings the prefix into the state it starts from, so that each runs on its own
# (ctest -R).
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
# shellcheck source=tests/msi/msi.sh
source "$here/msi.sh"

case "${1:-}" in
  install)
    msi_remove_any
    msi_install "$K5_MSI"
    msi_check_files "$K5_MSI_VERSION"
    for exe in torvik k5ctl veldra; do
      manifest=$(wrestool -x --raw -t 24 -n 1 "$msi_folder/$exe.exe" 2>/dev/null) ||
        msi_fail "$exe.exe carries no application manifest"
      grep -q 'level="asInvoker"' <<<"$manifest" || msi_fail "$exe.exe does not run as invoker"
      grep -q 'supportedOS Id="{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"' <<<"$manifest" ||
        msi_fail "$exe.exe is not declared for Windows 10 and 11"
      ! grep -qi 'dpiAware' <<<"$manifest" || msi_fail "$exe.exe's manifest takes DPI from Qt"
    done
    [ "$(msi_entry_value DisplayVersion)" = "$K5_MSI_VERSION" ] || msi_fail "no entry of version $K5_MSI_VERSION"
    [ "$(msi_entry_value Publisher)" = "K5 service kit team" ] || msi_fail "the entry names no publisher"
    [ "$(msi_entry_value HelpLink)" = 'C:\Program Files\K5 service kit\README.txt' ] ||
      msi_fail "the entry's help link is not the README"
    echo "installed: $(msi_files "$msi_folder" | wc -l) files, entry $K5_MSI_VERSION, manifests"
    ;;
  shortcuts)
    msi_install "$K5_MSI"
    [ "$(msi_shortcuts | wc -l)" = 2 ] || msi_fail "not the two shortcuts: $(msi_shortcuts)"
    while read -r link; do
      name=$(basename "$link" .lnk)
      exe="C:\\Program Files\\K5 service kit\\${name,,}.exe"
      strings -a "$link" | grep -qxF "$exe" || msi_fail "$name.lnk does not start $exe"
      strings -a -e l "$link" | grep -q "${name,,}.ico\$" || msi_fail "$name.lnk has not its icon"
      echo "$name.lnk: $exe"
    done < <(msi_shortcuts)
    ;;
  k5ctl)
    # The installed k5ctl.exe configures a simulated K5 on COM5 and prints the worked example.
    msi_install "$K5_MSI"
    K5_WINE_BUILD_DIR=$K5_MSI_HOME exec "$K5_SOURCE_DIR/scripts/wine-sim-test.sh" --build "$K5_MSI_HOME" --k5sim "$K5_MSI_K5SIM" \
      --port 5 --stdout "$K5_SOURCE_DIR/tests/wine/worked_example.log" \
      -- "$msi_folder/k5ctl.exe" --device '\\.\COM5' configure
    ;;
  downgrade)
    msi_install "$K5_MSI"
    if msi_exec /i "$K5_MSI_OLDER"; then msi_fail "the older package installed over the newer"; fi
    [ "$(msi_entry_value DisplayVersion)" = "$K5_MSI_VERSION" ] || msi_fail "the newer entry went"
    msi_check_files "$K5_MSI_VERSION"
    echo "$K5_MSI_OLDER_VERSION over $K5_MSI_VERSION: refused"
    ;;
  upgrade)
    msi_remove_any
    msi_install "$K5_MSI_OLDER"
    msi_check_files "$K5_MSI_OLDER_VERSION"
    msi_install "$K5_MSI"
    [ "$(msi_entry_value DisplayVersion)" = "$K5_MSI_VERSION" ] ||
      msi_fail "not one entry of version $K5_MSI_VERSION: $(msi_entry_value DisplayVersion)"
    msi_check_files "$K5_MSI_VERSION"
    [ "$(msi_shortcuts | wc -l)" = 2 ] || msi_fail "not the two shortcuts: $(msi_shortcuts)"
    echo "$K5_MSI_OLDER_VERSION upgraded to $K5_MSI_VERSION: one entry, its files"
    ;;
  remove)
    msi_install "$K5_MSI"
    # A report the technician saved beside the programs is theirs and stays.
    printf 'report\r\n' >"$msi_folder/CfgLog.txt"
    msi_exec /x "$K5_MSI" || msi_fail "msiexec /x /qn failed ($?)"
    [ "$(msi_files "$msi_folder")" = CfgLog.txt ] ||
      msi_fail "left in the folder: $(msi_files "$msi_folder" | tr '\n' ' ')"
    [ -z "$(msi_shortcuts)" ] || msi_fail "shortcuts left: $(msi_shortcuts)"
    [ -z "$(msi_entry_value DisplayName)" ] || msi_fail "the Add/Remove Programs entry stayed"
    ! "$WINELOADER" reg query 'HKLM\Software\K5 service kit' </dev/null >/dev/null 2>&1 ||
      msi_fail "the kit's registry key stayed"
    rm -rf "$msi_folder"
    echo "removed: nothing left but the report"
    ;;
  *)
    echo "usage: msi-test.sh install|shortcuts|k5ctl|downgrade|upgrade|remove" >&2
    exit 2
    ;;
esac
