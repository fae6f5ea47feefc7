#!/bin/sh
# shellcheck shell=sh
# The driver test's plan, run by the guest's init as root. COM1 is /dev/ttyS0, a 16550A whose
# far end is a simulated K5; COM2 the console UART; the FTDI adapter (/dev/ttyUSB0, a second
# simulated K5) gets COM3 from the port table. Each case ends in one console line
#   K5CASE <name> PASS|FAIL <seconds> <reason or figures>
# and what only the host can do (pull or plug an adapter, silence the UART's far end) is asked
# for with "K5HOST <id> <action> [argument]" and awaited as "K5ACK <id> ok" on the console.

expected=/expected
adapter_id=/dev/serial/by-id/usb-QEMU_QEMU_USB_SERIAL_K5A0001-if00-port0
second_id=/dev/serial/by-id/usb-QEMU_QEMU_USB_SERIAL_K5B0002-if00-port0
table=/root/.config/k5kit/ports.conf
lock=/run/lock/LCK..ttyS0
# A stop ends a run within about a second (the window's Stop waits that long for its worker).
stop_bound=1.0
# A pulled adapter ends the run at the next exchange, not at the procedure's end.
pull_bound=3.0
request=0

now() {
  read -r up _ </proc/uptime
  echo "$up"
}

begin() {
  case_name=$1
  case_started=$(now)
  case_failed=""
}

# Seconds since $1, to the hundredth.
since() {
  awk -v a="$1" -v b="$(now)" 'BEGIN { printf "%.2f", b - a }'
}

# True when $1 <= $2 (decimal seconds).
within() {
  awk -v a="$1" -v b="$2" 'BEGIN { exit !(a <= b) }'
}

# Notes a failure of the current case; the first one is its reason.
check_failed() {
  [ -n "$case_failed" ] || case_failed="$*"
}

finish() {
  if [ -n "$case_failed" ]; then
    echo "K5CASE $case_name FAIL $(since "$case_started") $case_failed"
  else
    echo "K5CASE $case_name PASS $(since "$case_started") $*"
  fi
}

# Asks the host for an action and waits for its answer.
host() {
  request=$((request + 1))
  echo "K5HOST $request $*"
  reply=""
  # shellcheck disable=SC3045  # busybox's sh reads with a time-out
  while read -r -t 30 reply; do
    case "$reply" in
      *"K5ACK $request ok"*) return 0 ;;
      *"K5ACK $request "*) break ;;
    esac
  done
  check_failed "the host could not $*: ${reply:-no answer}"
  return 1
}

# Waits up to $1 seconds for the condition in the remaining arguments.
wait_for() {
  limit=$(($1 * 20))
  shift
  while ! "$@"; do
    limit=$((limit - 1))
    [ "$limit" -gt 0 ] || return 1
    usleep 50000
  done
}

gone() { [ ! -e "$1" ]; }
present() { [ -e "$1" ]; }
says() { grep -qF "$2" "$1" 2>/dev/null; }
ended() { ! kill -0 "$1" 2>/dev/null; }
holds() { [ "$(readlink "/proc/$1/fd/0")" = "$2" ]; }

# The USB port (bus-port, as sysfs names it) of the adapter behind link $1.
usb_port() {
  device=$(readlink -f "/sys/class/tty/$(basename "$(readlink -f "$1")")/device")
  basename "$(dirname "$device")" | cut -d: -f1
}

# The ports listing line of COM$1, spaces squeezed.
com_line() {
  k5ctl ports | tr -s ' ' | grep "^COM$1 "
}

