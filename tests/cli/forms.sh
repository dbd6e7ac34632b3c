#!/usr/bin/env bash
# The command line as users of gzip, xz and zstd type it: one case per
# finding of the review that asked for these forms, each checking what vesk
# does now where it used to go wrong. Run by CTest, one test a case:
#
#   tests/cli/forms.sh VESK CASE
#
# Every case works in a folder of its own and writes nowhere else.
set -u
vesk=$1
case_name=$2
unvesk=$(dirname "$vesk")/unvesk
work=$(mktemp -d "${TMPDIR:-/tmp}/vesk-forms-XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1

failed=0
fail() { echo "FAILED: $*"; failed=1; }
expect_status() {  # STATUS COMMAND...: runs it, stdout to out, stderr to err
  local want=$1
  shift
  "$@" >out 2>err
  local got=$?
  [ "$got" = "$want" ] || fail "status $got, not $want: $* (stderr: $(cat err))"
}
same() { cmp -s "$1" "$2" || fail "$1 and $2 differ"; }
has() { grep -qF -- "$2" "$1" || fail "$1 lacks '$2': $(cat "$1")"; }
lacks() { ! grep -qF -- "$2" "$1" || fail "$1 holds '$2': $(cat "$1")"; }
empty() { [ ! -s "$1" ] || fail "$1 is not empty: $(cat "$1")"; }

text() {  # FILE BYTES: prose-like text
  local i
  for ((i = 0; i < $2 / 40 + 1; i++)); do echo "line $i of some notes, with words in it"; done |
    head -c "$2" >"$1"
}

case $case_name in
two-files-are-two-inputs)
  # `vesk notes1.txt notes2.txt` replaced notes2.txt with an archive of notes1.txt.
  text notes1.txt 3000
  text notes2.txt 5000
  cp notes2.txt keep2
  expect_status 0 "$vesk" notes1.txt notes2.txt
  same notes2.txt keep2
  [ -f notes1.txt.vsk ] && [ -f notes2.txt.vsk ] || fail "both archives were not written"
  mv notes1.txt keep1
  rm notes2.txt
  expect_status 0 "$unvesk" notes1.txt.vsk notes2.txt.vsk
  same notes1.txt keep1
  same notes2.txt keep2
  ;;
file-operands)
  # `vesk FILE`, `vesk -d FILE.vsk` and `vesk -c FILE` printed the usage.
  text a.txt 4000
  cp a.txt orig
  expect_status 0 "$vesk" a.txt
  [ -f a.txt.vsk ] && [ -f a.txt ] || fail "vesk FILE: FILE.vsk next to the kept FILE"
  rm a.txt
  expect_status 0 "$vesk" -d a.txt.vsk
  same a.txt orig
  [ -f a.txt.vsk ] || fail "the archive was not kept"
  rm a.txt.vsk
  expect_status 0 "$vesk" -c a.txt
  [ -f a.txt.vsk ] || fail "vesk -c FILE"
  # A name without .vsk is refused, unless -o names the output.
  cp a.txt.vsk archive
  expect_status 1 "$vesk" -d archive
  has err "vesk: archive does not end in .vsk"
  expect_status 0 "$vesk" -d archive -o restored
  same restored orig
  # unvesk restores every operand.
  cp a.txt.vsk b.txt.vsk
  rm a.txt
  expect_status 0 "$unvesk" a.txt.vsk b.txt.vsk
  same a.txt orig
  same b.txt orig
  ;;
options-known)
  # -k, -f, -o, -v, -l and --stdout printed the usage.
  text a.txt 4000
  expect_status 0 "$vesk" -k a.txt
  expect_status 0 "$vesk" -f a.txt
  expect_status 0 "$vesk" -o other.vsk a.txt
  expect_status 0 "$vesk" -v -f a.txt
  has err "a.txt -> a.txt.vsk: 4,000 -> "
  expect_status 0 "$vesk" -l a.txt.vsk
  has out "a.txt.vsk"
  expect_status 0 "$vesk" --stdout a.txt
  cp out piped.vsk
  expect_status 0 "$vesk" -d --stdout piped.vsk
  same out a.txt
  # xz's -dc: vesk -d F - writes F's contents to standard output.
  expect_status 0 "$vesk" -d piped.vsk -
  same out a.txt
  ;;
nothing-on-stdout)
  # `vesk -c a.txt > a.txt.vsk` left the 91-byte usage text in a.txt.vsk.
  text a.txt 2000
  "$vesk" -c a.txt >a.txt.vsk 2>err
  [ $? = 1 ] || fail "an existing output must be refused"
  empty a.txt.vsk
  has err "vesk: a.txt.vsk already exists"
  expect_status 1 "$vesk" --bogus a.txt
  empty out
  ;;
