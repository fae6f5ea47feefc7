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
expected_cases=(discovery configure-uart configure-adapter detect-adapter drain-uart replug
  pulled-mid-run calibrate-adapter stop-uart holder-process killed-client uucp-locks)
# Everything the guest does must end within this; boot and plan take under a minute.
guest_budget=${K5_DRIVERS_BUDGET:-180}
# The adapters' USB serial numbers: each keeps its /dev/serial/by-id name wherever it is
# plugged, as a real FTDI adapter does.
adapter_serial=K5A0001
second_serial=K5B0002

work=$(mktemp -d)
qemu_pid=""
sim_pids=()
# shellcheck disable=SC2317  # run by the EXIT trap
cleanup() {
  if [ -n "$qemu_pid" ]; then
    end_qemu
  fi
  local pid
  for pid in "${sim_pids[@]}"; do
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  if [ -n "${K5_DRIVERS_KEEP:-}" ]; then
    echo "Kept: $work"
  else
    rm -rf "$work"
  fi
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
# measurement in trace $1: the 16 reads of each channel's register, one after the other. A
# request may come in several pieces (a UART hands over what its FIFO held), so the bytes
# are followed as one stream and a read counts when its last byte arrived.
reading_intervals() {
  awk '$3 != "->" { next }
       { for (i = 4; i <= NF && $i ~ /^[0-9A-F][0-9A-F]$/; i++) {
           w1 = w2; w2 = w3; w3 = w4; w4 = w5; w5 = w6; w6 = w7; w7 = $i
           if (w1 == "FF" && w2 == "04" && w3 == "01" && w4 == "03" && w5 == "A1" &&
               (w6 == "10" || w6 == "11") && count[w6] < 16) {
             if (count[w6] > 0) { gap[n++] = $1 - last[w6] }
             last[w6] = $1; count[w6]++
           }
         } }
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
# The same runs over a pseudo-terminal first: the worked example as the guest must print it,
# the calibration's text to hold the adapter's to, and the reading intervals to compare.
mkdir -p "$work/expected"
cp tests/wine/worked_example.log "$work/expected/configure.log"
start_sim pty
pty_sim=$sim_path
pty_started=$EPOCHREALTIME
pty_status=0
"$build/cli/k5ctl" --device "$pty_sim" configure >"$work/pty.log" || pty_status=$?
pty_ms=$(ms_since "$pty_started")
if [ "$pty_status" -ne 0 ] || ! cmp -s "$work/pty.log" "$work/expected/configure.log"; then
  echo "configure over a pseudo-terminal did not print the worked example (exit $pty_status)"
  exit 1
fi
K5_COM3=$pty_sim "$build/cli/k5ctl" --port 3 calibrate --warm-up --minutes 0 --time-scale 0.1 \
  >"$work/expected/calibrate.log" || {
  echo "calibrate over a pseudo-terminal failed"
  exit 1
}
kill "${sim_pids[-1]}"

driver_guest_initramfs "$work/root" "$work/initrd" "$cache" "$build" "$work/expected"

start_sim uart
uart_sim=$sim_path
start_sim silent --silent
silent_sim=$sim_path
start_sim usb
usb_sim=$sim_path

# KVM where it works: a guest that does not come up under it within kvm_patience seconds is
# started again under TCG, and the machine is remembered (keyed on its kernel and QEMU) so
# later runs go to TCG at once. K5_DRIVERS_KVM=no never tries it.
kvm_patience=10
kvm_verdict="$(dirname "$cache")/kvm-hangs-$(uname -r)-$(qemu-system-x86_64 --version |
  awk '{ print $4; exit }')"
accel=tcg
if [ -r /dev/kvm ] && [ -w /dev/kvm ] && [ "${K5_DRIVERS_KVM:-auto}" != no ] &&
  [ ! -e "$kvm_verdict" ]; then
  accel=kvm
fi

mkfifo "$work/console.in" "$work/console.out" "$work/qmp.in" "$work/qmp.out"
exec 6<>"$work/console.out" 7<>"$work/console.in" 8<>"$work/qmp.in" 9<>"$work/qmp.out"

launch_qemu() {
  qemu_started=$EPOCHREALTIME
  qemu-system-x86_64 -accel "$accel" -m 384 -nodefaults -no-user-config -display none \
    -no-reboot -kernel "$cache/vmlinuz" -initrd "$work/initrd" \
    -append "console=ttyS1 panic=-1 loglevel=3" \
    -chardev "serial,id=uart,path=$uart_sim" -serial chardev:uart \
    -chardev "pipe,id=console,path=$work/console" -serial chardev:console \
    -device qemu-xhci,id=xhci \
    -chardev "serial,id=usb,path=$usb_sim" \
    -device "usb-serial,id=adapter,chardev=usb,bus=xhci.0,port=1,serial=$adapter_serial" \
    -chardev "pipe,id=qmp,path=$work/qmp" -mon chardev=qmp,mode=control \
    >"$work/qemu.log" 2>&1 &
  qemu_pid=$!
  echo "QEMU ($accel) started, pid $qemu_pid"
  local greeting
  IFS= read -r -t 10 greeting <&9 || true
  qmp qmp_capabilities >/dev/null || echo "QEMU's QMP did not answer: ${greeting:-nothing}"
}

# Ends the QEMU that launch_qemu started.
end_qemu() {
  kill "$qemu_pid" 2>/dev/null || true
  wait "$qemu_pid" 2>/dev/null || true
  qemu_pid=""
}

# Runs QMP command $1 with the JSON arguments $2; fails with QEMU's error when it refuses.
# Events that come in between are passed over.
qmp() {
  local reply
  printf '{"execute": "%s", "arguments": %s}\n' "$1" "${2:-{\}}" >&8
  while IFS= read -r -t 10 reply <&9; do
    case "$reply" in
      *'"return"'*) return 0 ;;
      *'"error"'*)
        echo "$reply"
        return 1
        ;;
    esac
  done
  echo "QEMU did not answer $1"
  return 1
}

