#!/usr/bin/env bash
# The statistics test server on its own: framed datums are decoded with the
# writer schema given to it, broken frames and bodies are answered but noted
# as not decoded, and it fails the first requests when told to.
set -u
source "$(dirname "$0")/stats_server.sh"
WORK=$(mktemp -d)
trap 'stop_stats_server; rm -rf "$WORK"' EXIT
PYTHON=$(stats_python) || exit 1

# A small schema of the same kinds as the installer's: a union, an enum, a
# nested record.
cat >"$WORK/schema.json" <<'JSON'
{"type": "record", "name": "probe", "namespace": "", "fields": [
  {"name": "id", "type": ["null", "string"]},
  {"name": "when", "type": "long"},
  {"name": "event", "type": ["null", {"type": "record", "name": "event",
    "fields": [
      {"name": "event_type", "type": {"type": "enum", "name": "EventType",
        "symbols": ["autoupdate_failed", "controller_launched"]}},
      {"name": "counter", "type": ["null", "int"]}]}]},
  {"name": "blob", "type": ["null", "bytes"]}]}
JSON

start_stats_server 0 "$WORK/server" "$WORK/schema.json" --fail 2 || exit 1

"$PYTHON" - "$STATS_PORT" "$WORK/schema.json" "$STATS_RECORDS" \
  "$STATS_REQUESTS" <<'PY'
import io, json, socket, sys, urllib.error, urllib.request
import avro.io, avro.schema

port, schema_file, records_file, requests_file = sys.argv[1:]
schema = avro.schema.parse(open(schema_file).read())


def frame(datum, schema_id=293):
    out = io.BytesIO()
    avro.io.DatumWriter(schema).write(datum, avro.io.BinaryEncoder(out))
    return bytes([0]) + schema_id.to_bytes(4, "big") + out.getvalue()


def post(body, path="/v1/binary"):
    request = urllib.request.Request(
        "http://127.0.0.1:%s%s" % (port, path), data=body, method="POST",
        headers={"Content-Type": "application/avro-binary"})
    try:
        with urllib.request.urlopen(request) as reply:
            return reply.status
    except urllib.error.HTTPError as error:
        return error.code


def raw(head):
    """The status of a hand-written request, and whether the server closed
    the connection after answering it."""
    # A loaded machine may take seconds to answer: only a server that
    # keeps the connection for a minute is taken as keeping it.
    with socket.create_connection(("127.0.0.1", int(port)), timeout=60) as s:
        s.sendall(b"POST /v1/binary HTTP/1.1\r\nHost: x\r\n" + head +
                  b"\r\n")
        reply = b""
        try:
            while True:
                chunk = s.recv(4096)
                if not chunk:
                    return int(reply.split()[1]), True
                reply += chunk
        except socket.timeout:
            return int(reply.split()[1]) if reply else None, False


first = {"id": "u-1", "when": 1700000000000,
         "event": {"event_type": "controller_launched", "counter": None},
         "blob": None}
second = {"id": None, "when": -5,
          "event": {"event_type": "autoupdate_failed", "counter": 7},
          "blob": b"\x01\xff"}
statuses = [
    post(frame(first)),                 # failed on purpose
    post(frame(first)),                 # failed on purpose
    post(frame(second)),
    post(b""),                          # no frame
    post(frame(second, schema_id=292)),  # another schema
    post(frame(second) + b"\x00"),      # trailing byte
    post(frame(second)[:-1]),           # cut short
    post(frame(second), path="/v1/other"),
]
# Lengths that cannot be trusted are refused and the connection closed:
# what follows on it is not a request.
refused = [
    raw(b"Content-Length: abc\r\n\r\n"),
    raw(b"Content-Length: -5\r\n\r\n"),
    raw(b"\r\n"),
    raw(b"Transfer-Encoding: chunked\r\n\r\n0\r\n"),
]
expect_refused = [(400, True), (400, True), (411, True), (411, True)]
failures = []
def expect(what, got, wanted):
    if got != wanted:
        failures.append("%s: got %r, wanted %r" % (what, got, wanted))

expect("statuses", statuses, [500, 500, 201, 201, 201, 201, 201, 404])
expect("refused", refused, expect_refused)
records = [json.loads(line) for line in open(records_file)]
second["blob"] = "01ff"
expect("decoded records", records, [first, first, second])
requests = [json.loads(line) for line in open(requests_file)]
expect("requests noted", len(requests), len(statuses) + len(refused))
expect("undecoded", [("error" in r) for r in requests],
       [False, False, False, True, True, True, True, False] + [True] * 4)
expect("content types", {r["content_type"] for r in requests[:8]},
       {"application/avro-binary"})
expect("paths", requests[7]["path"], "/v1/other")
for failure in failures:
    print("FAIL:", failure)
sys.exit(1 if failures else 0)
PY
rc=$?
[ "$rc" = 0 ] || cat "$WORK/server/stats_server.err"

# A server that runs but never listens is ended when given up on, not left
# holding its port.
stop_stats_server
printf '#!/bin/sh\necho $$ >"%s"\nexec sleep 30\n' "$WORK/mute.pid" \
  >"$WORK/mute.sh"
chmod +x "$WORK/mute.sh"
stats_python() { echo "$WORK/mute.sh"; }
if STATS_START_TRIES=5 start_stats_server 0 "$WORK/mute" 2>/dev/null; then
  echo "FAIL: a server that does not listen was taken as started"
  rc=1
elif kill -0 "$(cat "$WORK/mute.pid")" 2>/dev/null; then
  echo "FAIL: a server that did not start was left running"
  kill "$(cat "$WORK/mute.pid")"
  rc=1
fi
[ "$rc" = 0 ] && echo "PASS: statistics server"
exit "$rc"
