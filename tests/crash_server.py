"""A crash-report service on this machine, for the crash reporter's uploads.

Every POST is read whole (by its Content-Length, or in chunked transfer
coding, decoded here), inflated when it says "Content-Encoding: gzip" and
parsed as multipart/form-data with the standard library's email parser.
Each request becomes one JSON line of --requests:

  n            its number, from 1
  path, method, headers ({name: value}, as sent)
  status       the status answered
  length       the bytes of the body as sent (after any chunked framing)
  chunks       chunked bodies only: the number of chunks before the last
  gzip_members gzipped bodies only: how many gzip members the body held
  gzip_error   when that is not exactly one
  boundary     the boundary of the Content-Type
  fields       {name: value} of the text parts (UTF-8; other bytes kept as
               surrogate escapes)
  files        {name: {filename, content_type, size, sha256[, saved]}} of
               the parts that carry a file name
  duplicates   names seen in more than one part, when any
  parse_error  why the body could not be read or parsed, when it could not;
               fields and files are then whatever was read

  crash_server.py --port 0 --requests requests.jsonl [--port-file FILE]
      [--save-dir DIR] [--status 200] [--fail N --fail-status 500]
      [--reply TEXT]

--port 0 takes a free port; --port-file then receives its number (through a
rename) once the server listens. --save-dir keeps the body of request n
(after chunked framing and gzip) as DIR/n.body and each file part as
DIR/n-NAME.part (NAME reduced to letters, digits, "." "-" "_"). The first N
requests (--fail) are answered with --fail-status, the others with
--status; a 200 answer carries --reply, or a made-up crash id. GET /ping
answers 200 "pong", for scripts that wait for the server.

Standard library only: it is the independent reader of what the crash
reporter sends.
"""

import argparse
import email.errors
import email.parser
import email.policy
import hashlib
import json
import os
import re
import sys
import threading
import zlib
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

# One body larger than this is taken for a runaway client.
MAX_BODY = 256 * 1024 * 1024


class BodyError(Exception):
    """The body cannot be read as the headers announce it."""


def read_chunked(rfile):
    """The decoded body of a chunked request from |rfile|, and the number of
    chunks before the last. Raises BodyError on broken framing."""
    body = bytearray()
    chunks = 0
    while True:
        line = rfile.readline(1024)
        if not line.endswith(b"\r\n"):
            raise BodyError("chunk size line %r does not end in CR LF" % line)
        size_text = line[:-2].split(b";", 1)[0].strip()
        if not re.fullmatch(rb"[0-9A-Fa-f]+", size_text):
            raise BodyError("chunk size line %r" % line)
        size = int(size_text, 16)
        if size == 0:
            break
        if len(body) + size > MAX_BODY:
            raise BodyError("body larger than %d bytes" % MAX_BODY)
        data = rfile.read(size)
        if len(data) != size:
            raise BodyError("chunk of %d bytes cut at %d" % (size, len(data)))
        if rfile.read(2) != b"\r\n":
            raise BodyError("chunk %d not followed by CR LF" % (chunks + 1))
        body += data
        chunks += 1
    # Trailer lines, up to the empty line that ends the request.
    while True:
        line = rfile.readline(8192)
        if line == b"\r\n":
            return bytes(body), chunks
        if not line.endswith(b"\r\n"):
            raise BodyError("request ends inside the trailer: %r" % line)


def gunzip(body):
    """The inflated body and the number of gzip members it held. Raises
    BodyError when it is no gzip data or has bytes after its last member."""
    out = bytearray()
    members = 0
    rest = body
    while rest:
        inflater = zlib.decompressobj(wbits=31)
        try:
            out += inflater.decompress(rest)
            out += inflater.flush()
        except zlib.error as error:
            raise BodyError("gzip member %d: %s" % (members + 1, error))
        if not inflater.eof:
            raise BodyError("gzip member %d is cut short" % (members + 1))
        members += 1
        rest = inflater.unused_data
    if members == 0:
        raise BodyError("empty gzip body")
    return bytes(out), members