# Runs a k5ctl command line and checks its exit status ($1) and that standard output equals
# the file $2 (or, with a leading "~", contains the text after it).
expect_run() {
  want=$1 text=$2
  shift 2
  status=0
  "$@" >/tmp/out 2>/tmp/err || status=$?
  if [ "$status" -ne "$want" ]; then
    check_failed "$* exited $status, not $want: $(tr '\n' ' ' </tmp/err | cut -c1-200)"
    return 1
  fi
  case "$text" in
    "~"*)
      if ! grep -qF "${text#"~"}" /tmp/out; then
        check_failed "$* did not print \"${text#"~"}\": $(tail -n 3 /tmp/out | tr '\n' ' ')"
        return 1
      fi
      ;;
    ?*)
      if ! cmp -s /tmp/out "$text"; then
        check_failed "$* differs from $text at: $(diff "$text" /tmp/out | grep '^[-+][^-+]' |
          head -n 2 | tr '\n' ' ')"
        return 1
      fi
      ;;
  esac
}

echo "K5PLAN start"

begin discovery
listing=$(k5ctl ports | tr -s ' ')
echo "$listing" | grep -qx "COM1 /dev/ttyS0 UART 16550A UART" ||
  check_failed "COM1 is not the 16550A at /dev/ttyS0: $(echo "$listing" | head -n 1)"
echo "$listing" | grep -qx "COM3 $adapter_id port table QEMU USB SERIAL (/dev/ttyUSB0)" ||
  check_failed "COM3 is not the adapter by its by-id link from the port table: $listing"
echo "$listing" | grep -qx "COM2 /dev/ttyS1 UART 16550A UART, system console" ||
  check_failed "COM2 is not named the system console: $(echo "$listing" | grep '^COM2')"
! echo "$listing" | grep -q 'ttyS[23]' ||
  check_failed "a placeholder UART is listed: $listing"
[ "$(readlink -f "$adapter_id")" = /dev/ttyUSB0 ] ||
  check_failed "udev made no by-id link to /dev/ttyUSB0"
grep -qx "COM3 = $adapter_id" "$table" ||
  check_failed "the port table does not key COM3 by its by-id link: $(grep COM "$table")"
finish "COM1 16550A UART, COM2 the system console, COM3 $adapter_id (port table)," \
  "no ttyS2/ttyS3"

begin configure-uart
expect_run 0 "$expected/configure.log" k5ctl --port 1 configure
finish "the worked example byte for byte, exit 0"

begin configure-adapter
expect_run 0 "$expected/configure.log" k5ctl --port 3 configure
finish "the worked example byte for byte, exit 0"

begin detect-adapter
# The search passes over the console UART (COM2) without touching its settings.
console_before=$(stty -F /dev/console -g)
if host uart-silent; then
  expect_run 0 "~Found K5 on COM3." k5ctl detect
  [ "$(stty -F /dev/console -g)" = "$console_before" ] ||
    check_failed "the search changed the console's settings"
  expect_run 20 "" k5ctl --port 2 link-test &&
    { grep -qx "Port error: /dev/ttyS1: in use as the system console" /tmp/err ||
      check_failed "COM2 is refused with: $(cat /tmp/err)"; }
fi
finish "COM1 silent, COM2 the console passed over, found on COM3"

begin drain-uart
# Still on the silent far end, which takes the bytes and answers nothing.
figures=$(drain_probe /dev/ttyS0 4000 2>&1) || check_failed "$figures"
host uart-answering
# The same on the adapter, for its figures only: a USB serial device takes no notice of the
# hold, so what the probe checks does not apply to it.
echo "K5INFO Drain on the adapter (figures only): $(drain_probe /dev/ttyUSB0 4000 2>&1)"
finish "$figures"

begin replug
usb_before=$(usb_port "$adapter_id")
if ! host unplug adapter || ! wait_for 10 gone /sys/class/tty/ttyUSB0; then
  check_failed "the adapter did not go"
fi
case "$(com_line 3)" in
  *"not present") ;;
  *) check_failed "an unplugged adapter is not 'not present': $(com_line 3)" ;;
esac
if host plug-adapter 2 && wait_for 10 present "$adapter_id"; then
  udevadm settle --timeout=10
  usb_after=$(usb_port "$adapter_id")
  [ "$usb_after" != "$usb_before" ] || check_failed "the adapter came back on the same USB port"
  com_line 3 | grep -q "^COM3 $adapter_id port table QEMU USB SERIAL" ||
    check_failed "the re-plugged adapter lost COM3: $(com_line 3)"
