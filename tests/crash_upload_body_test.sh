#!/usr/bin/env bash
# Crash upload bodies as a server reads them: kavor_upload_client.exe builds
# each case's body with the reporter's multipart builder and posts it under
# Wine through the reporter's transport; the crash test service
# (crash_server.py) parses it with Python's own multipart reader, and the
# fields and file contents it found must be exactly those the client put in.
# The chunked framing the transport would send is decoded here too.
#   crash_upload_body_test.sh PATH/TO/kavor_setup.exe
set -u
source "$(dirname "$0")/e2e_lib.sh"
source "$(dirname "$0")/crash_server.sh"
e2e_init "$1"
trap 'stop_crash_server; _e2e_exit' EXIT
PYTHON=$(crash_python) || exit 1

# The service on its own first: a reader that passes everything would make
# every check below pass too.
start_crash_server 0 "$E2E_WORK/self" --fail 1 || exit 1
"$PYTHON" - "$CRASH_PORT" "$CRASH_REQUESTS" <<'PY'
import gzip, hashlib, json, socket, sys, urllib.request
port, requests_file = sys.argv[1:]
B = b"---MultipartBoundary-0123456789abcdefABCDEF0123456789---"
TYPE = b"multipart/form-data; boundary=" + B

def form(*parts):
    out = b""
    for head, data in parts:
        out += b"--" + B + b"\r\nContent-Disposition: form-data; " + head + \
            b"\r\n\r\n" + data + b"\r\n"
    return out + b"--" + B + b"--\r\n"

def raw(head, body):
    with socket.create_connection(("127.0.0.1", int(port)), timeout=10) as s:
        s.sendall(b"POST /upload HTTP/1.1\r\nHost: x\r\n" + head + b"\r\n" +
                  body)
        reply = s.recv(4096)
    return int(reply.split()[1])

body = form((b'name="a"', b"1"),
            (b'name="f"; filename="x.dmp"\r\nContent-Type: a/b', b"\0\r\n--"))
length = lambda b: b"Content-Length: %d\r\n" % len(b)
chunked = b"3\r\n" + body[:3] + b"\r\n" + b"A;ext=1\r\n" + body[3:13] + \
    b"\r\n" + b"%x\r\n" % (len(body) - 13) + body[13:] + b"\r\n0\r\nX: y\r\n\r\n"
statuses = [
    raw(b"Content-Type: " + TYPE + b"\r\n" + length(body), body),  # --fail
    raw(b"Content-Type: " + TYPE + b"\r\nTransfer-Encoding: chunked\r\n",
        chunked),
    raw(b"Content-Type: " + TYPE + b"\r\nContent-Encoding: gzip\r\n" +
        length(gzip.compress(body[:50]) + gzip.compress(body[50:])),
        gzip.compress(body[:50]) + gzip.compress(body[50:])),
    raw(b"Content-Type: " + TYPE + b"\r\n" + length(body[:-4]), body[:-4]),
    raw(b"Content-Type: " + TYPE + b"\r\n" + length(b"x" + body), b"x" + body),
    raw(b"Content-Type: " + TYPE + b"\r\nContent-Length: 5\r\n"
        b"Transfer-Encoding: chunked\r\n", b"0\r\n\r\n"),
    raw(b"Content-Type: " + TYPE + b"\r\nTransfer-Encoding: chunked\r\n",
        b"5\r\nabcdeX\r\n0\r\n\r\n"),
]
ping = urllib.request.urlopen("http://127.0.0.1:%s/ping" % port).read()
R = [json.loads(line) for line in open(requests_file)]
failures = []
def expect(what, got, wanted):
    if got != wanted:
        failures.append("%s: got %r, wanted %r" % (what, got, wanted))
expect("statuses", statuses, [500, 200, 200, 200, 200, 400, 400])
expect("ping", ping, b"pong")
expected_files = {"f": {"filename": "x.dmp", "content_type": "a/b", "size": 5,
                        "sha256": hashlib.sha256(b"\0\r\n--").hexdigest()}}
for i in (0, 1):
    expect("fields of %d" % i, R[i].get("fields"), {"a": "1"})
    expect("files of %d" % i, R[i].get("files"), expected_files)
    expect("no error in %d" % i, R[i].get("parse_error"), None)
expect("chunks", R[1].get("chunks"), 3)
expect("gzip members", (R[2].get("gzip_members"), "gzip_error" in R[2],
                        R[2].get("fields")), (2, True, {"a": "1"}))
expect("cut body", "parse_error" in R[3], True)
expect("preamble", "parse_error" in R[4], True)
expect("two framings", "parse_error" in R[5], True)
expect("bad chunk end", "parse_error" in R[6], True)
for failure in failures:
    print("FAIL: service:", failure)
sys.exit(1 if failures else 0)
PY
check "the crash service reads and flags bodies as it should" test $? = 0
stop_crash_server

