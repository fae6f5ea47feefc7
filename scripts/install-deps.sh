#!/usr/bin/env bash
# Installs the Debian packages the kit needs to build, test and run. Does nothing when they
# are all present, so every other script may call it first.
set -euo pipefail

packages=(
  cmake ninja-build g++ pkg-config
  ccache                       # rebuilds on a machine that has built the kit before
  clang libclang-rt-14-dev   # libFuzzer targets
  clang-format
  shellcheck                   # the scripts, checked by the test command
  libgtest-dev libgmock-dev
  nlohmann-json3-dev           # k5ctl's JSON Lines production record
  qt6-base-dev                 # the configuration tool's windows
  libxcb1-dev                  # the system-wide Alt+D on X11
  xvfb xauth fonts-dejavu-core # headless window tests and screenshots
  libxcb-xtest0-dev            # typing Alt+D into the virtual display in a test
  dpkg-dev file                # the Debian package: hardening flags, dpkg-shlibdeps
  lintian desktop-file-utils appstream man-db  # checking the package
  # The Windows build: mingw-w64 with the posix thread model, GoogleTest's sources to build
  # it with, and Wine to run its tests
  g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix googletest wine wine64
  # The desktop programs under Wine: Wine's own Tahoma (the dialog font a Windows PC has),
  # typing and clicking on the virtual display, photographing its windows, icon files
  fonts-wine xdotool imagemagick icoutils unzip
  wixl                         # the Windows Installer package (wixl, wixl-heat)
  # The kit on real serial drivers: a virtual machine (Debian's kernel and udev are fetched
  # for it with apt-get download, never installed here) and the guest's shell and tools
  qemu-system-x86 busybox-static
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -q
$sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
