#!/usr/bin/env bash
# Runs docoutline over every real-world document of the shared corpus and compares its
# standard output, byte for byte, with the expected output stored beside each document.
# Exit 77 (skipped) when the corpus is not there, e.g. in a clone outside the workplace.
#
#   run_corpus.sh TOOL DIR [--every]
#
# With --every, every file of DIR but the expected outputs and *.md must have its
# expected output beside it (the regression inputs keep theirs).
set -u
tool=$1
corpus=${2:-}
every=${3:-}
if [ -z "$corpus" ] || [ ! -d "$corpus" ]; then
  echo "SKIPPED: no document corpus at '${corpus}' (configure with -DDOCOUTLINE_CORPUS=DIR)"
  exit 77
fi
pass=0
fail=0
for doc in "$corpus"/*; do
  case "$doc" in *.stdout | *.tsv) continue ;; esac
  case "$doc" in *.md) continue ;; esac
  expected="$doc.stdout"
  if [ ! -f "$expected" ]; then
    [ "$every" = --every ] || continue
    fail=$((fail + 1))
    echo "NO EXPECTED OUTPUT for $(basename "$doc")"
    continue
  fi
  if ! diff_at=$("$tool" "$doc" 2>/dev/null | cmp - "$expected" 2>&1); then
    fail=$((fail + 1))
    echo "MISMATCH $(basename "$doc"): ${diff_at:-differs}"
  else
    pass=$((pass + 1))
  fi
done
echo "conformance: $pass passed, $fail failed"
[ "$pass" -gt 0 ] && [ "$fail" -eq 0 ]
