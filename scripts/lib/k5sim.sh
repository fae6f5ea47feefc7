# shellcheck shell=bash
# The one way the scripts run the native simulated K5: started in the background with a
# symbolic link to its terminal, awaited until that link leads to the terminal, stopped by
# its pid. Source it.

# Starts the simulator $1 with its link at $2 (further arguments after $4 go to it), its
# standard output (the terminal's path) to $3 and its standard error to $4. Sets k5_sim_pid
# and returns once the link leads to its terminal; fails with the simulator's own words
# otherwise. Descriptor 8, a port lock some callers hold, stays with the caller.
k5_start_sim() {
  local k5sim=$1 link=$2 out=$3 err=$4 _
  shift 4
  "$k5sim" --link "$link" "$@" >"$out" 2>"$err" 8>&- &
  k5_sim_pid=$!
  for _ in $(seq 100); do
    [ -c "$link" ] && return 0
    kill -0 "$k5_sim_pid" 2>/dev/null || break
    sleep 0.05
  done
  echo "k5sim did not start at $link:" >&2
  cat "$err" >&2
  return 1
}

# Stops the simulator k5_start_sim started, if it still runs.
k5_stop_sim() {
  if [ -n "${k5_sim_pid:-}" ]; then
    kill "$k5_sim_pid" 2>/dev/null || true
    wait "$k5_sim_pid" 2>/dev/null || true
    k5_sim_pid=""
  fi
}
