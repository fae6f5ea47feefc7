# The Wine side of the Windows build: one prefix per build folder, a persistent wineserver for
# a test run, and the simulated K5 mapped into the prefix as a COM port. Source it; every
# function takes the build folder (an absolute path) where it needs one.
# shellcheck shell=bash

# shellcheck source=scripts/lib/k5sim.sh
source "$(dirname "${BASH_SOURCE[0]}")/k5sim.sh"

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
# <build>/wine-ports/comn, where a test's k5sim makes its link; while no simulator serves a
# port its link leads to <build>/wine-ports/no-device, an empty file. Every other number up to
# 255 maps to that file as well. Two things make this necessary: Wine maps the host's own
# /dev/ttyS* at every start onto the first numbers the Ports key leaves free (here COM256,
# which k5_wine_guard_ports removes again), and for COM1 to COM9 whose mapping leads nowhere
# it falls back to /dev/ttyS0 to /dev/ttyS8. So no port number reaches a host device.
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
    : >"$build/wine-ports/no-device"
    k5_wine_release_ports
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
          echo "\"COM$n\"=\"$build/wine-ports/no-device\""
        fi
      done
    } >"$reg"
    "$WINELOADER" regedit "$reg" </dev/null >/dev/null 2>&1
    "$WINESERVER" -w
    touch "$WINEPREFIX/.k5-ready"
  ) 9>"$build/wine-prefix.lock"
}

# Removes every COM mapping of the prefix that leads anywhere but <build>/wine-ports (the
# host's own serial devices, mapped afresh whenever Wine's device manager starts), and points
# every test port whose simulator has gone at the empty file again. A port whose simulator is
# starting is locked (k5_wine_lock_port) and left alone.
k5_wine_guard_ports() {
  local n
  find "$WINEPREFIX/dosdevices" -maxdepth 1 -name 'com*' -type l \
    ! -lname "$K5_WINE_BUILD/wine-ports/*" -delete
  for n in $K5_WINE_TEST_PORTS; do
    [ -e "$K5_WINE_BUILD/wine-ports/com$n" ] && continue
    (
      flock -n 8 || exit 0
      [ -e "$K5_WINE_BUILD/wine-ports/com$n" ] || k5_wine_release_port "$n"
    ) 8>"$K5_WINE_BUILD/wine-ports/com$n.lock"
  done
}

# Points every test port at the empty file; only while no test runs.
k5_wine_release_ports() {
  local n
  for n in $K5_WINE_TEST_PORTS; do
    k5_wine_release_port "$n"
  done
}

# Points test port $1 at the empty file unless a simulator's link leads somewhere real.
k5_wine_release_port() {
  local link="$K5_WINE_BUILD/wine-ports/com$1"
  [ -e "$link" ] && [ "$(readlink "$link")" != "$K5_WINE_BUILD/wine-ports/no-device" ] && return 0
  ln -sfn "$K5_WINE_BUILD/wine-ports/no-device" "$link.tmp$$" && mv -fT "$link.tmp$$" "$link"
}

# Serves test port $2 with the native simulator $1, as k5_start_sim does with the port's
# link. While the simulator replaces the port's placeholder with its link, the port is
# locked, so that no Wine start puts the placeholder back in between.
k5_wine_serve_port() {
  local k5sim=$1 port=$2 out=$3 err=$4 status=0
  shift 4
  local link="$K5_WINE_BUILD/wine-ports/com$port"
  exec 8>"$link.lock"
  flock 8
  k5_start_sim "$k5sim" "$link" "$out" "$err" "$@" || status=$?
  flock -u 8
  exec 8>&-
  return $status
}

# Stops the simulator serving test port $1 and gives the port its placeholder back.
k5_wine_stop_serving() {
  k5_stop_sim
  k5_wine_release_port "$1"
}

# True while a wineserver serves the prefix.
k5_wine_server_running() {
  "$WINESERVER" -k0 >/dev/null 2>&1
}

# Starts a persistent wineserver for build folder $1, its output sent nowhere (a server
# inherits the standard error of the Wine call that starts it and would hold a test's pipe
# open), and records its pid in <build>/wineserver.pid. A server left over from an earlier
# run goes first.
k5_wine_server_start() {
  local build=$1
  k5_wine_server_stop "$build"
  k5_wine_prefix "$build"
  k5_wine_release_ports  # a run stopped short may have left a port without its simulator
  "$WINESERVER" -f -p </dev/null >/dev/null 2>&1 &
  echo $! >"$build/wineserver.pid"
  local _
  for _ in $(seq 50); do
    k5_wine_server_running && break
    sleep 0.1
  done
  # The first client starts the device manager, which maps the host's serial devices.
  "$WINELOADER" cmd /c exit </dev/null >/dev/null 2>&1 || true
  k5_wine_guard_ports
}

# The pids of every process that runs in build folder $1's prefix.
k5_wine_pids() {
  local prefix="$1/wine-prefix" pid
  for pid in $(pgrep -u "$(id -u)" . 2>/dev/null); do
    [ "$pid" = "$$" ] && continue
    if { tr '\0' '\n' <"/proc/$pid/environ"; } 2>/dev/null | grep -qxF "WINEPREFIX=$prefix"; then
      echo "$pid"
    fi
  done
}

# Ends build folder $1's wineserver and every Wine process of its prefix, each by its pid:
# the server's helpers (winedevice.exe and the like) outlive it otherwise.
k5_wine_server_stop() {
  local build=$1 pid
  k5_wine_env "$build"
  if [ -f "$build/wineserver.pid" ]; then
    pid=$(cat "$build/wineserver.pid")
    rm -f "$build/wineserver.pid"
    kill "$pid" 2>/dev/null || true
  fi
  local pids _
  pids=$(k5_wine_pids "$build")
  echo "$pids" | xargs -r kill 2>/dev/null || true
  for _ in $(seq 50); do
    pids=$(k5_wine_pids "$build")
    [ -z "$pids" ] && break
    sleep 0.1
  done
  echo "$pids" | xargs -r kill -9 2>/dev/null || true
  # No Wine process is left to race with: every port no simulator serves gets its placeholder.
  [ -d "$build/wine-ports" ] && k5_wine_release_ports
  return 0
}
