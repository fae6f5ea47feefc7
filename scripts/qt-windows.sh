#!/usr/bin/env bash
# Provides Qt 6.4.2 for 64-bit Windows (mingw-w64, posix threads, shared DLLs) in a cache
# folder outside every build tree, and prints its prefix on standard output; the `windows`
# preset finds it there. Debian ships no Qt for mingw, so it comes from one of:
#   1. the archive named by K5_QT_WINDOWS_ARCHIVE;
#   2. ../shared/qt-windows/qt6-mingw-6.4.2.tar.xz beside the repository, when it exists;
#   3. otherwise a build from Debian's own qt6-base source package (about 30 minutes on two
#      cores, once), with our configure flags and our fix in cmake/qt-windows/.
# An archive must match the checksum below (K5_QT_WINDOWS_SHA256 names another one).
# Nothing is done when the prefix is already complete. Progress goes to standard error.
# --from-source skips the archives (a cache folder of its own is then advisable).
#
# K5_QT_WINDOWS_CACHE  the cache folder (default ${XDG_CACHE_HOME:-~/.cache}/k5kit)
# K5_QT_WINDOWS_WORK   where a source build unpacks and builds (default <cache>/qt6-mingw-work)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

version=6.4.2
archive_name=qt6-mingw-$version.tar.xz
archive_sha256=${K5_QT_WINDOWS_SHA256:-65aac1f767513d53423f99cf41f6cecbc8c1e180eaf734bb1374b57b9715ed34}
cache=${K5_QT_WINDOWS_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/k5kit}
prefix=$cache/qt6-mingw-$version
ready=$prefix/.k5-ready
triplet=x86_64-w64-mingw32

say() { echo "qt-windows: $*" >&2; }
die() { say "$*"; exit 1; }

case "${1:-}" in
  "") from_source=no ;;
  --from-source) from_source=yes ;;
  *) die "usage: $0 [--from-source]" ;;
esac

if [ -f "$ready" ]; then
  echo "$prefix"
  exit 0
fi
mkdir -p "$cache"

# Another run of this script (a second build folder, a parallel test) may be filling the
# cache: wait for it instead of unpacking twice.
exec 9>"$cache/.qt6-mingw-$version.lock"
flock 9
if [ -f "$ready" ]; then
  echo "$prefix"
  exit 0
fi

# The shared folder sits beside the repository; a git worktree also looks beside its main
# checkout.
find_shared_archive() {
  local candidates=("$root/../shared/qt-windows/$archive_name")
  local common
  if common=$(git -C "$root" rev-parse --path-format=absolute --git-common-dir 2>/dev/null); then
    candidates+=("$(dirname "$common")/../shared/qt-windows/$archive_name")
  fi
  local c
  for c in "${candidates[@]}"; do
    if [ -f "$c" ]; then
      echo "$c"
      return 0
    fi
  done
  return 1
}

unpack_archive() {
  local archive=$1
  [ -f "$archive" ] || die "no archive at $archive"
  say "checking $archive"
  local sum
  sum=$(sha256sum "$archive" | cut -d' ' -f1)
  [ "$sum" = "$archive_sha256" ] ||
    die "$archive has SHA-256 $sum, expected $archive_sha256 (K5_QT_WINDOWS_SHA256 names another)"
  unpack=$(mktemp -d "$cache/unpack.XXXXXX")
  trap 'rm -rf "$unpack"' EXIT
  say "unpacking into $prefix"
  tar -xJf "$archive" -C "$unpack"
  [ -f "$unpack/qt6-mingw/lib/cmake/Qt6/Qt6Config.cmake" ] ||
    die "$archive holds no Qt prefix qt6-mingw/"
  rm -rf "$prefix"
  mv "$unpack/qt6-mingw" "$prefix"
  echo "archive $(basename "$archive") $sum" >"$ready"
}

# deb-src lines for the suites apt already uses, so that apt-get source finds qt6-base.
enable_deb_src() {
  apt-get source --print-uris qt6-base >/dev/null 2>&1 && return 0
  local sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  say "enabling Debian source packages (/etc/apt/sources.list.d/k5kit-deb-src.sources)"
  $sudo tee /etc/apt/sources.list.d/k5kit-deb-src.sources >/dev/null <<'EOF'
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm bookworm-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
EOF
  $sudo apt-get update -q >&2
}

