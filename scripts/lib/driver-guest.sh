# shellcheck shell=bash
# The virtual machine the driver test boots: Debian's kernel and udev, fetched as packages
# (apt-get download, dpkg-deb -x; nothing is installed on this machine) and kept between runs
# in a cache keyed on their versions, and an initramfs made afresh each run from busybox,
# the kit's programs with the libraries they load, and the guest's plan. Source it from the
# repository root.

# The kernel modules the guest loads, in order: the USB host controller and the FTDI driver.
# The 16550 driver is built into Debian's kernel.
driver_guest_modules=(usb-common usbcore xhci-hcd xhci-pci usbserial ftdi_sio)

# The candidate version of Debian package $1, or nothing.
driver_guest_version() {
  apt-cache show --no-all-versions "$1" 2>/dev/null | awk '/^Version:/ { print $2; exit }'
}

# The kernel package that linux-image-amd64 stands for.
driver_guest_kernel_package() {
  apt-cache depends linux-image-amd64 2>/dev/null |
    awk '$1 == "Depends:" && $2 ~ /^linux-image-[0-9]/ { print $2; exit }'
}

# Prints the cache folder holding vmlinuz, modules/*.ko and udev/ for the current package
# versions, fetching and unpacking them first when they are not there yet. A run that is cut
# short leaves only a temporary folder behind, never a half-filled entry: an entry is
# renamed into place once it is complete.
driver_guest_cache() {
  local kernel kernel_version udev_version
  kernel=$(driver_guest_kernel_package)
  if [ -z "$kernel" ]; then
    echo "Refreshing the package lists to find Debian's kernel package." >&2
    apt-get update -q >&2
    kernel=$(driver_guest_kernel_package)
  fi
  kernel_version=$(driver_guest_version "$kernel")
  udev_version=$(driver_guest_version udev)
  if [ -z "$kernel" ] || [ -z "$kernel_version" ] || [ -z "$udev_version" ]; then
    echo "The package lists name no linux-image-amd64 or udev to build the guest from." >&2
    return 1
  fi
  local root="${XDG_CACHE_HOME:-$HOME/.cache}/k5kit"
  local entry="$root/guest-${kernel}_${kernel_version}+udev_${udev_version}"
  if [ -f "$entry/complete" ]; then
    echo "$entry"
    return 0
  fi
  mkdir -p "$root"
  local fetch
  fetch=$(mktemp -d "$root/.fetch.XXXXXX")
  echo "Fetching $kernel $kernel_version and udev $udev_version for the guest." >&2
  if ! (cd "$fetch" && apt-get download -q "$kernel=$kernel_version" "udev=$udev_version") \
    >"$fetch/download.log" 2>&1; then
    cat "$fetch/download.log" >&2
    rm -rf "$fetch"
    return 1
  fi
  dpkg-deb -x "$fetch/${kernel}_"*.deb "$fetch/kernel"
  dpkg-deb -x "$fetch/udev_"*.deb "$fetch/udev-package"
  mkdir -p "$fetch/modules" "$fetch/udev/rules.d"
  cp "$fetch/kernel/boot/vmlinuz-"* "$fetch/vmlinuz"
  local module file
  for module in "${driver_guest_modules[@]}"; do
    file=$(find "$fetch/kernel/lib/modules" -name "$module.ko" -print -quit)
    if [ -z "$file" ]; then
      echo "$kernel has no module $module.ko" >&2
      rm -rf "$fetch"
      return 1
    fi
    cp "$file" "$fetch/modules/"
  done
  cp "$fetch/udev-package/bin/udevadm" "$fetch/udev/"
  # Device groups and modes, and the /dev/serial/by-id and by-path links.
  cp "$fetch/udev-package/lib/udev/rules.d/"{50-udev-default,60-serial}.rules "$fetch/udev/rules.d/"
  rm -rf "$fetch/kernel" "$fetch/udev-package" "$fetch/"*.deb "$fetch/download.log"
  touch "$fetch/complete"
  if ! mv -T "$fetch" "$entry" 2>/dev/null; then
    rm -rf "$fetch" # another run filled the entry meanwhile
  fi
  # Entries of earlier package versions are not used again, nor what an interrupted fetch left.
  find "$root" -mindepth 1 -maxdepth 1 -name 'guest-*' ! -path "$entry" -exec rm -rf {} +
  find "$root" -mindepth 1 -maxdepth 1 -name '.fetch.*' -mmin +60 -exec rm -rf {} +
  echo "$entry"
}

# Copies program $1 into the guest tree $2 as $2$3, stripped, with every shared library the
# dynamic loader finds for it at the same path it has here.
driver_guest_add_program() {
  local program=$1 tree=$2 target=$3 library
  mkdir -p "$tree$(dirname "$target")"
  strip -o "$tree$target" "$program"
  if ldd "$program" | grep -q 'not found'; then
    echo "$program: a library is missing:" >&2
    ldd "$program" >&2
    return 1
  fi
  while read -r library; do
    [ -e "$tree$library" ] && continue
    mkdir -p "$tree$(dirname "$library")"
    cp -L "$library" "$tree$library"
  done < <(ldd "$program" | awk '$2 == "=>" && $3 ~ /^\// { print $3 } $1 ~ /^\// { print $1 }')
}

# Builds the initramfs $2 in the empty folder $1 from the cache entry $3, the build folder $4
# (k5ctl and drain_probe), the guest's scripts in tests/drivers and the expected outputs in
# the folder $5.
driver_guest_initramfs() {
  local tree=$1 image=$2 cache=$3 build=$4 expected=$5
  mkdir -p "$tree"/{bin,sbin,etc,proc,sys,dev,run,tmp,root,var,expected} \
    "$tree/lib/modules" "$tree/lib/udev" "$tree/usr/lib" "$tree/home/tech"
  cp /bin/busybox "$tree/bin/busybox"
  cp tests/drivers/guest-init.sh "$tree/init"
  cp tests/drivers/guest-plan.sh "$tree/bin/guest-plan"
  chmod 0755 "$tree/init" "$tree/bin/guest-plan"
  cp "$expected"/* "$tree/expected/"
  cp "$cache/modules/"*.ko "$tree/lib/modules/"
  printf '%s\n' "${driver_guest_modules[@]}" >"$tree/lib/modules/order"
  cp -r "$cache/udev/rules.d" "$tree/lib/udev/"
  ln -s ../../lib/udev "$tree/usr/lib/udev"
  driver_guest_add_program "$cache/udev/udevadm" "$tree" /bin/udevadm
  ln -s udevadm "$tree/bin/udevd"
  driver_guest_add_program "$build/cli/k5ctl" "$tree" /bin/k5ctl
  driver_guest_add_program "$build/tests/drivers/drain_probe" "$tree" /bin/drain_probe
  # root, and a technician in the dialout group for the cases that must not run as root.
  printf '%s\n' 'root:x:0:0:root:/root:/bin/sh' 'tech:x:1000:1000:tech:/home/tech:/bin/sh' \
    >"$tree/etc/passwd"
  printf '%s\n' 'root:x:0:' 'tty:x:5:' 'dialout:x:20:tech' 'tech:x:1000:' >"$tree/etc/group"
  chmod 0700 "$tree/root"
  (cd "$tree" && find . | busybox cpio -o -H newc 2>/dev/null) >"$image"
}
