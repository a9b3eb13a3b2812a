# Sourced by the tests and scripts/run_main.sh: the statistics test server
# (tests/stats_server.py) that the installer posts to with --test-avro-srv.
#
#   write_stats_schema BIN FILE   writes the writer schema that BIN's
#                                 kavor_stats_schema.exe prints to FILE;
#                                 false (FILE left out) without that program
#   start_stats_server PORT DIR [SCHEMA] [ARGS...]
#                                 serves on 127.0.0.1:PORT (0: a free one),
#                                 recording into DIR; sets STATS_PORT,
#                                 STATS_RECORDS (decoded records, a JSON
#                                 line each), STATS_REQUESTS (a JSON line per
#                                 request) and STATS_SERVER_PID. ARGS go to
#                                 the server (--fail N, --status S...).
#                                 A fixed PORT held by someone else (another
#                                 build's tests on this machine) is waited
#                                 for, up to three minutes
#   stop_stats_server             ends it
#   stats_records EXPR [SESSION]  true when the Python expression EXPR holds
#                                 for the list R of decoded records (only
#                                 those of session guid SESSION when given:
#                                 others may reach a shared port), where
#                                 E(r) is a record's installer_event (an
#                                 empty dict when null) and T(r) its event
#                                 type
#   stats_python                  a python3 that has the avro module

declare -F wait_port_file >/dev/null ||
  source "$(dirname "${BASH_SOURCE[0]}")/e2e_lib.sh"

stats_python() {
  find_python 'import avro.io' \
    "no python3 with the avro module (python3-avro)"
}

write_stats_schema() {
  local bin="$1" file="$2"
  [ -f "$bin/kavor_stats_schema.exe" ] || return 1
  wine "$bin/kavor_stats_schema.exe" 2>/dev/null | tr -d '\r' >"$file.new" &&
    [ -s "$file.new" ] && mv "$file.new" "$file" && return 0
  rm -f "$file.new"
  return 1
}

start_stats_server() {
  local port="$1" dir="$2" schema="${3:-}" python port_file
  shift 3 2>/dev/null || shift $#
  python=$(stats_python) || return 1
  mkdir -p "$dir"
  STATS_RECORDS="$dir/stats_records.jsonl"
  STATS_REQUESTS="$dir/stats_requests.jsonl"
  port_file="$dir/stats_port"
  local schema_args=()
  [ -n "$schema" ] && schema_args=(--schema "$schema")
  : >"$STATS_RECORDS"
  : >"$STATS_REQUESTS"
  STATS_SERVER_PID=""
  # A minute (Python and its Avro module start slowly on a loaded machine);
  # STATS_START_TRIES shortens the wait for the tests.
  start_port_server "statistics server" "$port" "$port_file" \
    "$dir/stats_server.err" "${STATS_START_TRIES:-600}" \
    "$python" "$(dirname "${BASH_SOURCE[0]}")/stats_server.py" --port "$port" \
    "${schema_args[@]}" --output "$STATS_RECORDS" \
    --requests "$STATS_REQUESTS" --port-file "$port_file" "$@" || return 1
  STATS_SERVER_PID=$SERVER_PID
  STATS_PORT=$(cat "$port_file")
}

stats_records() {
  local python
  python=${STATS_PY:-$(stats_python)} || return 1
  "$python" - "$STATS_RECORDS" "$1" "${2:-}" <<'PY'
import json, sys
R = [json.loads(line) for line in open(sys.argv[1], encoding="utf-8")]
if sys.argv[3]:
    R = [r for r in R if r["identifiers"]["session_guid"] == sys.argv[3]]
def E(r): return r.get("installer_event") or {}
def T(r): return E(r).get("event_type")
sys.exit(0 if eval(sys.argv[2]) else 1)
PY
}

stop_stats_server() {
  if [ -n "${STATS_SERVER_PID:-}" ]; then
    kill "$STATS_SERVER_PID" 2>/dev/null || true
    wait "$STATS_SERVER_PID" 2>/dev/null || true
  fi
  STATS_SERVER_PID=""
  return 0
}
