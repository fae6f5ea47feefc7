#!/usr/bin/env bash
# Checks the Debian package the way a user meets it: builds it with scripts/package.sh,
# runs lintian (errors fail, warnings are listed), validates the menu entries, the AppStream
# records and the manual pages, unpacks it into a scratch root with dpkg-deb -x and, from
# there, asks every program for its version and configures a simulated K5 with the unpacked
# k5ctl against the unpacked k5sim.
set -euo pipefail
cd "$(dirname "$0")/.."

echo "=== Debian package"
package=$(scripts/package.sh)
version=$(dpkg-deb -f "$package" Version)
echo "Package: $package (version $version)"

echo "--- lintian (errors and warnings)"
lintian_status=0
lintian_out=$(lintian --fail-on error "$package" 2>&1) || lintian_status=$?
grep -v '^running with root privileges' <<<"$lintian_out" || true
if [ "$lintian_status" -ne 0 ]; then
  echo "lintian reports errors" >&2
  exit 1
fi

# shellcheck source=scripts/lib/k5sim.sh
source scripts/lib/k5sim.sh
root=$(mktemp -d)
cleanup() {
  k5_stop_sim
  rm -rf "$root"
}
trap cleanup EXIT
dpkg-deb -x "$package" "$root"

echo "--- menu entries, icons, AppStream records, manual pages"
desktop-file-validate "$root"/usr/share/applications/*.desktop
for entry in "$root"/usr/share/applications/*.desktop; do
  icon=$(sed -n 's/^Icon=//p' "$entry")
  for size in 16x16 32x32 48x48; do
    [ -f "$root/usr/share/icons/hicolor/$size/apps/$icon.png" ] ||
      { echo "$entry: no $size icon $icon.png" >&2; exit 1; }
  done
  [ -f "$root/usr/share/icons/hicolor/scalable/apps/$icon.svg" ] ||
    { echo "$entry: no scalable icon $icon.svg" >&2; exit 1; }
  program=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$entry")
  [ -x "$root/usr/bin/$program" ] || { echo "$entry: no program $program" >&2; exit 1; }
done
appstreamcli validate --no-net --strict "$root"/usr/share/metainfo/*.metainfo.xml
for manual in "$root"/usr/share/man/man1/*.1.gz; do
  warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l "$manual" 2>&1 >/dev/null)
  [ -z "$warnings" ] || { echo "$manual: $warnings" >&2; exit 1; }
done
echo "menu entries, icons, records and manual pages: OK"

echo "--- the unpacked programs"
bin="$root/usr/bin"
for program in k5ctl k5sim torvik veldra; do
  # The Qt programs answer before they look for a display.
  answer=$(env -u DISPLAY -u WAYLAND_DISPLAY "$bin/$program" --version)
  case "$answer" in
    *"$version"*) echo "$program --version: $answer" ;;
    *) echo "$program --version answered '$answer', not version $version" >&2; exit 1 ;;
  esac
done

k5_start_sim "$bin/k5sim" "$root/k5" "$root/k5sim.out" "$root/k5sim.err" ||
  { echo "the unpacked k5sim did not start" >&2; exit 1; }
status=0
"$bin/k5ctl" --device "$root/k5" configure >"$root/configure.log" || status=$?
if [ "$status" -ne 0 ] || ! grep -q '^REG STMAX = ' "$root/configure.log"; then
  cat "$root/configure.log"
  echo "k5ctl configure from the package ended with $status" >&2
  exit 1
fi
echo "k5ctl configure against k5sim from the package: $(tail -n 1 "$root/configure.log")"
echo "Package checks passed."
