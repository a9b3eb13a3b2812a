# Sourced by the end-to-end test scripts. Each case runs in a fresh Wine
# prefix, so that registry keys, scheduled tasks, shortcuts and files that
# one case leaves behind never reach another, and the installer runs inside
# a job object (kavor_job_runner.exe) that is waited for until its last
# process has ended.
#
# A front end that may send statistics waits at its end until its queue is
# sent or given up (the retries take about 12 s when nothing answers). Runs
# that do not look at the statistics pass --enable-installer-stats=0, the
# user's own choice not to send them: the queue is then dropped at once.
#
#   e2e_init EXE          once per script: EXE is kavor_setup.exe in the
#                         build tree; needs WINEPREFIX set to the build's
#                         prefix (ctest does that)
#   new_prefix NAME       starts case NAME: a copy of the template prefix,
#                         exported as WINEPREFIX, with its desktop held
#                         open until end_prefix; E2E_CASE is a scratch
#                         folder of the case (Unix path)
#   run_installer ARGS... runs EXE with ARGS through the job runner; sets RC,
#                         OUT and ERR. E2E_TEMP (Windows path) becomes TEMP
#                         and TMP, E2E_CWD (Windows path) the current folder,
#                         when set
#   run_in_job ARGS...    the same for any program: ARGS are the runner's
#   end_prefix            ends the case: kills the case's wineserver and
#                         removes the copy (new_prefix and the script's end
#                         call it too)
#   find_python CODE MESSAGE
#                         prints a python3 that runs CODE (its imports);
#                         false with MESSAGE on standard error when none does
#   own_display           starts an Xvfb of the test's own and exports its
#                         DISPLAY (ended with the script); false when none
#                         could be had
#   e2e_winpath PATH      the Windows form of an absolute Unix path, without
#                         starting Wine (drive Z: is the Unix root)
#   job_processes REPORT  the process lines of a runner's --report file,
#                         without the job line and without Wine's own
#                         desktop and service processes: one that a call
#                         inside the job started is no process of the test's
#                         (the runner does not wait for it and ends it with
#                         the job)
#   wait_port_file PID FILE TRIES
#                         waits up to TRIES tenths of a second for the
#                         server PID (a child of this shell) to write its
#                         port to FILE; fails when it ended first or never
#                         wrote it, and then ends it if it still runs
#   append_payload FILE DATA
#                         appends DATA to FILE as the installer's payload:
#                         "KVR", DATA, then DATA's length in bytes as a
#                         32-bit little-endian number
#   check WHAT CMD...     counts CMD's success in passed, else in failed
#   e2e_summary           the closing "N passed, N failed" line; fails when
#                         any check did
#   unix_path 'C:\A'      where a path of drive C: of the case lies (needs C,
#                         the case's drive_c)
#   registry_kavor_lines  the user's and machine's registry lines naming the
#                         product
#   registry MODE [ROOT...]
#                         the registry entries $STATUS records are all there
#                         (present) or gone (gone); see below
#   installed_differ EXPECTED ROOT VERSIONED
#                         the files of an unpacked package not installed
#                         byte for byte; see below

E2E_TIMEOUT_SECONDS=${E2E_TIMEOUT_SECONDS:-120}

e2e_init() {
  E2E_EXE="$1"
  E2E_BIN="$(cd "$(dirname "$E2E_EXE")" && pwd)"
  E2E_RUNNER="$E2E_BIN/kavor_job_runner.exe"
  E2E_BASE_PREFIX="${WINEPREFIX:?WINEPREFIX must name the build prefix}"
  E2E_TEMPLATE="$(dirname "$E2E_BASE_PREFIX")/e2e-template-prefix"
  E2E_WORK="$(mktemp -d)"
  E2E_PREFIX=""
  trap '_e2e_exit' EXIT
  export WINEDEBUG=-all
  export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
  _e2e_make_template || {
    echo "cannot make the template prefix $E2E_TEMPLATE" >&2
    exit 1
  }
}

