#!/bin/sh
# shellcheck shell=sh
echo "K5INFO hello"
ls -la /dev/serial/by-id /dev/ttyS* /dev/ttyUSB*
cat /sys/class/tty/ttyS*/type
k5ctl ports
cat /run/udevd.log
cat /root/.config/k5kit/ports.conf
time k5ctl --port 1 link-test
time k5ctl --port 3 link-test
