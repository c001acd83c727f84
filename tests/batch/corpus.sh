#!/usr/bin/env bash
# docoutline-batch over the whole real-document corpus:
#   - one record per file, the same bytes with 1 and 4 threads;
#   - every line valid JSON of the record's shape (a real parser), and every ok record
#     equal to docoutline's own listing of the same document;
#   - the GNU parallel recipe of the README: shards of a NUL-separated list, run
#     concurrently, give the same set of records as one run.
# Exit 77 (skipped) when the corpus is not there.
set -u
batch=$(realpath "$1")
docoutline=$2
check=$3
corpus=${4:-}
if [ -z "$corpus" ] || [ ! -d "$corpus" ]; then
  echo "SKIPPED: no document corpus at '${corpus}'"
  exit 77
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail=0
failed() {
  echo "FAILED: $*"
  fail=1
}

"$batch" -j 1 --no-progress "$corpus" >"$work/j1" || failed "exit status $? with -j 1"
"$batch" -j 4 --no-progress "$corpus" >"$work/j4" || failed "exit status $? with -j 4"
cmp -s "$work/j1" "$work/j4" || failed "-j 1 and -j 4 differ"
files=$(find "$corpus" -type f | wc -l)
[ "$(wc -l <"$work/j1")" -eq "$files" ] || failed "$(wc -l <"$work/j1") records for $files files"

"$check" "$docoutline" <"$work/j1" || failed "records check"

if command -v parallel >/dev/null; then
  (cd "$corpus" && find . -type f -print0) >"$work/list"
  (cd "$corpus" && parallel --will-cite --pipe --recend '\0' --block 16k -j 3 "$batch" -0 -j 1 --no-progress \
    <"$work/list") >"$work/shards" || failed "parallel run"
  (cd "$corpus" && "$batch" -0 --no-progress <"$work/list") >"$work/single" || failed "single run of the list"
  [ "$(wc -l <"$work/single")" -eq "$files" ] || failed "the list's run has $(wc -l <"$work/single") records"
  sort "$work/shards" >"$work/shards.sorted"
  sort "$work/single" >"$work/single.sorted"
  cmp -s "$work/shards.sorted" "$work/single.sorted" || failed "the shards' records differ from a single run's"
else
  failed "GNU parallel is not installed (tools/install-deps installs it)"
fi

[ "$fail" -eq 0 ] && echo "batch corpus: all checks passed"
exit "$fail"
