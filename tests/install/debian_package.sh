#!/usr/bin/env bash
# Makes the Debian package of a build with `cpack -G DEB` in a temporary folder and checks
# it: lintian reports no error and no warning, and every manual page of docs/ is in it
# compressed as `gzip -9n` leaves it (best compression, no file name, no time stamp).
# Exit 77 (skipped) where lintian or dpkg-deb is not installed.
#
#   debian_package.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build_dir=$(cd "$1" && pwd)
source_dir=$(cd "$2" && pwd)
if ! command -v lintian >/dev/null || ! command -v dpkg-deb >/dev/null; then
  echo "SKIPPED: lintian or dpkg-deb is not installed"
  exit 77
fi

out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
if ! cpack -G DEB --config "$build_dir/CPackConfig.cmake" -B "$out" >"$out/cpack.log" 2>&1; then
  cat "$out/cpack.log"
  echo "FAILED: cpack -G DEB"
  exit 1
fi
deb=$(echo "$out"/*.deb)
mkdir "$out/root"
dpkg-deb -x "$deb" "$out/root"

fail=0
for page in "$source_dir"/docs/*.1; do
  packed="$out/root/usr/share/man/man1/$(basename "$page").gz"
  # The gzip header: flags (no name), time stamp (zero), extra flags (2: best compression).
  if [ ! -f "$packed" ] || [ "$(od -An -tu1 -j3 -N6 "$packed" | tr -s ' ')" != " 0 0 0 0 0 2" ] ||
     ! gzip -dc "$packed" | cmp -s - "$page"; then
    echo "FAILED: $(basename "$page") is not in the package as gzip -9n made it"
    fail=1
  fi
done

# Errors and warnings fail; the rest is shown for the record. (lintian says it would
# rather not run as root; that note is left out.)
if ! lintian --fail-on error,warning --display-info "$deb" 2> >(grep -v 'running with root privileges' >&2); then
  echo "FAILED: lintian"
  fail=1
fi

[ "$fail" -eq 0 ] && echo "Debian package: all checks passed"
exit "$fail"