else
  check_failed "the adapter did not come back"
fi
if host plug-second 3 && wait_for 10 present "$second_id"; then
  udevadm settle --timeout=10
  com_line 4 | grep -q "^COM4 $second_id port table QEMU USB SERIAL" ||
    check_failed "the second adapter did not get COM4: $(k5ctl ports | tr '\n' ' ')"
else
  check_failed "the second adapter did not come: $(find /dev/serial/by-id -mindepth 1 | tr '\n' ' ')" \
    "$(dmesg | tail -n 4 | tr '\n' ' ')"
fi
# Both out, then in the other order: the kernel's names swap, the COM numbers must not.
if ! host unplug adapter || ! wait_for 10 gone "$adapter_id" ||
  ! host unplug second || ! wait_for 10 gone "$second_id"; then
  check_failed "the adapters did not go"
fi
if host plug-second 3 && wait_for 10 present "$second_id" &&
  host plug-adapter 1 && wait_for 10 present "$adapter_id"; then
  udevadm settle --timeout=10
  node=$(readlink -f "$adapter_id")
  [ "$node" != /dev/ttyUSB0 ] || check_failed "the adapters kept their names: nothing was proven"
  com_line 3 | grep -q "^COM3 $adapter_id port table QEMU USB SERIAL ($node)" ||
    check_failed "COM3 did not follow the adapter to $node: $(com_line 3)"
  com_line 4 | grep -q "^COM4 $second_id port table" ||
    check_failed "the second adapter lost COM4: $(com_line 4)"
  expect_run 0 "" k5ctl --port 3 link-test
else
  check_failed "the adapters did not come back"
fi
if ! host unplug second || ! wait_for 10 gone "$second_id"; then
  check_failed "the second adapter did not go"
fi
finish "COM3 kept when moved from USB port $usb_before to $usb_after, a second adapter COM4;" \
  "plugged the other way round COM3 followed the adapter to ${node:-?} and linked"

begin pulled-mid-run
k5ctl --port 3 configure >/tmp/pulled.out 2>/tmp/pulled.err &
run=$!
wait_for 20 says /tmp/pulled.out "Get high signal conductance value" ||
  check_failed "the run did not reach its measurement"
host unplug adapter
pulled=$(now)
wait_for 30 ended "$run" || {
  check_failed "the run did not end within 30 s of the pull"
  kill -9 "$run"
}
ended_with=0
wait "$run" || ended_with=$?
took=$(since "$pulled")
case "$ended_with" in
  1 | 2) ;;
  *) check_failed "the run ended with $ended_with, not the connection error 2 or 1" ;;
esac
within "$took" "$pull_bound" || check_failed "the run took $took s to end after the pull"
case "$(com_line 3)" in
  *"not present") ;;
  *) check_failed "the pulled adapter is not 'not present': $(com_line 3)" ;;
esac
set -- /run/lock/LCK..ttyUSB*
[ ! -e "$1" ] || check_failed "the pulled run left its lock: $*"
expect_run 20 "" k5ctl --port 3 link-test &&
  { grep -qx "Port error: $adapter_id: no such device" /tmp/err ||
    check_failed "a run on the pulled adapter says: $(cat /tmp/err)"; }
if ! host plug-adapter 1 || ! wait_for 10 present "$adapter_id"; then
  check_failed "the adapter did not come back after the pull"
fi
udevadm settle --timeout=10
finish "exit $ended_with $took s after the pull ($(tail -n 1 /tmp/pulled.out)), then not present"

begin calibrate-adapter
# On the adapter plugged back after the pull; the calibration ends by powering the K5 off.
expect_run 0 "$expected/calibrate.log" k5ctl --port 3 calibrate --warm-up --minutes 0 \
  --time-scale 0.1
finish "warm-up and calibration as over a pseudo-terminal, exit 0"