build_from_source() {
  local work=${K5_QT_WINDOWS_WORK:-$cache/qt6-mingw-work}
  local fix=$root/cmake/qt-windows/qwindows-without-wintab.patch
  local toolchain=$root/cmake/qt-windows/mingw-w64-qt.cmake
  say "no archive: building Qt $version for Windows from Debian's qt6-base (about 30 minutes)"
  for tool in dpkg-source "$triplet-g++-posix" cmake ninja; do
    command -v "$tool" >/dev/null || die "$tool is missing (scripts/install-deps.sh installs it)"
  done
  [ -d /usr/lib/x86_64-linux-gnu/cmake/Qt6CoreTools ] ||
    die "the host Qt tools are missing (qt6-base-dev-tools)"
  mkdir -p "$work"
  local src
  src=$(find "$work" -maxdepth 1 -type d -name "qt6-base-$version*" | head -n 1)
  if [ -z "$src" ]; then
    # The same source version as the host Qt, whose tools (moc, rcc, uic) the build uses.
    local host_version
    host_version=$(dpkg-query -W -f='${Version}' qt6-base-dev 2>/dev/null) ||
      die "the host Qt is missing (qt6-base-dev)"
    case $host_version in
      "$version"*) ;;
      *) die "the host Qt is $host_version, not $version" ;;
    esac
    enable_deb_src
    (cd "$work" && apt-get source -q "qt6-base=$host_version" >&2)
    src=$(find "$work" -maxdepth 1 -type d -name "qt6-base-$version*" | head -n 1)
    [ -n "$src" ] || die "apt-get source qt6-base gave no qt6-base-$version folder"
  fi
  if patch -d "$src" -p1 -N --dry-run -s <"$fix" >/dev/null 2>&1; then
    say "applying $(basename "$fix")"
    patch -d "$src" -p1 -N -s <"$fix"
  elif ! patch -d "$src" -p1 -R --dry-run -s <"$fix" >/dev/null 2>&1; then
    die "$(basename "$fix") neither applies to nor is applied in $src"
  fi

  local build=$work/build staging=$work/qt6-mingw
  # Only what the two programs and their tests use: Core, Gui, Widgets, Test and the
  # windows, offscreen and minimal platforms. No OpenGL or Direct2D (Wine and old PCs do
  # without), and Qt's own copies of the third-party libraries, since the Linux ones cannot
  # be linked into Windows DLLs. The platform plugin would pick the DirectWrite 3 font
  # database, which Qt only builds together with Direct2D: without either, fonts come from
  # the GDI font database.
  say "configuring (log: $work/configure.log)"
  cmake -S "$src" -B "$build" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DCMAKE_BUILD_TYPE=Release -DBUILD_SHARED_LIBS=ON -DCMAKE_INSTALL_PREFIX="$staging" \
    -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
    -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF -DQT_BUILD_BENCHMARKS=OFF \
    -DFEATURE_pkg_config=OFF -DFEATURE_androiddeployqt=OFF \
    -DFEATURE_testlib=ON -DFEATURE_network=OFF -DFEATURE_sql=OFF -DFEATURE_dbus=OFF \
    -DFEATURE_xml=OFF -DFEATURE_concurrent=OFF -DFEATURE_printsupport=OFF \
    -DINPUT_opengl=no -DFEATURE_opengl=OFF -DFEATURE_opengl_dynamic=OFF \
    -DFEATURE_direct2d=OFF -DFEATURE_directwrite3=OFF -DFEATURE_vulkan=OFF -DFEATURE_jpeg=OFF \
    -DFEATURE_icu=OFF -DFEATURE_glib=OFF -DFEATURE_zstd=OFF \
    -DFEATURE_system_zlib=OFF -DFEATURE_system_pcre2=OFF -DFEATURE_system_png=OFF \
    -DFEATURE_system_freetype=OFF -DFEATURE_system_harfbuzz=OFF \
    -DFEATURE_system_doubleconversion=OFF -DFEATURE_system_libb2=OFF \
    >"$work/configure.log" 2>&1 || { tail -n 30 "$work/configure.log" >&2; die "configure failed"; }
  say "building (log: $work/build.log)"
  ninja -C "$build" -j "${K5_QT_WINDOWS_JOBS:-$(nproc)}" >"$work/build.log" 2>&1 ||
    { tail -n 30 "$work/build.log" >&2; die "build failed"; }
  rm -rf "$staging"
  cmake --install "$build" >"$work/install.log" 2>&1 || die "install failed"
  rm -rf "$prefix"
  mv "$staging" "$prefix"
  echo "built from $(basename "$src")" >"$ready"
  say "built; $work may be removed"
}

archive=${K5_QT_WINDOWS_ARCHIVE:-}
if [ "$from_source" = yes ]; then
  archive=""
elif [ -z "$archive" ]; then
  archive=$(find_shared_archive || true)
fi
if [ -n "$archive" ]; then
  unpack_archive "$archive"
else
  build_from_source
fi
echo "$prefix"