def boundary_of(content_type):
    match = re.fullmatch(r'\s*multipart/form-data\s*;\s*boundary=("?)([^";]+)\1\s*',
                         content_type or "", re.IGNORECASE)
    return match.group(2) if match else None


def parse_form(content_type, body):
    """{fields, files, duplicates, parts} of a multipart/form-data body, where
    parts is a list of (name, filename or None, content type, bytes).
    Raises BodyError when it is no sound multipart body."""
    boundary = boundary_of(content_type)
    if boundary is None:
        raise BodyError("Content-Type %r is no multipart/form-data with a "
                        "boundary" % content_type)
    head = ("Content-Type: %s\r\n\r\n" % content_type).encode("latin-1")
    # The HTTP policy reads header parameters as UTF-8, as browsers and
    # crash services do.
    message = email.parser.BytesParser(policy=email.policy.HTTP).parsebytes(
        head + body)
    problems = [type(d).__name__ for d in message.defects]
    if not message.is_multipart():
        raise BodyError("not multipart: %s" % (problems or "no parts"))
    if problems:
        raise BodyError("multipart defects: %s" % problems)
    # The body must be the parts and nothing else: the builder writes no
    # preamble and nothing after the closing line.
    if message.preamble:
        raise BodyError("%d bytes before the first boundary" %
                        len(message.preamble))
    if message.epilogue:
        raise BodyError("%d bytes after the closing boundary" %
                        len(message.epilogue))
    if not body.endswith(b"--" + boundary.encode("latin-1") + b"--\r\n"):
        raise BodyError("the body does not end with the closing boundary line")
    parts = []
    for part in message.get_payload():
        if part.defects:
            raise BodyError("part defects: %s" %
                            [type(d).__name__ for d in part.defects])
        disposition = part["content-disposition"]
        if disposition is None or disposition.content_disposition != "form-data":
            raise BodyError("part without form-data disposition")
        params = disposition.params
        if "name" not in params:
            raise BodyError("part without a name")
        data = part.get_payload(decode=True)
        parts.append((params["name"], params.get("filename"),
                      part.get_content_type() if part["content-type"] else None,
                      data))
    fields, files, seen, duplicates = {}, {}, set(), []
    for name, filename, part_type, data in parts:
        if name in seen:
            duplicates.append(name)
        seen.add(name)
        if filename is None:
            fields[name] = data.decode("utf-8", "surrogateescape")
        else:
            files[name] = {"filename": filename, "content_type": part_type,
                           "size": len(data),
                           "sha256": hashlib.sha256(data).hexdigest()}
    return {"fields": fields, "files": files, "duplicates": duplicates,
            "parts": parts}


def describe_body(headers, body, record):
    """Fills |record| with what |body| holds; returns the multipart parts."""
    encoding = headers.get("Content-Encoding")
    if encoding is not None:
        if encoding.strip().lower() != "gzip":
            raise BodyError("Content-Encoding %r" % encoding)
        body, members = gunzip(body)
        record["gzip_members"] = members
        if members != 1:
            record["gzip_error"] = "body holds %d gzip members" % members
    record["boundary"] = boundary_of(headers.get("Content-Type"))
    form = parse_form(headers.get("Content-Type"), body)
    record["fields"] = form["fields"]
    record["files"] = form["files"]
    if form["duplicates"]:
        record["duplicates"] = form["duplicates"]
    return body, form["parts"]


def safe_name(name):
    return re.sub(r"[^A-Za-z0-9._-]", "_", name)[:64] or "_"


class Service:
    def __init__(self, args):
        self.args = args
        self.lock = threading.Lock()
        self.count = 0

    def next_request(self):
        with self.lock:
            self.count += 1
            n = self.count
        status = self.args.fail_status if n <= self.args.fail else self.args.status
        return n, status

    def note(self, record):
        with self.lock:
            with open(self.args.requests, "a", encoding="utf-8") as f:
                f.write(json.dumps(record, sort_keys=True) + "\n")

    def save(self, n, body, parts):
        folder = self.args.save_dir
        with open(os.path.join(folder, "%d.body" % n), "wb") as f:
            f.write(body)
        saved = {}
        for name, filename, _, data in parts:
            if filename is None:
                continue
            path = os.path.join(folder, "%d-%s.part" % (n, safe_name(name)))
            with open(path, "wb") as f:
                f.write(data)
            saved[name] = path
        return saved