passed=0
failed=0

wait_port_file() {
  local pid="$1" file="$2" tries="$3" i
  for i in $(seq "$tries"); do
    [ -s "$file" ] && return 0
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  [ -s "$file" ] && return 0
  # Alive but not listening: it must not keep the port once given up on.
  kill "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
  return 1
}

# start_port_server LABEL PORT PORT_FILE ERR_FILE TRIES COMMAND [ARGS...]
# Starts COMMAND (a server that writes the port it listens on into
# PORT_FILE) in the background with its errors in ERR_FILE, waiting TRIES
# tenths of a second for the port. A fixed PORT held by someone else
# (another build's tests on this machine, whose cases hold it for a whole
# install each) is tried again for up to three minutes. Sets SERVER_PID; on
# failure prints ERR_FILE under "the LABEL did not start".
start_port_server() {
  local label="$1" port="$2" port_file="$3" err_file="$4" tries="$5"
  local busy_until=$((SECONDS + 180))
  shift 5
  while :; do
    rm -f "$port_file"
    "$@" 2>"$err_file" &
    SERVER_PID=$!
    if wait_port_file "$SERVER_PID" "$port_file" "$tries"; then
      return 0
    fi
    SERVER_PID=""
    if [ "$port" = 0 ] || [ "$SECONDS" -ge "$busy_until" ] ||
      ! grep -q "Address already in use" "$err_file"; then
      echo "the $label did not start (no port in $port_file within" \
        "$((tries / 10)) s, or it ended):" >&2
      cat "$err_file" >&2
      return 1
    fi
    sleep 0.5
  done
}

append_payload() {
  local file="$1" data="$2" length
  length=$(printf '%s' "$data" | LC_ALL=C wc -c)
  {
    printf 'KVR%s' "$data"
    # shellcheck disable=SC2059
    printf "$(printf '\\%03o' $((length & 255)) $((length >> 8 & 255)) \
      $((length >> 16 & 255)) $((length >> 24 & 255)))"
  } >>"$file"
}

check() {
  local what="$1"
  shift
  if "$@"; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    echo "FAIL: $what"
    # What the case left behind, so that a failure seen once can be read.
    if [ -n "${E2E_CASE:-}" ]; then
      local log
      while IFS= read -r log; do
        echo "--- $log"
        head -n 40 "$log"
      done < <(find "$E2E_CASE" -path "$E2E_CASE/prefix" -prune -o \
        -name '*.log' -type f -print 2>/dev/null)
    fi
  fi
}

e2e_summary() {
  echo "$passed passed, $failed failed"
  [ "$failed" -eq 0 ]
}

_e2e_exit() {
  end_prefix
  # A display of the test's own (own_display) would keep the wait below
  # waiting for ever.
  [ -n "${E2E_XVFB_PID:-}" ] && kill "$E2E_XVFB_PID" 2>/dev/null
  wait
  rm -rf "$E2E_WORK"
}

find_python() {
  local candidate
  for candidate in /usr/bin/python3 python3; do
    if "$candidate" -c "$1" 2>/dev/null; then
      echo "$candidate"
      return 0
    fi
  done
  echo "$2" >&2
  return 1
}

own_display() {
  local n i
  for n in $(seq 140 199); do
    [ -e "/tmp/.X$n-lock" ] && continue
    Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
    E2E_XVFB_PID=$!
    # Until its socket is there, or it ended: another test may have taken
    # the number meanwhile, and its Xvfb won. A loaded machine takes
    # seconds to start one.
    for i in $(seq 600); do
      [ -e "/tmp/.X11-unix/X$n" ] && break
      kill -0 "$E2E_XVFB_PID" 2>/dev/null || break
      sleep 0.1
    done
    if kill -0 "$E2E_XVFB_PID" 2>/dev/null && [ -e "/tmp/.X11-unix/X$n" ]; then
      export DISPLAY=":$n"
      return 0
    fi
    if kill -0 "$E2E_XVFB_PID" 2>/dev/null; then
      echo "Xvfb :$n made no socket within a minute" >&2
      kill "$E2E_XVFB_PID" 2>/dev/null
      wait "$E2E_XVFB_PID" 2>/dev/null
    fi
    E2E_XVFB_PID=""
  done
  return 1
}

