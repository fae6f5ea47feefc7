#!/usr/bin/env bash
# The kit on real serial drivers: boots Debian's kernel in QEMU with a 16550A UART and an FTDI
# USB adapter whose far ends are simulated K5s on this machine, runs the plan in
# tests/drivers/guest-plan.sh inside it, and reports each case with its time and, on a
# failure, its reason. Any failure, or a case the guest never reported, fails the step.
# A step of scripts/test.sh; runnable alone. K5_BUILD_DIR names a configured build folder to
# take k5ctl, k5sim and drain_probe from (default: the default preset, built here).
set -euo pipefail
cd "$(dirname "$0")/.."

# shellcheck source=scripts/lib/k5sim.sh
source scripts/lib/k5sim.sh
# shellcheck source=scripts/lib/driver-guest.sh
source scripts/lib/driver-guest.sh

step_started=$EPOCHREALTIME
build="${K5_BUILD_DIR:-build/default}"
if [ -z "${K5_BUILD_DIR:-}" ]; then
  scripts/install-deps.sh
  . scripts/lib/ccache.sh
  cmake --preset default >/dev/null
fi
cmake --build "$build" --target k5ctl k5sim drain_probe >/dev/null

# The cases the plan reports, in its order; one that never comes back is a failure too.
expected_cases=(discovery configure-uart configure-adapter detect-adapter calibrate-adapter
  drain-uart replug pulled-mid-run stop-uart holder-process killed-client uucp-locks)
# Everything the guest does must end within this; the plan takes about a minute and a half.
guest_budget=${K5_DRIVERS_BUDGET:-300}
# The adapters' USB serial numbers: each keeps its /dev/serial/by-id name wherever it is
# plugged, as a real FTDI adapter does.
adapter_serial=K5A0001
second_serial=K5B0002

work=$(mktemp -d)
qemu_pid=""
sim_pids=()
monitor_reader=""
# shellcheck disable=SC2317  # run by the EXIT trap
cleanup() {
  if [ -n "$qemu_pid" ]; then
    kill "$qemu_pid" 2>/dev/null || true
    wait "$qemu_pid" 2>/dev/null || true
  fi
  local pid
  for pid in "${sim_pids[@]}" $monitor_reader; do
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  rm -rf "$work"
}
trap cleanup EXIT

# Milliseconds since $1 (an EPOCHREALTIME), whole.
ms_since() {
  awk -v a="$1" -v b="$EPOCHREALTIME" 'BEGIN { printf "%d", (b - a) * 1000 }'
}

# Starts a traced simulated K5 named $1 (further arguments go to it); sets sim_path to its
# terminal.
start_sim() {
  local name=$1
  shift
  k5_start_sim "$build/sim/k5sim" "$work/$name" "$work/$name.out" "$work/$name.trace" \
    --trace "$@" || exit 1
  sim_pids+=("$k5_sim_pid")
  k5_sim_pid=""
  sim_path=$(readlink -f "$work/$name")
}

# The median and mean interval, in ms, between the conductance reads of the first
# measurement in trace $1: the 16 reads of each channel's register, one after the other.
reading_intervals() {
  awk '$3 == "->" && $4 == "FF" && $5 == "04" && $7 == "03" && $8 == "A1" &&
       ($9 == "10" || $9 == "11") {
         if (count[$9] < 16) {
           if (count[$9] > 0) { gap[n++] = $1 - last[$9] }
           last[$9] = $1; count[$9]++
         }
       }
       END {
         if (n == 0) { print "none"; exit }
         for (i = 0; i < n; i++) { sum += gap[i]
           for (j = i + 1; j < n; j++) if (gap[j] < gap[i]) { t = gap[i]; gap[i] = gap[j]; gap[j] = t } }
         printf "%.2f %.2f %d\n", (n % 2 ? gap[int(n / 2)] : (gap[n / 2 - 1] + gap[n / 2]) / 2), sum / n, n
       }' "$1"
}

