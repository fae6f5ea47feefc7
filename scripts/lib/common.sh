# shellcheck shell=bash
# Pieces the run and screenshot scripts share; source it from the repository root.

# shellcheck source=scripts/lib/k5sim.sh
source scripts/lib/k5sim.sh

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
  local port=$1 device
  k5sim_dir=$(mktemp -d)
  trap 'k5_stop_sim; rm -rf "$k5sim_dir"' EXIT
  k5_start_sim build/default/sim/k5sim "$k5sim_dir/k5" "$k5sim_dir/out" "$k5sim_dir/err" \
    --left 760 --right 760 || exit 1
  # k5sim prints its terminal's path once it serves.
  device=$(head -n 1 "$k5sim_dir/out")
  export "K5_COM$port=$device"
  echo "Simulated K5 on $device, mapped to COM$port (K5_COM$port)."
}

have_display() {
  [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]
}

# Builds screenshot program $1 (in K5_BUILD_DIR if set, a configured build folder) and runs
# its CTest entry Screenshots.$2, which photographs the windows on a virtual X display into
# build/screenshots/$2/ afresh.
take_screenshots() {
  local target=$1 program=$2
  scripts/install-deps.sh
  local build="${K5_BUILD_DIR:-build/default}"
  if [ -z "${K5_BUILD_DIR:-}" ]; then
    cmake --preset default >/dev/null
  fi
  cmake --build "$build" --target "$target"
  ctest --test-dir "$build" --output-on-failure -R "^Screenshots\\.$program\$"
  echo "Screenshots in build/screenshots/$program/"
}