e2e_winpath() {
  local path="${1//\//\\}"
  printf 'Z:%s' "$path"
}

job_processes() {
  tr -d '\r' <"$1" | grep -v -i -E -e '^job ' \
    -e '^(explorer|services|winedevice|plugplay|svchost|rpcss)\.exe '
}

# The big program files of a prefix are shared between copies as hard
# links: nothing writes into them (a Wine update replaces them with the same
# content in every copy). Everything else is copied.
_e2e_shared='.*\.\(dll\|exe\|drv\|sys\|ocx\|cpl\|acm\|ax\|tlb\|nls\|msstyles\|ds\|com\)'

# Files in the users' Temp folders come and go while unit tests run in the
# build prefix; the template drops them anyway, so a copy that missed one
# of them is still whole.
_e2e_copy_prefix() {
  local from="$1" to="$2" errors
  errors=$({
    cp -al "$from" "$to"
    (cd "$from" && find . -type f ! -iregex "$_e2e_shared" ! -name 'reg*.tmp' -print0 |
      xargs -0 -r cp -a --reflink=auto --remove-destination --parents -t "$to")
  } 2>&1 >/dev/null | grep -v -E "/users/[^/]+/Temp/|/reg[0-9a-f]+\.tmp'")
  [ -z "$errors" ] || { echo "$errors" >&2; return 1; }
}

