#!/usr/bin/env bash
# Installations that an older installer made describe themselves in the
# legacy install log, installation_status.xml, instead of the JSON status.
# The test makes one from an installation of the test package: the same
# files, keys and shortcuts, the JSON status written out as the install log
# and then removed. An upgrade over it keeps the install log in old_status,
# and the next upgrade removes the files it lists, and then the log itself.
# An uninstall of such an installation removes everything, the install log
# included, so that the folder no longer reads as an installation.
set -u
source "$(dirname "$0")/local_install.sh"
local_install_init "$1"
export KAVOR_INSTALLER_VERBOSITY=1

# to_legacy: the installation's JSON status rewritten as the install log,
# and removed.
to_legacy() {
  python3 - "$UROOT/installation_status.json" \
    "$UROOT/installation_status.xml" <<'PY' && rm "$UROOT/installation_status.json"
import json, sys
from xml.sax.saxutils import escape, quoteattr
s = json.load(open(sys.argv[1], encoding="utf-8-sig"))
def flag(v):
    return '"True"' if v else '"False"'
def files(name, entries):
    return "<%s>%s</%s>" % (name, "".join("<file>%s</file>" % escape(f)
                                          for f in entries), name)
out = ["<install_log version=%s app_id=%s copy_only=%s all_users=%s>" % (
           quoteattr(s["version"]), quoteattr(s.get("app_id", "")),
           flag(s["copy_only"]), flag(s["_all_users"])),
       "<path subfolder=%s>%s</path>" % (quoteattr(s["_subfolder"]),
                                         escape(s["path"])),
       files("files", s["files"])]
if s.get("root_files"):
    out.append(files("root_files", s["root_files"]))
for hive, keys in s.get("registry", {}).items():
    if not keys:
        continue
    out.append('<registry hive="%s">' % hive)
    for key in keys:
        out.append("<key path=%s clean=\"%d\">%s</key>" % (
            quoteattr(key["path"]), key["clean"],
            "".join("<value name=%s type=%s>%s</value>" % (
                quoteattr(v["name"]), quoteattr(v["type"]), escape(v["data"]))
                for v in key["values"])))
    out.append("</registry>")
for kind, path in s.get("shortcuts", {}).items():
    out.append("<shortcut type=%s>%s</shortcut>" % (quoteattr(kind),
                                                    escape(path)))
components = s.get("components") or {}
if components:
    out.append("<components>%s</components>" % "".join(
        "<component><name>%s</name><path>%s</path></component>" % (
            escape(name), escape(path)) for name, path in components.items()))
out.append("</install_log>")
open(sys.argv[2], "w", encoding="ascii").write("\n".join(out) + "\n")
PY
}

# upgrade: the package's setup again into the folder; LOG holds what its
# processes logged.
upgrade() {
  rm -rf "$E2E_CASE/temp/Kavor Installer"
  run_setup
  LOG=$(cat "$E2E_CASE/temp/Kavor Installer"/kavor_installer_*.log 2>/dev/null)
}
# old_status_files: the names in old_status, one a line.
old_status_files() { ls "$UROOT/old_status" 2>/dev/null; }
status_subfolder() {
  python3 -c 'import json,sys; print(json.load(open(sys.argv[1], encoding="utf-8-sig"))["_subfolder"])' \
    "$UROOT/installation_status.json"
}
# version_files STATUS: the files of the version folder that the status
# (JSON) lists, as Windows paths.
version_files() {
  python3 - "$1" "$ROOT" <<'PY'
import json, sys
s = json.load(open(sys.argv[1], encoding="utf-8-sig"))
for f in s["files"]:
    print("%s\\%s\\%s" % (sys.argv[2], s["_subfolder"], f))
PY
}

# --- Two upgrades over a legacy installation.
install upgrade
FIRST="$E2E_CASE/first_status.json"
cp "$STATUS" "$FIRST"
to_legacy
check "the install log written" [ -s "$UROOT/installation_status.xml" ]
mapfile -t FIRST_FILES < <(version_files "$FIRST")
upgrade
check "first upgrade: exit 0 (got $RC: $ERR)" [ "$RC" = 0 ]
check "first upgrade: Operation 2" grep -qF "Operation: 2" <<<"$LOG"
check "first upgrade: the legacy status read" \
  grep -qF "installation_status.xml" <<<"$LOG"
check "first upgrade: a new version folder ($(status_subfolder))" \
  [ "$(status_subfolder)" = "${VERSION}_0" ]
check "first upgrade: the install log kept in old_status ($(old_status_files | tr '\n' ' '))" \
  grep -qxE 'installation_status\.xml\.[0-9]+' <(old_status_files)
check "first upgrade: no install log left beside the status" \
  all_gone "$ROOT\\installation_status.xml"
check "first upgrade: the legacy installation's files still there" \
  all_there "${FIRST_FILES[@]}"
[ "$failed" = 0 ] || { echo "--- log"; tail -n 60 <<<"$LOG"; }

upgrade
check "second upgrade: exit 0 (got $RC: $ERR)" [ "$RC" = 0 ]
check "second upgrade: the install log read from old_status" \
  grep -qE "Found old status file: .*installation_status\.xml\.[0-9]+" <<<"$LOG"
check "second upgrade: the legacy installation's files removed" \
  all_gone "${FIRST_FILES[@]}" "$ROOT\\$VERSION"
check "second upgrade: only the first upgrade's status in old_status ($(old_status_files | tr '\n' ' '))" \
  grep -qxE 'installation_status\.json\.[0-9]+' <(old_status_files)
check "second upgrade: one status in old_status" \
  [ "$(old_status_files | wc -l)" = 1 ]
check "second upgrade: the browser in place" \
  all_there "$ROOT\\$(status_subfolder)\\kavor.exe" "$ROOT\\launcher.exe"
[ "$failed" = 0 ] || { echo "--- log"; tail -n 60 <<<"$LOG"; }

# --- The uninstall of a legacy installation.
install uninstall
to_legacy
before_uninstall HKCU
uninstall
check_uninstalled uninstall HKCU
check "uninstall: the install log gone" all_gone "$ROOT\\installation_status.xml"
check "uninstall: nothing left but the batch's share ($(leftovers | tr '\n' ' '))" \
  [ -z "$(leftovers)" ]

e2e_summary