wrong-option-named)
  # A wrong option printed the same five lines as any other mistake.
  expect_status 1 "$vesk" --bogus a b
  has err "vesk: unknown option '--bogus'"
  has err "Try '$vesk --help'"
  expect_status 1 "$vesk" -x a
  has err "vesk: unknown option '-x'"
  expect_status 1 "$vesk" -T nine a
  has err "-T takes a number of threads from 0 to 4096, not 'nine'"
  expect_status 1 "$vesk" --frame-size=1M -d a
  has err "vesk: --frame-size applies only when compressing"
  expect_status 1 "$vesk" --method=text -t a
  has err "vesk: --method applies only when compressing"
  # The design's usage text goes with it, to standard error.
  has err "Compress:"
  empty out
  ;;
usage-names-the-program)
  # The usage showed ./vesk even when vesk was run from the PATH.
  mkdir bin
  ln -s "$vesk" bin/vesk
  PATH=$work/bin:$PATH expect_status 0 vesk --help
  has out "    vesk -c input output"
  lacks out "./vesk"
  expect_status 0 "$vesk" --help
  has out "    $vesk -c input output"
  # It fits 80 columns.
  [ "$(awk '{ if (length($0) > 80) print }' out)" = "" ] || fail "--help is wider than 80 columns"
  ;;
every-message-prefixed)
  # Only the terminal refusals began with "vesk:".
  printf 'not an archive' >foreign
  text a.txt 100
  expect_status 1 "$vesk" -d foreign out.txt
  has err "vesk: foreign is not a compressed file"
  expect_status 1 "$vesk" -c missing out.vsk
  has err "vesk: missing not found"
  mkdir dir
  expect_status 1 "$vesk" -c dir x.vsk
  has err "vesk: dir is a directory"
  empty out
  ;;
not-found-one-way)
  # One missing file was "x not found" compressing and "File x not found" decompressing.
  expect_status 1 "$vesk" -c x x.vsk
  cp err c
  expect_status 1 "$vesk" -d x x.out
  same err c
  has err "vesk: x not found"
  ;;
output-checked-first)
  # `-c big.dat nodir/out.vsk` compressed the whole file, then said "Cannot write".
  cat "$vesk" "$vesk" "$vesk" "$vesk" | head -c 3000000 >big.dat
  expect_status 1 "$vesk" -c big.dat nodir/out.vsk
  has err "vesk: Cannot write nodir/out.vsk: No such file or directory"
  lacks out "Compressing"  # refused before the work starts
  mkdir ro
  chmod 500 ro
  if [ "$(id -u)" != 0 ]; then
    expect_status 1 "$vesk" -c big.dat ro/out.vsk
    has err "Permission denied"
  fi
  mkdir outdir
  expect_status 1 "$vesk" -c big.dat outdir
  has err "vesk: Cannot write outdir: Is a directory"
  [ -z "$(ls -A ro)$(ls -A outdir)" ] || fail "something was left behind"
  ;;
mode-and-times-kept)
  # A -rw------- input gave a -rw-r--r-- archive, and the restored file was 644 with the current time.
  text a.txt 3000
  chmod 600 a.txt
  touch -d '2020-01-02 03:04:05' a.txt
  expect_status 0 "$vesk" a.txt
  [ "$(stat -c %a a.txt.vsk)" = 600 ] || fail "archive mode $(stat -c %a a.txt.vsk)"
  [ "$(stat -c %Y a.txt.vsk)" = "$(stat -c %Y a.txt)" ] || fail "archive time"
  chmod 640 a.txt.vsk
  touch -d '2021-05-06 07:08:09' a.txt.vsk
  mv a.txt orig
  expect_status 0 "$vesk" -d a.txt.vsk
  [ "$(stat -c %a a.txt)" = 640 ] || fail "restored mode $(stat -c %a a.txt)"
  [ "$(stat -c %Y a.txt)" = "$(stat -c %Y a.txt.vsk)" ] || fail "restored time"
  # The design's form takes them too.
  expect_status 0 "$vesk" -c orig design.vsk
  [ "$(stat -c %a design.vsk)" = 600 ] || fail "design form mode $(stat -c %a design.vsk)"
  ;;
