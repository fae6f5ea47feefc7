# Pieces the run and screenshot scripts share; source it from the repository root.

# Installs what is missing and builds the default configuration.
build_default() {
  scripts/install-deps.sh
  . scripts/lib/ccache.sh
  cmake --preset default >/dev/null
  cmake --build --preset default
}

# Starts a simulated K5 (readings 760/760) in the background, maps it to COM port $1 with
# K5_COM<n>, and stops it when the calling script exits.
start_simulated_k5() {
  local port=$1
  local simout
  simout=$(mktemp)
  build/default/sim/k5sim --left 760 --right 760 >"$simout" &
  k5sim_pid=$!
  trap 'kill "$k5sim_pid" 2>/dev/null; wait "$k5sim_pid" 2>/dev/null' EXIT
  # k5sim prints its terminal's path once it serves.
  for _ in $(seq 50); do
    [ -s "$simout" ] && break
    sleep 0.1
  done
  local device
  device=$(head -n 1 "$simout")
  rm -f "$simout"
  [ -n "$device" ] || { echo "k5sim did not start" >&2; exit 1; }
  export "K5_COM$port=$device"
  echo "Simulated K5 on $device, mapped to COM$port (K5_COM$port)."
}

have_display() {
  [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]
}

# Builds screenshot program $1 (a target under $2/, in K5_BUILD_DIR if set, a configured
# build folder) and runs it on a virtual X display, writing its PNGs to $3 afresh.
take_screenshots() {
  local target=$1 folder=$2 out=$3
  scripts/install-deps.sh
  local build="${K5_BUILD_DIR:-build/default}"
  if [ -z "${K5_BUILD_DIR:-}" ]; then
    cmake --preset default >/dev/null
  fi
  cmake --build "$build" --target "$target"
  rm -rf "$out"
  mkdir -p "$out"
  xvfb-run -a -s "-screen 0 1280x1024x24" "$build/$folder/$target" "$out"
  echo "Screenshots in $out/"
}
