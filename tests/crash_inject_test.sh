#!/usr/bin/env bash
# kavor_crash_inject.exe, the tool that crashes installer processes from
# outside in the end-to-end crash tests: it finds a parent's children with
# their full command lines, waits for one to appear, and a process it crashes
# ends with the exception's code when no handler of its own catches it.
#   crash_inject_test.sh PATH/TO/kavor_setup.exe
set -u
source "$(dirname "$0")/e2e_lib.sh"
e2e_init "$1"
INJECT="$E2E_BIN/kavor_crash_inject.exe"
TARGET="$E2E_BIN/kavor_crash_target.exe"

new_prefix inject

# start_target NAME ARGS...: a kavor_crash_target parent in the background;
# sets PARENT (its Windows id) once it printed it, and the output file
# $E2E_CASE/NAME.out, where "child C" follows.
start_target() {
  local name="$1" i
  shift
  wine "$TARGET" parent "$@" >"$E2E_CASE/$name.out" 2>&1 &
  for i in $(seq 600); do
    grep -q '^pid ' "$E2E_CASE/$name.out" && break
    sleep 0.1
  done
  PARENT=$(sed -n 's/^pid //p' "$E2E_CASE/$name.out" | tr -d '\r')
}

# line_of NAME WORD: the rest of the line of NAME's output starting WORD,
# once it is there (a minute at most).
line_of() {
  local i
  for i in $(seq 600); do
    grep -q "^$2 " "$E2E_CASE/$1.out" && break
    sleep 0.1
  done
  sed -n "s/^$2 //p" "$E2E_CASE/$1.out" | tr -d '\r'
}

inject() {
  wine "$INJECT" "$@" >"$E2E_CASE/inject.out" 2>"$E2E_CASE/inject.err"
  RC=$?
  OUT=$(tr -d '\r' <"$E2E_CASE/inject.out")
}

# The child starts 1.5 s after its parent printed its id: the search must
# wait for it.
start_target first --delay-ms=1500 --tag=inject-1 "two words"
check "the first parent printed its id" test -n "$PARENT"
inject --find-child-of="$PARENT" --command-line-contains="two words"
CHILD=$(line_of first child)
check "the child found once it came (exit $RC, '$OUT' for '$CHILD')" \
  test "$RC" = 0 -a -n "$CHILD" -a "$OUT" = "$CHILD"
# The tests find the installer from the process that Wine started from the
# Unix side: it has no parent.
inject --find-child-of=0 --command-line-contains="--tag=inject-1"
check "a process started from the Unix side is a child of 0 ('$OUT')" \
  test "$RC" = 0 -a "$OUT" = "$PARENT"
inject --list-children="$PARENT"
expected="$CHILD	kavor_crash_target.exe	$(line_of first child-command-line)"
check "the child listed with its whole command line: '$OUT'" \
  test "$RC" = 0 -a "$OUT" = "$expected"
inject --list-children="$CHILD"
check "a process without children lists none" test "$RC" = 0 -a -z "$OUT"
inject --find-child-of="$PARENT" --command-line-contains=absent --wait-ms=300
check "no child with other words found (exit $RC)" test "$RC" = 1 -a -z "$OUT"
inject --crash="$CHILD"
check "an access violation ends the child with its code ('$OUT')" \
  test "$RC" = 0 -a "$OUT" = 0xc0000005
check "its parent saw the same exit code" \
  test "$(line_of first child-exit)" = 0xc0000005

start_target second --tag=inject-2
CHILD=$(line_of second child)
inject --crash="$CHILD" --kind=breakpoint
check "a breakpoint ends the child with its code ('$OUT')" \
  test "$RC" = 0 -a "$OUT" = 0x80000003
check "its parent saw the same exit code" \
  test "$(line_of second child-exit)" = 0x80000003

inject --crash="$CHILD"
check "an ended process cannot be crashed (exit $RC)" test "$RC" = 3
inject --crash="$PARENT" --list-children="$PARENT"
check "two modes at once are refused (exit $RC)" test "$RC" = 2
inject --crash="$PARENT" --kind=stack-overflow
check "an unknown kind is refused (exit $RC)" test "$RC" = 2
e2e_summary
