# The Wine side of the Windows build: one prefix per build folder, a persistent wineserver for
# a test run, and the simulated K5 mapped into the prefix as a COM port. Source it; every
# function takes the build folder (an absolute path) where it needs one.

k5_wine_loader() {
  # Debian's /usr/bin/wine wrapper insists on wine32; the 64-bit loader runs our .exe files.
  if [ -x /usr/lib/wine/wine64 ]; then echo /usr/lib/wine/wine64; else command -v wine64 || command -v wine; fi
}

k5_wine_server() {
  # The server itself, not Debian's wrapper, which adds -p0 and so defeats -p.
  if [ -x /usr/lib/wine/wineserver64 ]; then echo /usr/lib/wine/wineserver64; else command -v wineserver; fi
}

# Exports the environment every Wine call of build folder $1 runs in: its own prefix, no
# debug output, no Mono or Gecko installers, no display.
k5_wine_env() {
  local build=$1
  export K5_WINE_BUILD="$build"
  export WINEPREFIX="$build/wine-prefix"
  export WINEDEBUG=-all
  export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
  export WINEARCH=win64
  export WINELOADER
  WINELOADER=$(k5_wine_loader)
  export WINESERVER
  WINESERVER=$(k5_wine_server)
  unset DISPLAY WAYLAND_DISPLAY
}

# COM ports the tests give to simulated amplifiers: Wine maps COMn onto
# <build>/wine-ports/comn, where a test's k5sim makes its link. Wine also maps the host's own
# /dev/ttyS* at every start, onto the first numbers the Ports key leaves free; the key names
# every other number up to 255 with an empty path, which pushes the host's devices out to
# COM256, beyond any port a search or a test reaches (and k5_wine_unmap_host removes them).
K5_WINE_TEST_PORTS="5 6 7 8 9 10 11 12"

# Creates the prefix of build folder $1 once (under a lock, since tests start in parallel).
k5_wine_prefix() {
  local build=$1
  k5_wine_env "$build"
  mkdir -p "$build/wine-ports"
  (
    flock 9
    [ -f "$WINEPREFIX/.k5-ready" ] && exit 0
    rm -rf "$WINEPREFIX"
    "$WINELOADER" wineboot -i </dev/null >/dev/null 2>&1
    local reg="$build/wine-ports.reg" n
    {
      echo "REGEDIT4"
      echo
      echo "[HKEY_LOCAL_MACHINE\\Software\\Wine\\Ports]"
      for n in $(seq 1 255); do
        if [[ " $K5_WINE_TEST_PORTS " == *" $n "* ]]; then
          echo "\"COM$n\"=\"$build/wine-ports/com$n\""
        else
          echo "\"COM$n\"=\"\""
        fi
      done
    } >"$reg"
    "$WINELOADER" regedit "$reg" </dev/null >/dev/null 2>&1
    "$WINESERVER" -w
    touch "$WINEPREFIX/.k5-ready"
  ) 9>"$build/wine-prefix.lock"
}

# Removes every COM mapping of the prefix that leads outside the test ports (the host's own
# serial devices, mapped afresh whenever Wine's device manager starts).
k5_wine_unmap_host() {
  local link
  for link in "$WINEPREFIX"/dosdevices/com*; do
    [ -L "$link" ] || continue
    case "$(readlink "$link")" in
      "$K5_WINE_BUILD/wine-ports/"*) ;;
      *) rm -f "$link" ;;
    esac
  done
}

# Starts a persistent wineserver for build folder $1 with its output sent nowhere (it would
# otherwise hold the caller's pipes open) and prints its pid.
k5_wine_server_start() {
  local build=$1
  k5_wine_env "$build"
  "$WINESERVER" -k >/dev/null 2>&1 || true
  "$WINESERVER" -f -p </dev/null >/dev/null 2>&1 &
  echo $!
}

# True while a wineserver serves the prefix.
k5_wine_server_running() {
  "$WINESERVER" -k0 >/dev/null 2>&1
}

# Starts a persistent wineserver for build folder $1, its output sent nowhere (a server
# inherits the standard error of the Wine call that starts it and would hold a test's pipe
# open), and sets k5_wine_server_pid. A server left over from an earlier run goes first.
k5_wine_server_start() {
  local build=$1
  k5_wine_env "$build"
  "$WINESERVER" -k >/dev/null 2>&1 || true
  "$WINESERVER" -f -p </dev/null >/dev/null 2>&1 &
  k5_wine_server_pid=$!
  local _
  for _ in $(seq 50); do
    k5_wine_server_running && break
    sleep 0.1
  done
  # The first client starts the device manager, which maps the host's serial devices.
  "$WINELOADER" cmd /c exit </dev/null >/dev/null 2>&1 || true
  k5_wine_unmap_host
}

# Ends the server started by k5_wine_server_start, and with it every Wine process of the
# prefix.
k5_wine_server_stop() {
  [ -n "${k5_wine_server_pid:-}" ] || return 0
  kill "$k5_wine_server_pid" 2>/dev/null || true
  wait "$k5_wine_server_pid" 2>/dev/null || true
  k5_wine_server_pid=
}
