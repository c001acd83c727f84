#!/usr/bin/env bash
# Checks the manual page: it formats without a single warning from the formatter or from
# man, it renders its sections, and its header names the project's current version.
set -euo pipefail
page=$1
version=$2
fail=0

warnings=$(groff -man -ww -z "$page" 2>&1) || true
if [ -n "$warnings" ]; then
  echo "FAILED: groff warns:"
  echo "$warnings"
  fail=1
fi

warnings=$(MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null) || true
if [ -n "$warnings" ]; then
  echo "FAILED: man warns:"
  echo "$warnings"
  fail=1
fi

rendered=$(MANWIDTH=80 man -l "$page" 2>/dev/null) || true
for section in NAME SYNOPSIS DESCRIPTION OUTPUT "EXIT STATUS" "WHY IS THE OUTPUT EMPTY?" "DAMAGED DOCUMENTS" FILES \
  EXAMPLES; do
  if ! grep -qx "$section" <<<"$rendered"; then
    echo "FAILED: no $section section in the rendered page"
    fail=1
  fi
done

if ! grep -q "^\.TH DOCOUTLINE 1 \"[^\"]*\" \"docoutline $version\"" "$page"; then
  echo "FAILED: the .TH line does not name docoutline $version"
  fail=1
fi

[ "$fail" -eq 0 ] && echo "manual page: all checks passed"
exit "$fail"