def make_handler(service):
    class Handler(BaseHTTPRequestHandler):
        protocol_version = "HTTP/1.1"
        # A client that stops sending mid-request does not hold a thread.
        timeout = 30

        def answer(self, status, text=b""):
            self.send_response(status)
            self.send_header("Content-Type", "text/plain")
            self.send_header("Content-Length", str(len(text)))
            if self.close_connection:
                self.send_header("Connection", "close")
            self.end_headers()
            self.wfile.write(text)

        def read_body(self, record):
            """The body as sent; raises BodyError."""
            has_length = "Content-Length" in self.headers
            coding = self.headers.get("Transfer-Encoding")
            if coding is not None:
                if coding.strip().lower() != "chunked":
                    raise BodyError("Transfer-Encoding %r" % coding)
                # Two framings at once leave the end of the body to guess.
                if has_length:
                    raise BodyError("both Content-Length and Transfer-Encoding")
                body, record["chunks"] = read_chunked(self.rfile)
                return body
            text = self.headers.get("Content-Length")
            if text is None:
                raise BodyError("neither Content-Length nor chunked coding")
            if not re.fullmatch(r"[0-9]+", text.strip()):
                raise BodyError("Content-Length %r" % text)
            length = int(text)
            if length > MAX_BODY:
                raise BodyError("Content-Length %d is too large" % length)
            body = self.rfile.read(length)
            if len(body) != length:
                raise BodyError("body of %d bytes, Content-Length %d" %
                                (len(body), length))
            return body

        def do_POST(self):
            n, status = service.next_request()
            record = {"n": n, "path": self.path, "method": "POST",
                      "headers": dict(self.headers.items())}
            try:
                body = self.read_body(record)
            except (BodyError, OSError) as error:
                # What follows on the connection is no request.
                self.close_connection = True
                record["parse_error"] = str(error)
                record["status"] = 400
                service.note(record)
                print("crash_server: %s" % error, file=sys.stderr)
                self.answer(400)
                return
            record["length"] = len(body)
            try:
                content, parts = describe_body(self.headers, body, record)
                if service.args.save_dir:
                    saved = service.save(n, content, parts)
                    for name, path in saved.items():
                        record["files"][name]["saved"] = path
            except BodyError as error:
                record["parse_error"] = str(error)
                print("crash_server: request %d: %s" % (n, error),
                      file=sys.stderr)
            record["status"] = status
            service.note(record)
            text = b""
            if status == 200:
                text = (service.args.reply or
                        "crash-%08x-%04d" % (os.getpid(), n)).encode("utf-8")
            self.answer(status, text)

        def do_GET(self):
            if self.path == "/ping":
                self.answer(200, b"pong")
            else:
                self.answer(404)

        def log_message(self, format, *args):
            pass

    return Handler


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--port", type=int, required=True)
    parser.add_argument("--requests", required=True)
    parser.add_argument("--port-file")
    parser.add_argument("--save-dir")
    parser.add_argument("--status", type=int, default=200)
    parser.add_argument("--fail", type=int, default=0)
    parser.add_argument("--fail-status", type=int, default=500)
    parser.add_argument("--reply")
    args = parser.parse_args()
    if args.save_dir:
        os.makedirs(args.save_dir, exist_ok=True)

    server = ThreadingHTTPServer(("127.0.0.1", args.port),
                                 make_handler(Service(args)))
    server.daemon_threads = True
    if args.port_file:
        with open(args.port_file + ".new", "w") as f:
            f.write(str(server.server_address[1]))
        os.rename(args.port_file + ".new", args.port_file)
    server.serve_forever()


if __name__ == "__main__":
    main()
