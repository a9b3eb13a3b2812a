#!/usr/bin/env bash
# The wizard driver (kavor_ui_driver.exe) against its own test dialog, in
# another process as the installer's window is: it finds the window, reads
# and waits for controls, clicks, answers the message box the window owns,
# takes screenshots and sees the window go. A control that never gets into
# the state waited for, a disabled control, a click into a window that a
# box has disabled and a box that is not there end it with 1 and name what
# it waited for; bad usage ends it with 2.
set -u
source "$(dirname "$0")/e2e_lib.sh"
source "$(dirname "$0")/ui_driver.sh"
e2e_init "$1"

has() { grep -qF -- "$2" <<<"$1"; }

# start_dialog NAME: case NAME with the test dialog up.
start_dialog() {
  new_prefix "$1"
  wine "$E2E_BIN/kavor_ui_driver.exe" --test-dialog >"$E2E_CASE/dialog.out" \
    2>&1 &
  DIALOG_PID=$!
}
# dialog_ended: waits for the dialog's process; sets DIALOG_RC, DIALOG_OUT.
dialog_ended() {
  wait "$DIALOG_PID"
  DIALOG_RC=$?
  DIALOG_OUT=$(tr -d '\r' <"$E2E_CASE/dialog.out")
}

# --- A whole flow, as the interactive tests use the driver.
start_dialog flow
rm -f "$(screenshot_path ui_driver_welcome)" "$(screenshot_path ui_driver_box)"
drive --timeout=60 wait-window screenshot ui_driver_welcome --shown
check "flow: the window found (rc $DRIVE_RC: $DRIVE_ERR)" [ "$DRIVE_RC" = 0 ]
check "flow: the window named by its title ($DRIVE_OUT)" \
  has "$DRIVE_OUT" 'window "Driver test" of kavor_ui_driver.exe'
check "flow: the welcome screenshot is drawn" screenshot_drawn ui_driver_welcome
drive click 1001 wait-control 1201 --visible --enabled wait-control 1001 \
  --hidden text 1100 info 1201 info 1005
check "flow: options shown (rc $DRIVE_RC: $DRIVE_ERR)" [ "$DRIVE_RC" = 0 ]
check "flow: the status text read ($DRIVE_OUT)" \
  [ "$(head -n 1 <<<"$DRIVE_OUT")" = options ]
check "flow: Back's state, and nothing covers it ($DRIVE_OUT)" \
  grep -qE '^1201 Button visible enabled style=[0-9a-f]{8} rect=[-0-9,]+ on_top=1201$' <<<"$DRIVE_OUT"
check "flow: the disabled button's state ($DRIVE_OUT)" \
  grep -qE '^1005 Button visible disabled ' <<<"$DRIVE_OUT"
drive click 1201 wait-text 1100 welcome click 1003 wait-messagebox \
  screenshot ui_driver_box --messagebox answer-messagebox IDNO \
  wait-text 1100 declined
check "flow: back, accept, declined (rc $DRIVE_RC: $DRIVE_ERR)" [ "$DRIVE_RC" = 0 ]
check "flow: the box's text printed ($DRIVE_OUT)" \
  has "$DRIVE_OUT" 'message box "Really accept?"'
check "flow: the box screenshot is drawn" screenshot_drawn ui_driver_box 80 60
check "flow: the dialog still up after No" kill -0 "$DIALOG_PID"
drive --timeout=1 wait-gone
check "flow: wait-gone times out while the window stays (rc $DRIVE_RC)" \
  [ "$DRIVE_RC" = 1 ]
check "flow: the time-out says what it waited for ($DRIVE_ERR)" \
  has "$DRIVE_ERR" "waiting for the window to close"
drive click 1003 answer-messagebox IDYES wait-gone
check "flow: accepted and gone (rc $DRIVE_RC: $DRIVE_ERR)" [ "$DRIVE_RC" = 0 ]
dialog_ended
check "flow: the dialog ended with 0 (got $DIALOG_RC)" [ "$DIALOG_RC" = 0 ]
check "flow: the dialog saw Yes ($DIALOG_OUT)" [ "$DIALOG_OUT" = accepted ]

# --- What the driver refuses to do, or waits for in vain.
start_dialog refusals
drive wait-window
check "refusals: the window found (rc $DRIVE_RC: $DRIVE_ERR)" [ "$DRIVE_RC" = 0 ]
drive --timeout=1 click 1005
check "refusals: a disabled control is not clicked (rc $DRIVE_RC)" \
  [ "$DRIVE_RC" = 1 ]
check "refusals: ... and named ($DRIVE_ERR)" \
  has "$DRIVE_ERR" "control 1005 to be visible enabled"
drive --timeout=1 click 1201
check "refusals: a hidden control is not clicked (rc $DRIVE_RC)" \
  [ "$DRIVE_RC" = 1 ]
drive wait-control 1100 wait-control 4242 --timeout=1
check "refusals: a missing control is waited for in vain (rc $DRIVE_RC)" \
  [ "$DRIVE_RC" = 1 ]
check "refusals: ... and named ($DRIVE_ERR)" \
  has "$DRIVE_ERR" "control 4242 to exist"
drive --timeout=1 answer-messagebox IDYES
check "refusals: no box to answer (rc $DRIVE_RC)" [ "$DRIVE_RC" = 1 ]
check "refusals: ... and named ($DRIVE_ERR)" \
  has "$DRIVE_ERR" "message box owned by the window"
drive --timeout=1 --process=installer.exe wait-window
check "refusals: another process's window is not taken (rc $DRIVE_RC)" \
  [ "$DRIVE_RC" = 1 ]
check "refusals: ... and the process named ($DRIVE_ERR)" \
  has "$DRIVE_ERR" "control 1003 of installer.exe"
drive click 1003 wait-messagebox
check "refusals: the box is up (rc $DRIVE_RC: $DRIVE_ERR)" [ "$DRIVE_RC" = 0 ]
drive --timeout=1 click 1001
check "refusals: no click into a window a box disabled (rc $DRIVE_RC)" \
  [ "$DRIVE_RC" = 1 ]
check "refusals: ... and said so ($DRIVE_ERR)" has "$DRIVE_ERR" "stays disabled"
# A window that goes ends the wait for its control at once, and says so,
# whether it goes before the wait begins or during it.
drive answer-messagebox 7 close wait-control 4242
check "refusals: No by number, closed, and the wait ended (rc $DRIVE_RC)" \
  [ "$DRIVE_RC" = 1 ]
check "refusals: ... saying the window went ($DRIVE_ERR)" \
  has "$DRIVE_ERR" "the window is gone"
dialog_ended
check "refusals: the dialog was closed (got $DIALOG_RC: $DIALOG_OUT)" \
  [ "$DIALOG_RC" = 3 -a "$DIALOG_OUT" = closed ]

# --- Bad usage: nothing is waited for.
# A bad command late in the list stops the run before the first waits.
for usage in "click" "click 1001 1002" "frobnicate" "answer-messagebox IDMAYBE" \
  "--timeout=1 wait-window click" \
  "--timeout=0 wait-window" "screenshot" "wait-control 1003 --shiny" \
  "screenshot x --shown --shown"; do
  # shellcheck disable=SC2086 # the words are separate on purpose
  drive $usage
  check "usage: '$usage' ends with 2 (got $DRIVE_RC: $DRIVE_ERR)" \
    [ "$DRIVE_RC" = 2 ]
done

e2e_summary