echo "=== driver test: guest"
cache=$(driver_guest_cache)
echo "Guest: $(basename "$cache" | sed 's/^guest-//'), cached in $(dirname "$cache")"
driver_guest_initramfs "$work/root" "$work/initrd" "$cache" "$build"

# The same configuration over a pseudo-terminal first: the figure the drivers are held to.
start_sim pty
pty_sim=$sim_path
pty_started=$EPOCHREALTIME
pty_status=0
"$build/cli/k5ctl" --device "$pty_sim" configure >"$work/pty.log" || pty_status=$?
pty_ms=$(ms_since "$pty_started")
kill "${sim_pids[-1]}"
if [ "$pty_status" -ne 0 ] || ! cmp -s "$work/pty.log" tests/wine/worked_example.log; then
  echo "configure over a pseudo-terminal did not print the worked example (exit $pty_status)"
  exit 1
fi

start_sim uart
uart_sim=$sim_path
start_sim silent --silent
silent_sim=$sim_path
start_sim usb
usb_sim=$sim_path

accel=tcg
if [ -r /dev/kvm ] && [ -w /dev/kvm ] && [ "${K5_DRIVERS_KVM:-auto}" != no ] &&
  qemu-system-x86_64 -accel kvm -machine none -nodefaults -display none \
    -monitor none -S -daemonize -pidfile "$work/kvm.pid" 2>/dev/null; then
  kill "$(cat "$work/kvm.pid")" 2>/dev/null || true
  accel=kvm
fi

mkfifo "$work/console.in" "$work/console.out" "$work/monitor.in" "$work/monitor.out"
qemu_started=$EPOCHREALTIME
qemu-system-x86_64 -accel "$accel" -m 384 -nodefaults -no-user-config -display none \
  -no-reboot -kernel "$cache/vmlinuz" -initrd "$work/initrd" \
  -append "console=ttyS1 panic=-1 loglevel=4" \
  -chardev "serial,id=uart,path=$uart_sim" -serial chardev:uart \
  -chardev "pipe,id=console,path=$work/console" -serial chardev:console \
  -device qemu-xhci,id=xhci \
  -chardev "serial,id=usb,path=$usb_sim" \
  -device "usb-serial,id=adapter,chardev=usb,bus=xhci.0,port=1,serial=$adapter_serial" \
  -monitor "pipe:$work/monitor" >"$work/qemu.log" 2>&1 &
qemu_pid=$!
exec 6<>"$work/console.out" 7<>"$work/console.in" 8<>"$work/monitor.in"
cat <"$work/monitor.out" >"$work/monitor.log" &
monitor_reader=$!
echo "QEMU ($accel) started, pid $qemu_pid"

# Runs a monitor command and prints what the monitor answered; fails when it names an error.
monitor() {
  local before answer _
  before=$(grep -o '(qemu)' "$work/monitor.log" | wc -l)
  printf '%s\n' "$*" >&8
  for _ in $(seq 200); do
    if [ "$(grep -o '(qemu)' "$work/monitor.log" | wc -l)" -gt "$before" ]; then
      answer=$(tail -n +2 <(awk -v n="$before" '{ c += gsub(/\(qemu\)/, "&") } c >= n' \
        "$work/monitor.log") | tr -d '\r' | grep -v '^$' | grep -vF "$*" || true)
      printf '%s' "$answer"
      ! grep -qi 'error\|fail\|not found' <<<"$answer"
      return
    fi
    sleep 0.05
  done
  echo "the monitor did not answer"
  return 1
}

