#!/usr/bin/env bash
# The print-only roles answer before anything else is set up: exact text, no
# line end, exit code 0.
set -u
source "$(dirname "$0")/e2e_lib.sh"
e2e_init "$1"
# The installer's exit codes (installer_main.cc).
EXIT_SUCCESS=0

expect() {
  local want_out="$1" want_rc="$2"
  shift 2
  new_prefix "case$((passed + failed))"
  run_installer "$@"
  if [ "$OUT" == "$want_out" ] && [ "$RC" == "$want_rc" ]; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    printf 'FAIL: kavor_setup.exe %s: got "%s" (exit %s), want "%s" (exit %s)\n' \
      "$*" "$OUT" "$RC" "$want_out" "$want_rc"
  fi
}

expect "47.0.4127.0" $EXIT_SUCCESS --version
expect "4127.0" $EXIT_SUCCESS --internal-version
expect "developer" $EXIT_SUCCESS --stream
expect "47.0.4127.0" $EXIT_SUCCESS --version --help
expect "47.0.4127.0" $EXIT_SUCCESS /version
expect "4127.0" $EXIT_SUCCESS --stream --internal-version
expect "47.0.4127.0" $EXIT_SUCCESS --internal-version --version

# The folder-permission process always ends with 0; without a user, or
# without a backend's events to answer, it changes nothing.
for user in "" "--permissions-for-user=Everyone"; do
  expect "" $EXIT_SUCCESS '--set-folder-permission=C:\kavor_p' $user
  check "no folder made ($user)" test ! -e "$WINEPREFIX/drive_c/kavor_p"
done

e2e_summary
