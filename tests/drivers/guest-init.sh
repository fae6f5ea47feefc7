#!/bin/busybox sh
# shellcheck shell=sh
# The driver test guest's first process: the file systems, the USB and FTDI drivers, udev
# for /dev/serial/by-id and device groups, then the plan; the machine powers off after it
# whatever happened. /dev/ttyS0 is a 16550A whose far end is a simulated K5 on the host,
# /dev/ttyS1 this console, /dev/ttyUSB0 an FTDI adapter on a second simulated K5.
/bin/busybox echo "K5PLAN booted"
/bin/busybox mkdir -p /usr/bin /usr/sbin
/bin/busybox --install -s
export PATH=/bin:/sbin:/usr/bin:/usr/sbin

mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
mkdir -p /dev/pts
mount -t devpts devpts /dev/pts
mount -t tmpfs -o mode=0755 run /run
mount -t tmpfs -o mode=1777 tmp /tmp
# The UUCP lock folder as Debian has it: anyone may write, nobody may remove others' files.
mkdir -m 1777 /run/lock
ln -s /run/lock /var/lock
chown tech:tech /home/tech

stty -echo 2>/dev/null

while read -r module; do
  insmod "/lib/modules/$module.ko" || echo "K5INFO insmod $module failed"
done </lib/modules/order

udevd --daemon 2>/run/udevd.log
udevadm trigger --action=add
udevadm settle --timeout=30

HOME=/root /bin/guest-plan

sync
poweroff -f
