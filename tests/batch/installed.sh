#!/usr/bin/env bash
# What `cmake --install` puts in place for docoutline-batch: the executable, which runs
# from the prefix on the sample document, and its manual page, which formats without a
# warning; and the uninstall target's script, which removes them.
set -u
build_dir=$(cd "$1" && pwd)
source_dir=$(cd "$2" && pwd)
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build_dir" --prefix "$prefix" >/dev/null || exit 1
fail=0
check() {
  local what=$1
  shift
  if ! "$@"; then
    echo "FAILED: $what"
    fail=1
  fi
}
page=$prefix/share/man/man1/docoutline-batch.1
check "the manual page is installed" cmp "$source_dir/docs/docoutline-batch.1" "$page"
check "groff formats it without warnings" test -z "$(groff -man -ww -z "$page" 2>&1)"
check "man formats it without warnings" test -z "$(MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)"
check "its header names the version" grep -q "^\.TH DOCOUTLINE-BATCH 1 \"[^\"]*\" \"docoutline $3\"" "$page"
# The size and time of the checked-out file are its own: checked for shape, then left out.
out=$(cd "$prefix" && bin/docoutline-batch --no-progress "$source_dir/samples/quarterly-report.xls")
check "size and mtime are given" grep -qE ',"size":[0-9]+,"mtime":"[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}(\.[0-9]+)?Z",' <<<"$out"
out=$(sed -E 's/,"size":[0-9]+,"mtime":"[^"]*"//' <<<"$out")
check "the installed executable reads the sample" \
  test "$out" = "{\"path\":\"$source_dir/samples/quarterly-report.xls\",\"status\":\"ok\",\"container\":\"compound-file\",\"codepage\":1252,\"headings\":[{\"heading\":\"Worksheets\",\"count\":2},{\"heading\":\"Modules\",\"count\":1},{\"heading\":\"Charts\",\"count\":1},{\"heading\":\"Named Ranges\",\"count\":2}],\"parts\":[\"Summary\",\"Q3 Sales\",\"Macros\",\"Revenue Chart\",\"Print_Area\",\"Totals\"]}"
# The uninstall target's script removes what the install put in place, but never a file
# that a package owns: here a stand-in for dpkg-query owns the manual page.
owner=$prefix/owner
printf '#!/bin/sh\n[ "$2" = "%s" ]\n' "$page" >"$owner" && chmod +x "$owner"
find "$prefix" -type f ! -name owner >"$prefix.manifest"
cmake -DMANIFEST="$prefix.manifest" -DDPKG_QUERY="$owner" -P "$source_dir/cmake/uninstall.cmake" >/dev/null
check "uninstall removes the installed files but the one a package owns, and our folders" \
  test "$(find "$prefix" -type f ! -name owner)" = "$page" -a ! -e "$prefix/share/doc/docoutline" \
  -a ! -e "$prefix/share/doc/python3-docoutline" -a -z "$(find "$prefix" -path '*/dist-packages/docoutline')"
rm -f "$prefix.manifest"
[ "$fail" -eq 0 ] && echo "installed docoutline-batch: all checks passed"
exit "$fail"
