#!/usr/bin/env bash
# Builds the Debian package of the kit, k5kit_<version>_<arch>.deb, from this tree: a build of
# the four programs alone (no tests, benchmarks or tools) in build/package, with the
# hardening flags Debian builds its own packages with, installed under /usr and packed by
# CPack. The version is the project's, the architecture the build machine's, and the
# run-time dependencies are read from the programs by dpkg-shlibdeps.
# Prints the package's path as its last line.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
. scripts/lib/ccache.sh

build=build/package
export DEB_BUILD_MAINT_OPTIONS="hardening=+all"
CFLAGS="$(dpkg-buildflags --get CFLAGS)"
CXXFLAGS="$(dpkg-buildflags --get CXXFLAGS) $(dpkg-buildflags --get CPPFLAGS)"
LDFLAGS="$(dpkg-buildflags --get LDFLAGS)"
export CFLAGS CXXFLAGS LDFLAGS

# A fresh configuration every time, so that flags and options left in the cache by an older
# run cannot leak into the package.
rm -f "$build/CMakeCache.txt"
cmake -S . -B "$build" -G Ninja \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_INSTALL_PREFIX=/usr \
  -DK5_BUILD_TESTS=OFF -DK5_BUILD_BENCH=OFF -DK5_BUILD_TOOLS=OFF >/dev/null
cmake --build "$build" >&2

rm -f "$build"/k5kit_*.deb
(cd "$build" && cpack -G DEB >&2)
package=$(ls "$build"/k5kit_*.deb)
echo "$package"
