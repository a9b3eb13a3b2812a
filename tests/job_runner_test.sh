#!/usr/bin/env bash
# kavor_job_runner.exe, which the end-to-end tests start the installer with:
# it waits for every process of the job, not only the first, and exits with
# the first one's code; it kills what outlives its timeout; it hands the
# arguments over unchanged.
set -u
source "$(dirname "$0")/e2e_lib.sh"
e2e_init "$1"
RUNNER_W=$(e2e_winpath "$E2E_RUNNER")
CHILD_W=$(e2e_winpath "$E2E_BIN/kavor_test_child.exe")
EXIT_TIMEOUT=250  # kavor_job_runner_main.cc

# Standard output goes to a file, so the grandchild's text is there only
# when the runner has waited for the grandchild.
new_prefix grandchild
run_in_job -- "$RUNNER_W" --test-spawn-and-exit=7 -- \
  "$RUNNER_W" --test-delayed-print=late
check "grandchild waited for (output \"$OUT\")" [ "$OUT" = late ]
check "first process's exit code (got $RC)" [ "$RC" = 7 ]

# The runner's clock starts once the first process is in the job, so that
# process is what the time-out finds, however slowly the machine starts
# programs (a program that started another first may still be starting it
# a second later).
new_prefix timeout
run_in_job --timeout-seconds=1 -- "$CHILD_W" sleep
check "timeout exit code (got $RC)" [ "$RC" = $EXIT_TIMEOUT ]
check "timeout names what was left ($ERR)" \
  grep -q 'still running after 1 s, killed: kavor_test_child.exe' <<<"$ERR"

new_prefix quoting
arg='a\"b" c\ d\\'
run_in_job -- "$CHILD_W" print "$arg"
check "argument unchanged (got \"$OUT\")" [ "$OUT" = "$arg" ]

REPORT="$E2E_CASE/report.txt"
run_in_job "--report=$(e2e_winpath "$REPORT")" -- "$CHILD_W" exit 3
check "report names each process with its exit code ($(cat "$REPORT" 2>/dev/null))" \
  grep -q '^kavor_test_child\.exe exit=3 ' "$REPORT"

# True while the case's desktop process (explorer.exe) runs.
case_desktop_running() {
  local pid
  for pid in $(pgrep -f 'explorer\.exe'); do
    tr '\0' '\n' <"/proc/$pid/environ" 2>/dev/null |
      grep -qx "WINEPREFIX=$E2E_PREFIX" && return 0
  done
  return 1
}

# Wine closes a desktop a second after its last process has gone; the next
# window starts the desktop process again, inside the job that asked for
# it. The runner leaves Wine's own processes out of what it waits for.
new_prefix desktop-gone
kill "$E2E_DESKTOP_PID"
for _ in $(seq 600); do
  case_desktop_running || break
  sleep 0.1
done
check "the desktop closed once nobody held it" eval '! case_desktop_running'
# The bound only has to outlast the desktop's new start, which takes
# seconds on a loaded machine.
run_in_job --timeout-seconds=60 -- "$RUNNER_W" --prepare-desktop
check "a desktop restarted in the job is not waited for (got $RC, $ERR)" \
  [ "$RC" = 0 ]

e2e_summary