filters-quiet)
  # `tar -I vesk -tvf t.tar.vsk` printed "Decompressing frames" among tar's listing.
  mkdir src
  text src/a.txt 5000
  expect_status 0 tar -I "$vesk" -cf t.tar.vsk -C src .
  empty err
  expect_status 0 tar -I "$vesk" -tvf t.tar.vsk
  empty err
  has out "./a.txt"
  "$vesk" <src/a.txt >piped.vsk 2>err || fail "filter"
  empty err
  "$vesk" -d <piped.vsk >back 2>err || fail "filter -d"
  empty err
  same back src/a.txt
  ;;
start-line-flushed)
  # With standard output going to a log, the start line appeared only after the run ended.
  mkfifo fifo
  text a.txt 2000
  "$vesk" -c fifo out.vsk >log 2>&1 &
  pid=$!
  exec 3>fifo  # the run now waits for the FIFO's data
  for _ in $(seq 50); do [ -s log ] && break; sleep 0.1; done
  has log "Compressing in frames"
  cat a.txt >&3
  exec 3>&-
  wait $pid || fail "the run through a FIFO failed"
  "$vesk" -d out.vsk back >log2 2>&1
  same back a.txt
  ;;
framed-progress)
  # A 2 MB pipe showed "frames 0 B 1s", with no percent, speed or time left.
  cat "$vesk" "$vesk" "$vesk" | head -c 1500000 >in.bin
  # On a terminal (script gives one), a file in frames: percent, speed and time left.
  VESK_PROGRESS_QUIET_MS=20 script -qec "$vesk -T2 --frame-size=256K in.bin framed.vsk" typescript >script.out
  tr '\r' '\n' <typescript >lines
  grep -qE '^frames [0-9.]+ [KM]B  [0-9]+%  [0-9.]+ [KM]B/s  [0-9hms]+ left' lines ||
    fail "no percent, speed and time left: $(sort -u lines | head -5)"
  # A pipe, whose size is unknown: the bytes done and the speed.
  VESK_PROGRESS_QUIET_MS=20 script -qec "cat in.bin | $vesk -T2 --frame-size=256K >piped.vsk" typescript2 >script.out
  tr '\r' '\n' <typescript2 >lines2
  grep -qE '^frames [0-9.]+ [KM]B  [0-9.]+ [KM]B/s' lines2 ||
    fail "no bytes and speed from a pipe: $(sort -u lines2 | head -5)"
  ;;
summary-and-list)
  # The run ended in silence, and there was no -l.
  text a.txt 30000
  expect_status 0 "$vesk" -v a.txt
  has err "a.txt -> a.txt.vsk: 30,000 -> "
  has err "%), text"
  has err "MB/s"
  expect_status 0 "$vesk" -q -T2 --frame-size=64K a.txt -o framed.vsk
  empty err
  printf 'old' >old.bin
  { printf '\0\0\0\0'; cat old.bin; } >old.vsk
  expect_status 0 "$vesk" -l a.txt.vsk framed.vsk old.vsk
  has out "text"
  has out "XXH3"
  has out "30000"
  grep -qE '^ +1  text +XXH3' out || fail "the framed archive's frames: $(cat out)"
  grep -qE 'default +none +7 +3' out || fail "the old archive: $(cat out)"
  has out "3 files"
  # On a terminal, the summary without -v.
  script -qec "$vesk -f a.txt" typescript >script.out
  has typescript "a.txt -> a.txt.vsk: 30,000 -> "
  ;;
process-substitution)
  # `vesk -c <(cmd) out.vsk` said "/dev/fd/63 is not a regular file".
  text a.txt 20000
  expect_status 0 bash -c "'$vesk' -c <(cat a.txt) out.vsk"
  expect_status 0 "$vesk" -d out.vsk back
  same back a.txt
  expect_status 0 bash -c "'$vesk' -d <(cat out.vsk) back2"
  same back2 a.txt
  ;;
one-memory-estimate)
  # Under ulimit -v 8000 vesk said a 1 KB file needs about 48 MB, but it ran under 12 MB.
  text small.txt 1000
  (ulimit -v 8000; "$vesk" -c small.txt small.vsk) >out 2>err
  has err "this file needs about "
  need=$(sed -n 's/.*needs about \([0-9.]*\) MB.*/\1/p' err | head -1)
  [ -n "$need" ] || fail "no figure in MB: $(cat err)"
  kb=$(awk -v m="$need" 'BEGIN { printf "%d", m * 1000000 / 1024 }')
  # The figure quoted is enough: the run fits under it.
  (ulimit -v "$kb"; "$vesk" -f -c small.txt small.vsk) >out 2>err || fail "it does not fit under the $need MB it quotes: $(cat err)"
  ;;
*)
  echo "unknown case $case_name"
  exit 2
  ;;
esac
exit $failed
