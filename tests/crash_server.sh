# Sourced by the tests: the crash-report test service (tests/crash_server.py)
# that crash uploads are sent to (point the reporter at it with
# KAVOR_ALTERNATIVE_CRASH_SERVER_URL="$(crash_server_url)"; under Wine the
# reporter's chunked attempt arrives with "Content-Length: 0" beside the
# chunked coding, is refused with 400, and the report follows with its
# length). Wine's processes reach it on 127.0.0.1 like any other.
#
#   start_crash_server PORT DIR [ARGS...]
#                         serves on 127.0.0.1:PORT (0: a free one), noting
#                         into DIR; sets CRASH_PORT, CRASH_REQUESTS (one
#                         JSON line per request, see crash_server.py) and
#                         CRASH_SERVER_PID. ARGS go to the server
#                         (--save-dir D, --fail N, --fail-status S,
#                         --status S, --reply TEXT). A fixed PORT held by
#                         someone else is waited for, up to three minutes
#   stop_crash_server     ends it
#   crash_server_url [PATH]
#                         http://127.0.0.1:$CRASH_PORT/PATH (PATH default
#                         "upload")
#   crash_requests EXPR   true when the Python expression EXPR holds for the
#                         list R of request records; F(r) is a record's
#                         fields, FILES(r) its files (empty dicts when none)
#   wait_crash_requests COUNT [TENTHS]
#                         waits up to TENTHS tenths of a second (default
#                         300) until at least COUNT requests are noted
#   crash_python          the python3 to use

declare -F wait_port_file >/dev/null ||
  source "$(dirname "${BASH_SOURCE[0]}")/e2e_lib.sh"

CRASH_SERVER_PY="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/crash_server.py"

crash_python() {
  find_python 'import http.server, email.policy' "no python3"
}

start_crash_server() {
  local port="$1" dir="$2" python port_file
  shift 2
  python=$(crash_python) || return 1
  mkdir -p "$dir"
  CRASH_REQUESTS="$dir/crash_requests.jsonl"
  port_file="$dir/crash_port"
  : >"$CRASH_REQUESTS"
  CRASH_SERVER_PID=""
  # Ten seconds; CRASH_START_TRIES shortens the wait for the tests.
  start_port_server "crash server" "$port" "$port_file" \
    "$dir/crash_server.err" "${CRASH_START_TRIES:-100}" \
    "$python" "$CRASH_SERVER_PY" --port "$port" --requests "$CRASH_REQUESTS" \
    --port-file "$port_file" "$@" || return 1
  CRASH_SERVER_PID=$SERVER_PID
  CRASH_PORT=$(cat "$port_file")
}

crash_server_url() {
  printf 'http://127.0.0.1:%s/%s' "$CRASH_PORT" "${1:-upload}"
}

crash_requests() {
  local python
  python=$(crash_python) || return 1
  "$python" - "$CRASH_REQUESTS" "$1" <<'PY'
import json, sys
R = [json.loads(line) for line in open(sys.argv[1], encoding="utf-8")]
def F(r): return r.get("fields") or {}
def FILES(r): return r.get("files") or {}
sys.exit(0 if eval(sys.argv[2]) else 1)
PY
}

wait_crash_requests() {
  local count="$1" tenths="${2:-300}" i
  for i in $(seq "$tenths"); do
    [ "$(wc -l <"$CRASH_REQUESTS")" -ge "$count" ] && return 0
    sleep 0.1
  done
  [ "$(wc -l <"$CRASH_REQUESTS")" -ge "$count" ]
}

stop_crash_server() {
  if [ -n "${CRASH_SERVER_PID:-}" ]; then
    kill "$CRASH_SERVER_PID" 2>/dev/null || true
    wait "$CRASH_SERVER_PID" 2>/dev/null || true
  fi
  CRASH_SERVER_PID=""
  return 0
}
