#!/usr/bin/env bash
# Installs the current build into a temporary prefix with `cmake --install --strip`, then checks
# what landed there: the executable, run on the sample document, must write exactly the
# expected bytes and statuses; the manual page and the license must be the sources' own.
set -euo pipefail
build_dir=$(cd "$1" && pwd)
source_dir=$(cd "$2" && pwd)

prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build_dir" --prefix "$prefix" --strip >/dev/null

fail=0
check() {  # check DESCRIPTION COMMAND...
  local what=$1
  shift
  if ! "$@"; then
    echo "FAILED: $what"
    fail=1
  fi
}

tool="$prefix/bin/docoutline"
check "bin/docoutline is installed and executable" test -x "$tool"
check "the manual page is installed as share/man/man1/docoutline.1" \
  cmp "$source_dir/docs/docoutline.1" "$prefix/share/man/man1/docoutline.1"
check "the license is installed as share/doc/docoutline/copyright" \
  cmp "$source_dir/LICENSE" "$prefix/share/doc/docoutline/copyright"

if [ -x "$tool" ]; then
  # The echo of the listed part names (CR LF), then the report (CR CR LF).
  printf 'Summary\r\nQ3 Sales\r\nRevenue Chart\r\nPrint_Area\r\nTotals\r\n' >"$prefix/expected"
  printf 'Worksheets\r\r\n\tSummary\r\r\n\tQ3 Sales\r\r\n' >>"$prefix/expected"
  printf 'Charts\r\r\n\tRevenue Chart\r\r\n' >>"$prefix/expected"
  printf 'Named Ranges\r\r\n\tPrint_Area\r\r\n\tTotals\r\r\n' >>"$prefix/expected"

  # Run from elsewhere, so nothing depends on the build or source directory.
  status=0
  (cd "$prefix" && "$tool" "$source_dir/samples/quarterly-report.xls" >"$prefix/out" 2>"$prefix/err") || status=$?
  check "the sample's output is exact" cmp "$prefix/expected" "$prefix/out"
  check "nothing on standard error" test ! -s "$prefix/err"
  check "exit status 0 for the sample (got $status)" test "$status" -eq 0

  status=0
  (cd "$prefix" && "$tool" -t >"$prefix/out" 2>&1) || status=$?
  check "exit status 255 for -t (got $status)" test "$status" -eq 255
  check "-t prints nothing" test ! -s "$prefix/out"
fi

[ "$fail" -eq 0 ] && echo "installed tool: all checks passed"
exit "$fail"
