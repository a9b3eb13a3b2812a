#!/usr/bin/env bash
# The wizard in right-to-left, East Asian and long-worded languages, as a user
# sees it: kavor_setup.exe started with --language shows its welcome and
# options pages in that language, every visible control inside the window,
# clear of its neighbours and drawing the text it reads back (the driver's
# screenshot --shown), the accept button and the statistics check box
# reading that language's texts; closing and answering the quit box Yes ends
# it. The package request hangs meanwhile: nothing is installed. Screenshots
# go to artifacts/screenshots as wizard_LANGUAGE_PAGE.bmp and .png.
set -u
source "$(dirname "$0")/e2e_lib.sh"
source "$(dirname "$0")/network_package.sh"
source "$(dirname "$0")/update_server.sh"
source "$(dirname "$0")/stats_server.sh"
source "$(dirname "$0")/ui_driver.sh"
e2e_init "$1"
trap 'stop_update_server; stop_stats_server; _e2e_exit' EXIT

STRINGS="$(cd "$(dirname "$0")/.." && pwd)/desktop/windows/l10n_handler/installer_strings.json"
network_signing_keys "$E2E_BIN" || exit 1
SETUP="$E2E_WORK/setup"
make_signed_setup "$E2E_BIN" "$SETUP" || exit 1
STATS_PY=$(stats_python) || exit 1

# ui_string NAME LANGUAGE: the text of string NAME in LANGUAGE.
ui_string() {
  python3 - "$STRINGS" "$1" "$2" <<'PY'
import json, sys
table = json.load(open(sys.argv[1], encoding="utf-8"))
for entry in table["strings"]:
    if entry["name"] == sys.argv[2]:
        sys.stdout.write(entry["text"][sys.argv[3]])
PY
}

for language in ar he ja fil; do
  new_prefix "$language"
  C="$WINEPREFIX/drive_c"
  trust_test_root "$E2E_BIN" >"$E2E_CASE/trust.log" 2>&1 ||
    { cat "$E2E_CASE/trust.log"; exit 1; }
  mkdir -p "$C/dl" "$E2E_CASE/www"
  cp "$SETUP/kavor_setup.exe" "$SETUP/kavor_installer.dll" "$C/dl/"
  echo '/kavor_package.exe 200 silent' >"$E2E_CASE/script"
  : >"$E2E_CASE/www/metadata"
  stop_update_server
  start_update_server "$E2E_CASE/www" "$E2E_CASE/script" || exit 1
  URL="http://127.0.0.1:$UPDATE_PORT"
  package_metadata_json "$URL/kavor_package.exe" \
    "$(printf 'never served' | sha256sum | cut -d' ' -f1)" \
    >"$E2E_CASE/www/metadata"
  stop_stats_server
  start_stats_server 9000 "$E2E_CASE/stats" "" || exit 1
  for page in welcome options; do
    rm -f "$(screenshot_path "wizard_${language}_$page")"
  done
  run_in_background wizard run_in_job -- 'C:\dl\kavor_setup.exe' \
    "--language=$language" "--internal-package-server=$URL/metadata" \
    "--local-pref-default-overrides-server=$URL/prefs" --test-avro-srv
  drive --timeout=120 wait-window wait-control 1003 --visible --enabled \
    screenshot "wizard_${language}_welcome" --shown text 1003
  check "$language: the welcome page is shown whole (rc $DRIVE_RC: $DRIVE_ERR)" \
    [ "$DRIVE_RC" = 0 ]
  ACCEPT=$(ui_string IDS_ACCEPT_AND_INSTALL "$language")
  check "$language: Accept reads \"$ACCEPT\" ($DRIVE_OUT)" \
    [ "$(tail -n 1 <<<"$DRIVE_OUT")" = "$ACCEPT" ]
  drive click 1001 wait-control 1201 --visible wait-control 1210 --visible \
    wait-control 1001 --hidden screenshot "wizard_${language}_options" --shown \
    text 1210
  check "$language: the options page is shown whole (rc $DRIVE_RC: $DRIVE_ERR)" \
    [ "$DRIVE_RC" = 0 ]
  STATS=$(ui_string IDS_SHARE_USAGE_DATA "$language")
  check "$language: the statistics option reads \"$STATS\" ($DRIVE_OUT)" \
    [ "$(tail -n 1 <<<"$DRIVE_OUT")" = "$STATS" ]
  for page in welcome options; do
    png=$(screenshot_path "wizard_${language}_$page")
    png="${png%.bmp}.png"
    check "$language: the $page screenshot kept as a PNG" \
      [ "$(head -c 4 "$png" 2>/dev/null | tail -c 3)" = PNG ]
  done
  drive --timeout=90 close wait-messagebox answer-messagebox IDYES wait-gone
  check "$language: closed and quit (rc $DRIVE_RC: $DRIVE_ERR)" \
    [ "$DRIVE_RC" = 0 ]
  background_ended wizard
  check "$language: nothing installed" \
    [ ! -e "$C/Program Files/Kavor developer" ]
  [ "$failed" = 0 ] || { echo "--- drive"; cat "$E2E_CASE/drive.log"; }
done

e2e_summary
