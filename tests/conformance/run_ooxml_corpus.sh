#!/usr/bin/env bash
# docoutline-batch over the real-package corpus: every package must get the record its
# expected.jsonl gives (status, headings, parts; container "zip", no code page).
#   run_ooxml_corpus.sh DOCOUTLINE-BATCH RECORDS-CHECK CORPUS
# Exit 77 (skipped) when the corpus is not there.
set -u
batch=$1
check=$2
corpus=${3:-}
if [ -z "$corpus" ] || [ ! -f "$corpus/expected.jsonl" ]; then
  echo "SKIPPED: no package corpus (expected.jsonl) at '${corpus}'"
  exit 77
fi
"$batch" -j 2 --no-progress "$corpus" | "$check" --expected "$corpus/expected.jsonl"