begin stop-uart
k5ctl --port 1 configure >/tmp/stop.out 2>&1 &
run=$!
wait_for 20 says /tmp/stop.out "Get high signal conductance value" ||
  check_failed "the run did not reach its measurement"
kill -INT "$run"
stopped=$(now)
wait_for 10 ended "$run" || kill -9 "$run"
status=0
wait "$run" || status=$?
took=$(since "$stopped")
[ "$status" -eq 130 ] || check_failed "the stopped run exited $status, not 130"
[ "$(tail -c 11 /tmp/stop.out)" = "$(printf '\nCancelled')" ] ||
  check_failed "the stopped run does not end with Cancelled: $(tail -n 2 /tmp/stop.out)"
within "$took" "$stop_bound" || check_failed "the stop took $took s"
finish "exit 130 $took s after SIGINT during the measurement"

begin holder-process
stty -F /dev/ttyS0 clocal
# shellcheck disable=SC2217  # sleep reads nothing: it only holds the device open
sleep 300 </dev/ttyS0 &
holder=$!
wait_for 5 holds "$holder" /dev/ttyS0
expect_run 20 "" k5ctl --port 1 link-test &&
  { grep -qx "Port error: /dev/ttyS0: in use by sleep (pid $holder)" /tmp/err ||
    check_failed "the refusal does not name the holder: $(cat /tmp/err)"; }
kill "$holder"
wait "$holder" 2>/dev/null
finish "exit 20: $(cat /tmp/err)"

begin killed-client
k5ctl --port 1 configure >/tmp/client.out 2>&1 &
client=$!
wait_for 20 says /tmp/client.out "Initializing K5" || check_failed "the client did not start"
# Refused for the exclusive flag (busy), not for want of permission.
if su tech -c 'stty -F /dev/ttyS0' >/tmp/held 2>&1 || ! grep -q busy /tmp/held; then
  check_failed "the held UART did not refuse tech as busy: $(cat /tmp/held)"
fi
kill -9 "$client"
wait "$client" 2>/dev/null
stale=$(tr -d ' ' <"$lock" 2>/dev/null)
su tech -c 'stty -F /dev/ttyS0' >/dev/null 2>/tmp/after || check_failed "tech: $(cat /tmp/after)"
su tech -c 'k5ctl --port 1 link-test' >/tmp/out 2>/tmp/err ||
  check_failed "tech's link-test after the killed client: $(cat /tmp/out /tmp/err)"
finish "held: tech's open failed ($(tr '\n' ' ' </tmp/held | cut -c1-60)); after kill -9 tech" \
  "opens it and $(cat /tmp/out) (stale lock of pid ${stale:-none} ignored)"

begin uucp-locks
sleep 300 &
sleeper=$!
printf '%10d\n' "$sleeper" >"$lock"
expect_run 20 "" k5ctl --port 1 link-test &&
  { grep -qx "Port error: /dev/ttyS0: in use by sleep (pid $sleeper)" /tmp/err ||
    check_failed "a live lock is not named: $(cat /tmp/err)"; }
kill "$sleeper"
wait "$sleeper" 2>/dev/null
if ! expect_run 0 "" k5ctl --port 1 link-test || ! gone "$lock"; then
  check_failed "a stale lock was not replaced and removed"
fi
rm -f "$lock"
mkfifo "$lock"
expect_run 0 "" timeout 10 k5ctl --port 1 link-test
rm -f "$lock"
k5ctl --port 1 configure >/tmp/run.out 2>&1 &
run=$!
wait_for 20 says /tmp/run.out "Initializing K5" || check_failed "the run did not start"
[ "$(tr -d ' \n' <"$lock" 2>/dev/null)" = "$run" ] ||
  check_failed "the lock during a run does not name it: $(cat "$lock" 2>&1)"
kill -INT "$run"
wait "$run" 2>/dev/null
gone "$lock" || check_failed "the lock outlived the run"
finish "live lock refused, stale lock and FIFO passed, own lock named the run and went with it"

echo "K5PLAN done"