# The template is made once per test run (the run is ctest, the parent of
# each test script), under a lock, since ctest runs test scripts in
# parallel. The build prefix may be in use by the unit tests meanwhile;
# wineserver writes its registry files whole (a new file renamed over the
# old one), so a copy is consistent even then; the new file may vanish while
# the copy runs, and is none of the prefix's.
_e2e_make_template() {
  local run_id
  run_id="$PPID-$(cut -d' ' -f22 "/proc/$PPID/stat" 2>/dev/null)"
  (
    flock 9
    [ "$(cat "$E2E_TEMPLATE/.e2e-run" 2>/dev/null)" = "$run_id" ] && exit 0
    rm -rf "$E2E_TEMPLATE" "$E2E_TEMPLATE.new"
    _e2e_copy_prefix "$E2E_BASE_PREFIX" "$E2E_TEMPLATE.new" || exit 1
    local users="$E2E_TEMPLATE.new/drive_c/users"
    # Leftovers of the unit tests, and the user folders that Wine links to
    # the Unix home folder: a case must neither see nor reach them.
    find "$users" -mindepth 3 -maxdepth 3 -path '*/Temp/*' -exec rm -rf {} +
    local link
    for link in "$users"/*/*; do
      if [ -L "$link" ]; then
        rm "$link" && mkdir "$link"
      fi
    done
    echo "$run_id" >"$E2E_TEMPLATE.new/.e2e-run"
    mv "$E2E_TEMPLATE.new" "$E2E_TEMPLATE"
  ) 9>"$E2E_TEMPLATE.lock"
}

new_prefix() {
  end_prefix
  E2E_CASE="$E2E_WORK/$1"
  E2E_PREFIX="$E2E_CASE/prefix"
  mkdir -p "$E2E_CASE"
  (
    flock -s 9
    _e2e_copy_prefix "$E2E_TEMPLATE" "$E2E_PREFIX"
  ) 9>"$E2E_TEMPLATE.lock" || {
    echo "cannot copy the template prefix for $1" >&2
    exit 1
  }
  export WINEPREFIX="$E2E_PREFIX"
  unset E2E_TEMP E2E_CWD
  # The case's wineserver lives until end_prefix, and with it the desktop
  # process, which Wine would otherwise start inside the installer's job.
  # Wine closes a desktop a second after its last process has gone, and a
  # loaded machine may take that second before the case's first window: a
  # process of the case's own stays on the desktop until end_prefix ends
  # the wineserver, and so keeps the desktop open all along.
  wineserver -p
  # A loaded machine has been seen to miss the desktop's start now and then;
  # a second try in the same prefix tells that from a broken prefix.
  local try rc=0 waited
  for try in 1 2 3; do
    WINEDEBUG=err+all wine "$E2E_RUNNER" --hold-desktop \
      >"$E2E_CASE/desktop.log" 2>&1 &
    E2E_DESKTOP_PID=$!
    for waited in $(seq 600); do
      grep -q '^desktop ready' "$E2E_CASE/desktop.log" && return 0
      kill -0 "$E2E_DESKTOP_PID" 2>/dev/null || break
      sleep 0.1
    done
    rc=timeout
    if ! kill -0 "$E2E_DESKTOP_PID" 2>/dev/null; then
      wait "$E2E_DESKTOP_PID"
      rc=$?
    fi
    # Kept in the build tree, so that a try that needed a second one shows.
    { echo "== $1, try $try, exit $rc"; tail -n 20 "$E2E_CASE/desktop.log"; } \
      >>"$(dirname "$E2E_BASE_PREFIX")/e2e-desktop-retries.log"
    kill "$E2E_DESKTOP_PID" 2>/dev/null
    sleep 1
  done
  echo "cannot start the desktop in the prefix of $1 (exit $rc):" >&2
  tail -n 20 "$E2E_CASE/desktop.log" >&2
  exit 1
}

end_prefix() {
  [ -n "$E2E_PREFIX" ] || return 0
  # Wine's processes take most of a second to go; the next case need not
  # wait for that. -k9 would be quicker but leaves winedevice.exe behind.
  # Ending the wineserver ends the desktop holder too.
  (
    WINEPREFIX="$E2E_PREFIX" wineserver -k >/dev/null 2>&1
    rm -rf "$E2E_PREFIX"
  ) &
  E2E_PREFIX=""
  export WINEPREFIX="$E2E_BASE_PREFIX"
}

run_in_job() {
  local options=("--timeout-seconds=$E2E_TIMEOUT_SECONDS")
  if [ -n "${E2E_TEMP:-}" ]; then
    options+=("--env=TEMP=$E2E_TEMP" "--env=TMP=$E2E_TEMP")
  fi
  [ -n "${E2E_CWD:-}" ] && options+=("--current-directory=$E2E_CWD")
  wine "$E2E_RUNNER" "${options[@]}" "$@" >"$E2E_CASE/out" 2>"$E2E_CASE/err"
  RC=$?
  OUT=$(cat "$E2E_CASE/out"; printf x)
  OUT="${OUT%x}"
  ERR=$(cat "$E2E_CASE/err")
}

run_installer() {
  run_in_job -- "$(e2e_winpath "$E2E_EXE")" "$@"
}

# unix_path 'C:\A\B': where a path of drive C: of the case lies ($C, the
# case's drive_c).
unix_path() {
  local rest="${1#[Cc]:\\}"
  printf '%s/%s' "$C" "${rest//\\//}"
}

# The registry lines naming the product, user's and machine's.
registry_kavor_lines() {
  local key
  for key in HKCU 'HKLM\Software'; do
    wine reg export "$key" "$(e2e_winpath "$E2E_CASE/reg.txt")" /y \
      >/dev/null 2>&1 && iconv -f UTF-16LE -t UTF-8 "$E2E_CASE/reg.txt" |
      tr -d '\r' | grep -i -e kavor -e '^\[' | grep -i kavor
  done
  rm -f "$E2E_CASE/reg.txt"
}

# registry MODE [ROOT...]: the keys and values that the installation status
# ($STATUS) records are all there (MODE present) or all gone (MODE gone): a
# key recorded with a clean depth of 1 or more goes whole, of a key with
# depth 0 only the recorded values go. Reads exports of ROOT\Software (HKCU
# and HKLM by default); a record under a root not read is wrong too, as is
# a status that records nothing. Names what is wrong.
registry() {
  local mode="$1" root export out try
  shift
  local roots=("$@")
  [ ${#roots[@]} -gt 0 ] || roots=(HKCU HKLM)
  for root in "${roots[@]}"; do
    export="$E2E_CASE/${root}_$mode.reg"
    for try in 1 2 3; do
      out=$(wine reg export "$root\\Software" "$(e2e_winpath "$export")" /y 2>&1) &&
        break
    done
    [ -s "$export" ] || { echo "reg export $root: $out" >&2; return 1; }
  done
  python3 - "$STATUS" "$E2E_CASE" "$mode" "${roots[@]}" <<'PY'
import json, os, re, sys
status, case, mode = sys.argv[1:4]
roots = sys.argv[4:]
names = {"HKCU": "hkey_current_user", "HKLM": "hkey_local_machine"}
keys = {}
for root in roots:
    current = None
    with open(os.path.join(case, "%s_%s.reg" % (root, mode)),
              encoding="utf-16") as f:
        for line in f:
            line = line.rstrip("\r\n")
            if line.startswith("["):
                current = line[1:-1].lower()
                keys[current] = set()
                continue
            m = re.match(r'^"((?:[^"\\]|\\.)*)"=', line)
            if current is not None and m:
                keys[current].add(re.sub(r"\\(.)", r"\1", m.group(1)).lower())
            elif current is not None and line.startswith("@="):
                keys[current].add("")
records = json.load(open(status, encoding="utf-8"))["registry"]
wrong = ["records under %s, which was not read" % root
         for root in records if root not in roots]
count = 0
for root, entries in records.items():
    if root not in roots:
        continue
    for record in entries:
        count += 1
        key = names[root] + "\\" + record["path"].lower()
        # The machine's uninstall entries live in its 32-bit view; the
        # user's Software key has no such view.
        uninstall = "software\\microsoft\\windows\\currentversion\\uninstall\\"
        if root == "HKLM" and record["path"].lower().startswith(uninstall):
            key = names[root] + "\\software\\wow6432node\\" + record["path"].lower()[9:]
        values = [v["name"] for v in record["values"]]
        present = [n for n in values if n.lower() in keys.get(key, set())]
        if mode == "present":
            if key not in keys or len(present) != len(values):
                wrong.append("missing: %s\\%s %s" % (root, record["path"], values))
        elif record["clean"] >= 1 and key in keys:
            wrong.append("key left: %s\\%s" % (root, record["path"]))
        elif present:
            wrong.append("values left: %s\\%s %s" % (root, record["path"], present))
for line in wrong:
    print(line, file=sys.stderr)
sys.exit(1 if wrong or count == 0 else 0)
PY
}

# installed_differ EXPECTED ROOT VERSIONED: the files of the unpacked
# package EXPECTED that the installation does not hold byte for byte,
# blank-separated: launcher.exe and the files root_files_list names sit in
# ROOT, every other file in VERSIONED under its path; the lists themselves
# are not installed, and one left in VERSIONED is named with "(left)".
installed_differ() {
  local expected="$1" root="$2" versioned="$3" rel to differ="" roots
  roots=" launcher.exe $(tr -d '\r' <"$expected/root_files_list" | tr '\n' ' ')"
  while IFS= read -r rel; do
    rel="${rel#./}"
    case "$rel" in
      files_list | root_files_list)
        [ ! -e "$versioned/$rel" ] || differ="$differ $rel(left)"
        continue
        ;;
    esac
    to="$versioned/$rel"
    [[ "$roots" == *" $rel "* ]] && to="$root/$rel"
    cmp -s "$expected/$rel" "$to" || differ="$differ $rel"
  done < <(cd "$expected" && find . -type f)
  echo "$differ"
}