new_prefix upload
FILES="$E2E_CASE/files"
SAVED="$E2E_CASE/saved"
mkdir -p "$FILES"
start_crash_server 0 "$E2E_CASE/server" --save-dir "$SAVED" || exit 1

# compare_upload OUTPUT RECORD_NUMBER [chunked]: the request record
# RECORD_NUMBER of the service holds exactly what the client's OUTPUT says
# it sent; with "chunked", OUTPUT's framing file (OUTPUT.chunked) is
# decoded strictly first and was posted to the service as it is.
compare_upload() {
  "$PYTHON" - "$1" "$CRASH_REQUESTS" "$2" "$FILES" "$SAVED" "${3:-}" <<'PY'
import hashlib, json, os, re, sys
output, requests_file, number, files_dir, saved_dir, mode = sys.argv[1:]
number = int(number)
lines = [l.split(" ") for l in open(output, encoding="utf-8").read().splitlines()]
def words(kind): return [l[1:] for l in lines if l[0] == kind]
def one(kind): return " ".join(words(kind)[0])
def unhex(text): return b"" if text == "-" else bytes.fromhex(text)
def escape(raw):
    return b"".join(b"%%%02x" % c if c in b"\n\r\"%" else bytes([c])
                    for c in raw).decode("utf-8")
records = [json.loads(l) for l in open(requests_file, encoding="utf-8")]
record = [r for r in records if r["n"] == number][0]
failures = []
def expect(what, got, wanted):
    if got != wanted:
        failures.append("%s: got %r, wanted %r" % (what, got, wanted))

headers = dict(" ".join(h).split(": ", 1) for h in words("header"))
boundary = one("boundary")
sent = {k: record["headers"].get(k) for k in
        ("Content-Type", "Content-Encoding", "Content-Length")}
expect("parse error", record.get("parse_error"), None)
expect("status", record.get("status"), 200)
expect("boundary form",
       bool(re.fullmatch(r"---MultipartBoundary-[A-Za-z0-9]{32}---", boundary)),
       True)
expect("content type", sent["Content-Type"],
       "multipart/form-data; boundary=" + boundary)
expect("content encoding", sent["Content-Encoding"],
       headers.get("Content-Encoding"))
gzipped = headers.get("Content-Encoding") == "gzip"
expect("gzip members", record.get("gzip_members"), 1 if gzipped else None)
if mode == "chunked":
    expect("no length with chunks", sent["Content-Length"], None)
else:
    expect("length", (sent["Content-Length"], record.get("length")),
           (one("length"), int(one("length"))))
    expect("response", one("response"), "crash-%08x-%04d" % (
        int(one("response").split("-")[1], 16), number))

fields = {escape(unhex(n)): unhex(v).decode("utf-8") for n, v in words("field")}
files = {}
for name, file_name, content_type, base in words("file"):
    data = open(os.path.join(files_dir, base), "rb").read()
    files[escape(unhex(name))] = {
        "filename": escape(unhex(file_name)), "content_type": content_type,
        "size": len(data), "sha256": hashlib.sha256(data).hexdigest()}
got_files = {n: {k: v for k, v in f.items() if k != "saved"}
             for n, f in (record.get("files") or {}).items()}
expect("fields", record.get("fields"), fields)
expect("files", got_files, files)
expect("duplicates", record.get("duplicates"), None)
for name, in words("replaced"):
    name = escape(unhex(name))
    expect("%s in one kind only" % name,
           (name in fields) + (name in files), 1)

# Where the boundary stands in the body itself, as inflated and unchunked.
body = open(os.path.join(saved_dir, "%d.body" % number), "rb").read()
mark = b"--" + boundary.encode()
parts = len(fields) + len(files)
expect("body start", body[:len(mark) + 2], mark + b"\r\n")
expect("body end", body[-len(mark) - 4:], mark + b"--\r\n")
expect("boundary count", body.count(mark), parts + 1)
expect("boundary at line starts",
       all(i == 0 or body[i - 2:i] == b"\r\n"
           for i in [m.start() for m in re.finditer(re.escape(mark), body)]),
       True)
for name, info in (record.get("files") or {}).items():
    if info["size"] == 0:
        # The empty file's part: its head, no bytes, the line break.
        head = ('Content-Disposition: form-data; name="%s"; filename="%s"\r\n'
                'Content-Type: %s\r\n\r\n\r\n' % (name, info["filename"],
                                                  info["content_type"]))
        expect("empty part " + name, head.encode() + mark in body, True)
for other, in words("other-boundary"):
    expect("second builder's boundary differs", other != boundary, True)
    expect("second boundary form",
           bool(re.fullmatch(r"---MultipartBoundary-[A-Za-z0-9]{32}---",
                             other)), True)
for failure in failures:
    print("FAIL: %s: %s" % (os.path.basename(output), failure))
sys.exit(1 if failures else 0)
PY
}

