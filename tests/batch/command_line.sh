#!/usr/bin/env bash
# docoutline-batch's command line: options and usage errors, path lists on standard
# input, paths that are not UTF-8, FIFOs, and the exit statuses for output that cannot
# be written.
set -u
batch=$(realpath "$1")
sample=$(realpath "$2")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
fail=0
expect() {  # expect DESCRIPTION COMMAND...: the command must succeed
  local what=$1
  shift
  if ! "$@"; then
    echo "FAILED: $what"
    fail=1
  fi
}
run() {  # run ARGS...: out, err and status of one run (standard input from the caller)
  status=0
  timeout 20 "$batch" --no-progress "$@" >out 2>err || status=$?
}

run --version
expect "--version names the program" grep -qx 'docoutline-batch [0-9.]*' out
run --help
expect "--help exits 0 with the usage" test "$status" -eq 0 -a -n "$(grep -c '^Usage: docoutline-batch' out)"
for args in "-j 0" "-j x" "-j" "--jobs=3x" "--bogus" "--fail-on" "--fail-on=" "--fail-on=ok,,damaged" "--fail-on=okay"; do
  # shellcheck disable=SC2086 # the options are split on purpose
  run $args </dev/null
  expect "'$args' is a usage error (status $status)" test "$status" -eq 2 -a -s err -a ! -s out
done
run -j 99999999999 "$sample" </dev/null
expect "a thread count over the cap reads with the cap" test "$status" -eq 0 -a "$(wc -l <out)" -eq 1
run --progress "$sample" missing.xls "$sample" </dev/null
expect "progress ends with the records counted by status" \
  test "$(tail -n 1 err)" = "docoutline-batch: 3 records: 2 ok, 1 not-found"
# The progress line's total: a list in a regular file is counted as it will be read
# (empty lines and the CR of a CR LF left out), a walk once it has listed every folder.
printf '%s\r\n\r\n\nmissing.xls\r\n%s' "$sample" "$sample" >crlf.list
run --progress <crlf.list
expect "the total of a list file (got '$(tr '\r' '\n' <err | grep documents | tail -n 1)')" \
  grep -q '^3 of 3 documents, [0-9]*/s' <(tr '\r' '\n' <err)
# A folder given as an argument with no document in it: a line on standard error, and a
# count in the closing line (no record, since a record is a document's).
mkdir -p empty/sub walked/inner
cp "$sample" walked/inner/a.xls
run --progress empty walked
expect "the total and the folders of a walk" grep -q '^1 of 1 documents, 4 folders, ' <(tr '\r' '\n' <err)
expect "an empty folder is said on standard error" grep -qx 'docoutline-batch: empty: no documents' err
expect "and counted in the closing line" \
  test "$(tail -n 1 err)" = "docoutline-batch: 1 record: 1 ok; 1 folder with no documents"
# With no path and a terminal on standard input, one line says where paths come from.
timeout 20 script -qec "'$batch' --no-progress" /dev/null </dev/null >out 2>&1
expect "a terminal on standard input is told it is read" \
  grep -q '^docoutline-batch: reading paths from standard input (one per line; Ctrl-D ends)' out

# --fail-on: status 4 once every record is written, when a record has a status named;
# a failed list (status 1) comes first. Under GNU parallel, parallel's status shows it.
run --fail-on=not-found "$sample" missing.xls "$sample" </dev/null
expect "--fail-on=not-found with a missing file: 4 after all records (got $status)" test "$status" -eq 4 -a "$(wc -l <out)" -eq 3
run --fail-on any "$sample" </dev/null
expect "--fail-on any with an ok record: 0 (got $status)" test "$status" -eq 0
run --fail-on=damaged,any missing.xls - </
expect "a list that cannot be read is 1 before --fail-on's 4 (got $status)" test "$status" -eq 1
status=0
printf 'missing.xls\0' | timeout 60 parallel --will-cite --pipe --recend '\0' "$batch" -0 --no-progress --fail-on=any \
  >/dev/null 2>&1 || status=$?
expect "GNU parallel fails with a block that --fail-on fails (got $status)" test "$status" -eq 1

