#!/usr/bin/env bash
# One end-to-end test of the Windows build: starts the native k5sim, mapped into the build
# folder's Wine prefix as COM port N, runs a Windows program against it under Wine, stops the
# simulator by its pid and checks what the program did.
#
#   wine-sim-test.sh --build DIR --k5sim PATH --port N [--sim ARG]... [--exit CODE]
#                    [--stdout FILE] [--stdout-ends TEXT] [--stdout-has TEXT]
#                    [--stderr-starts TEXT]
#                    -- PROGRAM.exe [ARGUMENT...]
#
# The program sees the port number in K5_TEST_COM. --stdout compares its whole output with
# FILE; --stdout-ends, --stdout-has and --stderr-starts (with \n for line breaks) look for a
# part.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
# shellcheck source=scripts/lib/wine.sh
source "$here/lib/wine.sh"

build="" k5sim="" port="" expect_exit=0 expect_stdout="" stdout_ends="" stdout_has=""
stderr_starts=""
sim_args=()
while [ $# -gt 0 ]; do
  case "$1" in
    --build) build=$2; shift 2 ;;
    --k5sim) k5sim=$2; shift 2 ;;
    --port) port=$2; shift 2 ;;
    --sim) sim_args+=("$2"); shift 2 ;;
    --exit) expect_exit=$2; shift 2 ;;
    --stdout) expect_stdout=$2; shift 2 ;;
    --stdout-ends) stdout_ends=$2; shift 2 ;;
    --stdout-has) stdout_has=$2; shift 2 ;;
    --stderr-starts) stderr_starts=$2; shift 2 ;;
    --) shift; break ;;
    *) echo "wine-sim-test.sh: unknown option $1" >&2; exit 2 ;;
  esac
done
if [ -z "$build" ] || [ ! -x "$k5sim" ] || [ -z "$port" ] || [ $# -lt 1 ]; then
  echo "wine-sim-test.sh: needs --build, an executable --k5sim, --port and a program" >&2
  exit 2
fi
[[ " $K5_WINE_TEST_PORTS " == *" $port "* ]] ||
  { echo "wine-sim-test.sh: COM$port is not one of the test ports ($K5_WINE_TEST_PORTS)" >&2; exit 2; }

k5_wine_prefix "$build"
work=$(mktemp -d)
# shellcheck disable=SC2317  # run by the EXIT trap
cleanup() {
  k5_wine_stop_serving "$port"
  rm -rf "$work"
}
trap cleanup EXIT

k5_wine_serve_port "$k5sim" "$port" "$work/sim.out" "$work/sim.err" "${sim_args[@]}"

status=0
K5_TEST_COM=$port "$here/wine-run.sh" "$@" >"$work/out" 2>"$work/err" </dev/null || status=$?
cat "$work/out"
cat "$work/err" >&2

failed=0
if [ "$status" -ne "$expect_exit" ]; then
  echo "FAIL: exit status $status, expected $expect_exit" >&2
  failed=1
fi
if [ -n "$expect_stdout" ] && ! cmp -s "$expect_stdout" "$work/out"; then
  echo "FAIL: the output differs from $expect_stdout:" >&2
  diff "$expect_stdout" "$work/out" >&2 || true
  failed=1
fi
if [ -n "$stdout_ends" ]; then
  printf '%b' "$stdout_ends" >"$work/ends"
  if [ "$(tail -c "$(stat -c %s "$work/ends")" "$work/out" | od -An -c)" != "$(od -An -c <"$work/ends")" ]; then
    echo "FAIL: the output does not end with: $stdout_ends" >&2
    failed=1
  fi
fi
if [ -n "$stdout_has" ] && ! grep -qF -- "$(printf '%b' "$stdout_has")" "$work/out"; then
  echo "FAIL: the output does not contain: $stdout_has" >&2
  failed=1
fi
if [ -n "$stderr_starts" ]; then
  printf '%b' "$stderr_starts" >"$work/starts"
  if [ "$(head -c "$(stat -c %s "$work/starts")" "$work/err" | od -An -c)" != "$(od -An -c <"$work/starts")" ]; then
    echo "FAIL: the error output does not start with: $stderr_starts" >&2
    failed=1
  fi
fi
exit $failed
