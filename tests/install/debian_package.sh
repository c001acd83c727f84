#!/usr/bin/env bash
# Makes the Debian packages of a build with `cpack -G DEB` in a temporary folder and checks
# them: lintian reports no error and no warning on any, and every manual page of docs/ is
# in docoutline's compressed as `gzip -9n` leaves it (best compression, no file name, no
# time stamp). A build with the Python module makes python3-docoutline too, whose module
# the system's python3 imports from the unpacked package and reads the sample with.
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
deb=$(echo "$out"/docoutline_*.deb)
mkdir "$out/root"
dpkg-deb -x "$deb" "$out/root"

fail=0
if grep -q 'python3-docoutline' "$build_dir/CPackConfig.cmake"; then
  python_deb=$(echo "$out"/python3-docoutline_*.deb)
  if [ ! -f "$python_deb" ]; then
    echo "FAILED: no python3-docoutline package"
    fail=1
  else
    mkdir "$out/python"
    dpkg-deb -x "$python_deb" "$out/python"
    if dpkg-deb -c "$deb" | grep -q python || dpkg-deb -c "$python_deb" | grep -q '/bin/'; then
      echo "FAILED: the two packages do not hold what they should"
      fail=1
    fi
    site="$out/python/usr/lib/python3/dist-packages"
    probe='import docoutline, sys; assert docoutline.__file__.startswith(sys.argv[1]); print(docoutline.read(sys.argv[2])["status"])'
    if [ "$(cd "$out" && PYTHONPATH=$site /usr/bin/python3 -c "$probe" "$site" "$source_dir/samples/quarterly-report.xls")" != ok ]; then
      echo "FAILED: the packaged module does not read the sample"
      fail=1
    fi
  fi
fi
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
if ! lintian --fail-on error,warning --display-info "$out"/*.deb 2> >(grep -v 'running with root privileges' >&2); then
  echo "FAILED: lintian"
  fail=1
fi

[ "$fail" -eq 0 ] && echo "Debian packages: all checks passed"
exit "$fail"