# What the guest asks of the host ("K5HOST <id> <what> [argument]"), answered on its console.
host_action() {
  local id=$1 what=$2 argument=${3:-} answer status=0
  case "$what" in
    unplug) answer=$(monitor device_del "$argument") || status=1 ;;
    plug-adapter)
      answer=$(monitor device_add "usb-serial,id=adapter,chardev=usb,bus=xhci.0,port=$argument,serial=$adapter_serial") || status=1 ;;
    plug-second)
      if ! grep -q '^spare' <(monitor info chardev); then
        answer=$(monitor chardev-add null,id=spare) || status=1
      fi
      [ "$status" -ne 0 ] ||
        answer=$(monitor device_add "usb-serial,id=second,chardev=spare,bus=xhci.0,port=$argument,serial=$second_serial") || status=1 ;;
    uart-silent) answer=$(monitor chardev-change uart "serial,path=$silent_sim") || status=1 ;;
    uart-answering) answer=$(monitor chardev-change uart "serial,path=$uart_sim") || status=1 ;;
    *) answer="no such action"; status=1 ;;
  esac
  if [ "$status" -eq 0 ]; then
    printf 'K5ACK %s ok\n' "$id" >&7
  else
    printf 'K5ACK %s failed %s\n' "$id" "$(tr '\n' ' ' <<<"$answer")" >&7
  fi
}

declare -A case_result case_time case_reason
infos=()
boot_ms=""
plan_done=""
pending=""
deadline=$((SECONDS + guest_budget))
while [ -z "$plan_done" ]; do
  if ! IFS= read -r -t 2 chunk <&6; then
    pending+="$chunk"
    if ! kill -0 "$qemu_pid" 2>/dev/null; then
      break
    fi
    if [ "$SECONDS" -ge "$deadline" ]; then
      echo "The guest did not finish its plan within ${guest_budget} s."
      break
    fi
    continue
  fi
  line="${pending}${chunk}"
  pending=""
  line=${line//$'\r'/}
  printf '%s\n' "$line" >>"$work/console.log"
  [ -z "${K5_DRIVERS_VERBOSE:-}" ] || printf '| %s\n' "$line"
  case "$line" in
    *K5PLAN\ start*) boot_ms=$(ms_since "$qemu_started") ;;
    *K5PLAN\ done*) plan_done=1 ;;
    *K5CASE\ *)
      read -r _ name result seconds reason <<<"${line#*K5CASE }"
      case_result[$name]=$result
      case_time[$name]=$seconds
      case_reason[$name]=$reason
      printf '  %-4s %-18s %6s s  %s\n' "$result" "$name" "$seconds" "$reason"
      ;;
    *K5INFO\ *) infos+=("${line#*K5INFO }") ;;
    *K5HOST\ *)
      read -r _ id what argument <<<"${line#*K5HOST }"
      host_action "$id" "$what" "$argument"
      ;;
  esac
done
guest_ms=$(ms_since "$qemu_started")

# The guest powers itself off after its plan.
for _ in $(seq 50); do
  kill -0 "$qemu_pid" 2>/dev/null || break
  sleep 0.1
done

echo "=== driver test: figures"
echo "QEMU accelerator: $accel; boot to the plan: ${boot_ms:-?} ms; guest in all: $guest_ms ms"
for info in "${infos[@]}"; do
  echo "$info"
done
read -r pty_median pty_mean pty_n <<<"$(reading_intervals "$work/pty.trace")"
echo "Reading intervals (median / mean of $pty_n, ms): pseudo-terminal $pty_median / $pty_mean" \
  "(configure on the host in $pty_ms ms)"
for line in uart usb; do
  read -r median mean n <<<"$(reading_intervals "$work/$line.trace")"
  if [ "$median" = none ]; then
    echo "  $line: no readings in its trace"
    continue
  fi
  echo "  $line: $median / $mean over $n, $(awk -v a="$median" -v b="$pty_median" \
    'BEGIN { printf "%.2f", a / b }') times the pseudo-terminal's median"
done

failed=0
for name in "${expected_cases[@]}"; do
  if [ -z "${case_result[$name]:-}" ]; then
    echo "  FAIL $name: the guest never reported it"
    failed=1
  elif [ "${case_result[$name]}" != PASS ]; then
    failed=1
  fi
done
echo "Step time: $(ms_since "$step_started") ms"
if [ "$failed" -ne 0 ]; then
  echo "=== guest console (last 60 lines)"
  tail -n 60 "$work/console.log"
  echo "driver test: FAILED"
  exit 1
fi
echo "driver test: every case passed"