usb_serial() { # id chardev port serial
  printf '{"driver": "usb-serial", "id": "%s", "chardev": "%s", "bus": "xhci.0", %s}' "$1" "$2" \
    "$(printf '"port": "%s", "serial": "%s"' "$3" "$4")"
}

serial_backend() { # chardev device
  printf '{"id": "%s", "backend": {"type": "serial", "data": {"device": "%s"}}}' "$@"
}

spare_added=""
# What the guest asks of the host ("K5HOST <id> <what> [argument]"), answered on its console.
host_action() {
  local id=$1 what=$2 argument=${3:-} answer="" status=0
  case "$what" in
    unplug) answer=$(qmp device_del "{\"id\": \"$argument\"}") || status=1 ;;
    plug-adapter)
      answer=$(qmp device_add "$(usb_serial adapter usb "$argument" "$adapter_serial")") || status=1
      ;;
    plug-second)
      if [ -z "$spare_added" ]; then
        # A USB serial device attaches only once its backend is open; a file is.
        answer=$(qmp chardev-add "{\"id\": \"spare\", \"backend\": {\"type\": \"file\",
          \"data\": {\"out\": \"$work/second.out\"}}}") ||
          status=1
        spare_added=1
      fi
      [ "$status" -ne 0 ] ||
        answer=$(qmp device_add "$(usb_serial second spare "$argument" "$second_serial")") ||
        status=1
      ;;
    uart-silent) answer=$(qmp chardev-change "$(serial_backend uart "$silent_sim")") || status=1 ;;
    uart-answering) answer=$(qmp chardev-change "$(serial_backend uart "$uart_sim")") || status=1 ;;
    *)
      answer="no such action"
      status=1
      ;;
  esac
  if [ "$status" -eq 0 ]; then
    printf 'K5ACK %s ok\n' "$id" >&7
  else
    printf 'K5ACK %s failed %s\n' "$id" "$(tr '\n' ' ' <<<"$answer")" >&7
  fi
}

launch_qemu

declare -A case_result
infos=()
boot_ms=""
plan_done=""
pending=""
booted=""
deadline=$((SECONDS + guest_budget))
kvm_deadline=$((SECONDS + kvm_patience))
while [ -z "$plan_done" ]; do
  if ! IFS= read -r -t 1 chunk <&6; then
    pending+="$chunk"
    if [ "$accel" = kvm ] && [ -z "$booted" ] && [ "$SECONDS" -ge "$kvm_deadline" ]; then
      echo "The guest did not come up under KVM within ${kvm_patience} s; TCG instead."
      touch "$kvm_verdict"
      end_qemu
      accel=tcg
      pending=""
      launch_qemu
      deadline=$((SECONDS + guest_budget))
      continue
    fi
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
    *K5PLAN\ booted*) booted=1 ;;
    *K5PLAN\ start*) boot_ms=$(ms_since "$qemu_started") ;;
    *K5PLAN\ done*) plan_done=1 ;;
    *K5CASE\ *)
      read -r name result seconds reason <<<"${line#*K5CASE }"
      case_result[$name]=$result
      printf '  %-4s %-18s %6s s  %s\n' "$result" "$name" "$seconds" "$reason"
      ;;
    *K5INFO\ *) infos+=("${line#*K5INFO }") ;;
    *K5HOST\ *)
      read -r id what argument <<<"${line#*K5HOST }"
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
    echo "  FAIL $line: no conductance readings in its trace"
    intervals_missing=1
    continue
  fi
  echo "  $line: $median / $mean over $n, $(awk -v a="$median" -v b="$pty_median" \
    'BEGIN { printf "%.2f", a / b }') times the pseudo-terminal's median"
done

failed=${intervals_missing:-0}
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
  tail -n 60 "$work/console.log" 2>/dev/null || echo "(the guest wrote nothing)"
  if [ -s "$work/qemu.log" ]; then
    echo "=== QEMU"
    cat "$work/qemu.log"
  fi
  echo "driver test: FAILED"
  exit 1
fi
echo "driver test: every case passed"
