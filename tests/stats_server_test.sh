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
      {"name": "counter", "type": ["null", "int"]}]}]}]}
JSON

start_stats_server 0 "$WORK/server" "$WORK/schema.json" --fail 2 || exit 1

"$PYTHON" - "$STATS_PORT" "$WORK/schema.json" "$STATS_RECORDS" \
  "$STATS_REQUESTS" <<'PY'
import io, json, sys, urllib.error, urllib.request
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


first = {"id": "u-1", "when": 1700000000000,
         "event": {"event_type": "controller_launched", "counter": None}}
second = {"id": None, "when": -5,
          "event": {"event_type": "autoupdate_failed", "counter": 7}}
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
failures = []
def expect(what, got, wanted):
    if got != wanted:
        failures.append("%s: got %r, wanted %r" % (what, got, wanted))

expect("statuses", statuses, [500, 500, 201, 201, 201, 201, 201, 404])
records = [json.loads(line) for line in open(records_file)]
expect("decoded records", records, [first, first, second])
requests = [json.loads(line) for line in open(requests_file)]
expect("requests noted", len(requests), len(statuses))
expect("undecoded", [("error" in r) for r in requests],
       [False, False, False, True, True, True, True, False])
expect("content types", {r["content_type"] for r in requests},
       {"application/avro-binary"})
expect("paths", requests[-1]["path"], "/v1/other")
for failure in failures:
    print("FAIL:", failure)
sys.exit(1 if failures else 0)
PY
rc=$?
[ "$rc" = 0 ] && echo "PASS: statistics server" || cat "$WORK/server/stats_server.err"
exit "$rc"