# upload CASE [--gzip]: the client posts CASE; one more request is noted.
count=0
upload() {
  local name="$1${2:+-gzip}" out
  out="$E2E_CASE/$name.out"
  wine "$E2E_BIN/kavor_upload_client.exe" "--case=$1" ${2:+"$2"} \
    "--dir=$(e2e_winpath "$FILES")" "--url=$(crash_server_url)" \
    >"$out" 2>"$E2E_CASE/$name.err"
  local rc=$?
  count=$((count + 1))
  check "$name: the client sent it (exit $rc)" test "$rc" = 0 &&
    check "$name: the service read what was sent" compare_upload "$out" "$count"
}

upload escaping
upload escaping --gzip
upload boundary
upload empty-file
upload replace
upload large
upload large --gzip
# Bodies are streamed: a file of 6 MiB never sits in the client's memory.
for name in large large-gzip; do
  growth=$(sed -n 's/^peak-growth //p' "$E2E_CASE/$name.out")
  check "$name: the client's peak memory grew by ${growth:-?} bytes only" \
    test "${growth:-99999999}" -lt $((3 * 1024 * 1024))
done

# chunked CASE [--gzip]: the client writes CASE's chunked framing; it must
# be eight lower-case hex digits, CR LF, the bytes, CR LF per chunk, and the
# zero chunk with an empty trailer at the end. Then it goes to the service
# as it is, which must read the same body from it.
chunked() {
  local name="chunked-$1${2:+-gzip}" out
  out="$E2E_CASE/$name.out"
  wine "$E2E_BIN/kavor_upload_client.exe" "--case=$1" ${2:+"$2"} \
    "--dir=$(e2e_winpath "$FILES")" \
    "--chunked-to=$(e2e_winpath "$out.chunked")" \
    >"$out" 2>"$E2E_CASE/$name.err"
  local rc=$?
  check "$name: the client wrote it (exit $rc)" test "$rc" = 0 || return
  count=$((count + 1))
  local framed
  framed=$("$PYTHON" - "$out" "$CRASH_PORT" <<'PY'
import re, socket, sys
output, port = sys.argv[1:]
framing = open(output + ".chunked", "rb").read()
lines = [l.split(" ", 1) for l in open(output).read().splitlines()]
headers = dict(v.split(": ", 1) for k, v in lines if k == "header")
written = [int(v) for k, v in lines if k == "written"]
problems = []
if written != [len(framing)]:
    problems.append("file of %d bytes, %r written" % (len(framing), written))
at, chunks = 0, 0
while True:
    head = framing[at:at + 10]
    if not re.fullmatch(rb"[0-9a-f]{8}\r\n", head):
        problems.append("chunk head %r at %d" % (head, at))
        break
    size = int(head[:8], 16)
    at += 10
    if size == 0:
        if framing[at:] != b"\r\n":
            problems.append("%r after the last chunk" % framing[at:at + 20])
        break
    if size > 32768:
        problems.append("chunk of %d bytes" % size)
    if framing[at + size:at + size + 2] != b"\r\n":
        problems.append("chunk at %d not closed by CR LF" % at)
        break
    at += size + 2
    chunks += 1
if problems:
    print("FAIL: %s: %s" % (output, problems))
    sys.exit(1)
head = "".join("%s: %s\r\n" % h for h in headers.items())
with socket.create_connection(("127.0.0.1", int(port)), timeout=30) as s:
    s.sendall(("POST /upload HTTP/1.1\r\nHost: x\r\n%s"
               "Transfer-Encoding: chunked\r\n\r\n" % head).encode() + framing)
    reply = s.recv(4096)
status = int(reply.split()[1])
print(chunks)
sys.exit(0 if status == 200 else 1)
PY
  )
  check "$name: the framing is sound and was posted" test $? = 0 &&
    check "$name: the service read what was framed" \
      compare_upload "$out" "$count" chunked
  check "$name: the service counted the chunks as framed ($framed)" \
    crash_requests "R[$count - 1].get('chunks') == ${framed:-0}"
}

chunked escaping --gzip
chunked large

# A service that refuses the report: the client hears of it, although the
# body itself went over whole.
stop_crash_server
start_crash_server 0 "$E2E_CASE/refusing" --fail 1 --fail-status 500 || exit 1
for want in 1 0; do
  wine "$E2E_BIN/kavor_upload_client.exe" --case=boundary \
    "--dir=$(e2e_winpath "$FILES")" "--url=$(crash_server_url)" \
    >"$E2E_CASE/refused-$want.out" 2>"$E2E_CASE/refused-$want.err"
  rc=$?
  check "an upload answered $([ "$want" = 1 ] && echo 500 || echo 200) \
ends with $want (exit $rc)" test "$rc" = "$want"
done
check "the refused body was read whole all the same" crash_requests \
  "[(r['status'], 'parse_error' in r, len(F(r))) for r in R] == \
[(500, False, 2), (200, False, 2)]"
check "only the accepted upload tells a crash id" \
  test "$(grep -c '^response crash-' "$E2E_CASE/refused-1.out")" = 0 -a \
  "$(grep -c '^response crash-' "$E2E_CASE/refused-0.out")" = 1
e2e_summary