# A list with empty entries and a path holding a newline, NUL-separated; '-' reads it
# where it stands among the arguments, once.
cp "$sample" "$work/new
line.xls"
printf '\0%s\0\0missing.xls' "$work/new
line.xls" >list
run -j 3 "$sample" - - <list
expect "without -0 the list is read by lines (status $status)" test "$status" -eq 0 -a "$(wc -l <out)" -eq 3
run -0 -j 3 "$sample" - - <list
expect "three records from -0 (status $status)" test "$status" -eq 0 -a "$(wc -l <out)" -eq 3
expect "the path with a newline is ok" grep -q '^{"path":"[^"]*/new\\nline.xls","status":"ok"' out
expect "a missing file is not-found, status 0" grep -qx '{"path":"missing.xls","status":"not-found","container":null,"codepage":null}' out

# A list on a descriptor set not to wait (O_NONBLOCK) is waited for, not taken as failed
# (perl-base is on every Debian system).
status=0
{ sleep 1; echo "$sample"; } |
  timeout 20 perl -MFcntl -e 'fcntl(STDIN, F_SETFL, fcntl(STDIN, F_GETFL, 0) | O_NONBLOCK) or die; exec @ARGV' \
    "$batch" --no-progress >out 2>err || status=$?
expect "a list on a non-blocking descriptor is waited for (status $status)" test "$status" -eq 0 -a "$(wc -l <out)" -eq 1

# A record is written as soon as it is made, while the list is still open.
coproc LIVE { "$batch" --no-progress -j 2; }
live_pid=$LIVE_PID  # bash unsets LIVE_PID once the coprocess has ended
echo "$sample" >&"${LIVE[1]}"
first=
read -t 20 -r first <&"${LIVE[0]}"
expect "a record comes out before the list ends" grep -q '"status":"ok"' <<<"$first"
exec {LIVE[1]}>&-
wait "$live_pid" || true

# A path that is not UTF-8: shown with U+FFFD, its bytes in path_base64.
mkdir tree
cp "$sample" "$(printf 'tree/caf\xe9.xls')"
mkfifo tree/pipe  # opened for reading, it would block: it must not be opened
run tree
expect "the folder's records (status $status)" test "$status" -eq 0 -a "$(wc -l <out)" -eq 2
expect "a non-UTF-8 path keeps its bytes" grep -q "^{\"path\":\"tree/caf$(printf '\xef\xbf\xbd').xls\",\"path_base64\":\"$(printf 'tree/caf\xe9.xls' | base64)\",\"status\":\"ok\"" out
expect "a FIFO in a walk is not-regular-file" grep -qx '{"path":"tree/pipe","status":"not-regular-file","container":null,"codepage":null}' out

# A walk far deeper than the longest path the system opens (8,000 bytes): every file
# that find lists gets its record.
(mkdir deep && cd deep && for i in $(seq 1000); do
  mkdir d123456 && cd d123456 || exit 1
  [ "$i" -ne 500 ] || cp "$sample" a.xls
done && cp "$sample" z.xls && mkfifo p) || { echo "FAILED: could not build the deep tree"; fail=1; }
run deep
expect "every file of a tree 8,000 bytes deep has a record (status $status)" \
  test "$status" -eq 0 -a "$(find deep ! -type d | sort)" = "$(sed 's/^{"path":"\([^"]*\)".*/\1/' out | sort)"
expect "the document at the bottom of it is read" grep -q '/z\.xls","status":"ok"' out

# Output that cannot be written: a closed pipe ends the run quietly, anything else with a
# message; both with status 1.
yes "$sample" | head -n 50000 | "$batch" --no-progress 2>err | head -n 1 >/dev/null
status=("${PIPESTATUS[@]}")
expect "a closed pipe gives status 1 (got ${status[2]})" test "${status[2]}" -eq 1
expect "a closed pipe is quiet" test ! -s err
status=0
"$batch" --no-progress "$sample" >/dev/full 2>err || status=$?
expect "a full disk gives status 1 and a message (got $status)" test "$status" -eq 1 -a -s err
run </
expect "unreadable standard input is status 1 (got $status)" test "$status" -eq 1 -a -s err

[ "$fail" -eq 0 ] && echo "batch command line: all checks passed"
exit "$fail"
