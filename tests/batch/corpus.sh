#!/usr/bin/env bash
# docoutline-batch over the whole real-document corpus:
#   - one record per file, the same bytes with 1, 2 and 8 threads;
#   - every line valid JSON of the record's shape (a real parser), and every ok record
#     equal to docoutline's own listing of the same document;
#   - the GNU parallel recipes of the README: shards of a NUL-separated list, run
#     concurrently, give the same set of records as one run; so does the --sshlogin one
#     with a host that cannot be reached, and the resumable one, resumed after a block
#     failed, gives a single run's records in its order;
#   - the README's recipe for resuming a run killed half way gives the records of an
#     unbroken one.
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

for j in 1 2 8; do
  "$batch" -j "$j" --no-progress "$corpus" >"$work/j$j" || failed "exit status $? with -j $j"
  cmp -s "$work/j1" "$work/j$j" || failed "-j 1 and -j $j differ"
done
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

  # The README's --sshlogin recipes as written, with one host that does not resolve:
  # --filter-hosts leaves it out (ssh fails at once; the timeout guards against a hang).
  hosts=(--filter-hosts --retries 3 --sshlogin 1/nonexistent.invalid,:)
  (cd "$corpus" && timeout 120 parallel --will-cite --pipe --recend '\0' --block 16k "${hosts[@]}" \
    "$batch" -0 -j 1 --no-progress <"$work/list" >"$work/hosts" 2>"$work/hosts.err") || failed "the --sshlogin recipe"
  sort "$work/hosts" | cmp -s - "$work/single.sorted" || failed "the --sshlogin recipe's records differ"
  # The resumable one, resumed after its second block failed part way: only that block is
  # read again, and the blocks' files in order hold a single run's records.
  resumable() {
    (cd "$corpus" && timeout 120 parallel --will-cite --pipe --recend '\0' --block 16k \
      --joblog "$work/shards.log" --resume-failed --results "$work/blocks/{#}.jsonl" "${hosts[@]}" \
      "$batch" -0 -j 1 --no-progress <"$work/list" >/dev/null 2>>"$work/hosts.err")
  }
  resumable || failed "the resumable recipe"
  awk -F '\t' -v OFS='\t' 'NR > 1 && $1 == 2 { $7 = 1 } 1' "$work/shards.log" >"$work/log" &&
    mv "$work/log" "$work/shards.log"
  head -c 100 "$work/blocks/2.jsonl" >"$work/cut" && mv "$work/cut" "$work/blocks/2.jsonl"
  resumable || failed "resuming the resumable recipe"
  [ "$(grep -c $'^2\t' "$work/shards.log")" -eq 2 ] || failed "block 2 was not run again (or more than once)"
  (cd "$work" && ls -v blocks/*.jsonl | xargs -d '\n' cat) | cmp -s - "$work/single" ||
    failed "the resumed sharded run's records differ from a single run's"
else
  failed "GNU parallel is not installed (tools/install-deps installs it)"
fi

# Resuming: a run reading its list from a pipe is killed once it has written the records
# of the first half (it writes what it has made whenever it waits for input); then the
# README's recipe finishes it.
(cd "$corpus" && find . -type f -print0) >"$work/archive.list"
half=$((files / 2))
mkfifo "$work/fifo"
(cd "$corpus" && exec "$batch" -0 -j 2 --no-progress <"$work/fifo" >"$work/outlines.jsonl") &
killed=$!
exec {feed}>"$work/fifo"
head -z -n "$half" "$work/archive.list" >&"$feed"
for _ in $(seq 200); do
  [ "$(wc -l <"$work/outlines.jsonl")" -ge "$half" ] && break
  sleep 0.1
done
kill -KILL "$killed"
wait "$killed" 2>/dev/null
exec {feed}>&-
n=$(wc -l <"$work/outlines.jsonl")
[ "$n" -eq "$half" ] || failed "the killed run wrote $n records of the $half it read"
head -n "$n" "$work/outlines.jsonl" >"$work/resumed.jsonl"
(cd "$corpus" && tail -z -n +"$((n + 1))" "$work/archive.list" | "$batch" -0 --no-progress) >>"$work/resumed.jsonl"
(cd "$corpus" && "$batch" -0 --no-progress <"$work/archive.list") >"$work/unbroken.jsonl"
cmp -s "$work/resumed.jsonl" "$work/unbroken.jsonl" || failed "a resumed run differs from an unbroken one"

[ "$fail" -eq 0 ] && echo "batch corpus: all checks passed"
exit "$fail"
