"""A statistics service on this machine, for the installer's --test-avro-srv.

Accepts POST /v1/binary, checks the frame of the body (a zero byte, then the
schema id 293 as four bytes big-endian), decodes the datum after it with the
writer schema and appends it to --output as one JSON line. Each request is
also noted in --requests (when given) as one JSON line: its path, the
Content-Type it carried, the body length, the status answered and, for a
body that could not be decoded, why.

  stats_server.py --port 9000 --schema schema.json --output records.jsonl
      [--requests requests.jsonl] [--port-file FILE]
      [--status 201] [--fail N --fail-status 500]

--port 0 takes a free port; --port-file then receives its number once the
server listens. The first N requests (--fail) are answered with
--fail-status, the others with --status. The writer schema is the JSON the
installer's test program kavor_stats_schema.exe prints; without --schema
every request is answered as usual and noted as not decoded.

Needs python3-avro (the Debian package, for the system's python3).
"""

import argparse
import io
import json
import os
import re
import struct
import sys
import threading
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

import avro.io
import avro.schema

SCHEMA_ID = 293
PATH = "/v1/binary"


def decode(body, schema):
    """The datum of one request body; raises ValueError when it is not one."""
    if len(body) < 5:
        raise ValueError("body of %d bytes is shorter than its frame" % len(body))
    marker, schema_id = struct.unpack(">BI", body[:5])
    if marker != 0 or schema_id != SCHEMA_ID:
        raise ValueError("frame %s is not 00 + schema id %d" %
                         (body[:5].hex(), SCHEMA_ID))
    if schema is None:
        raise ValueError("no writer schema to decode with")
    stream = io.BytesIO(body[5:])
    try:
        datum = avro.io.DatumReader(schema).read(avro.io.BinaryDecoder(stream))
    except Exception as error:  # the decoder raises several kinds
        raise ValueError("datum does not decode: %r" % error)
    if stream.tell() != len(body) - 5:
        raise ValueError("%d bytes left after the datum" %
                         (len(body) - 5 - stream.tell()))
    return datum


class Service:
    def __init__(self, args, schema):
        self.args = args
        self.schema = schema
        self.lock = threading.Lock()
        self.answered = 0

    def next_status(self):
        with self.lock:
            self.answered += 1
            if self.answered <= self.args.fail:
                return self.args.fail_status
            return self.args.status

    def note(self, record, request):
        with self.lock:
            if record is not None:
                # Avro bytes and fixed values decode to bytes: noted as hex.
                with open(self.args.output, "a", encoding="utf-8") as f:
                    f.write(json.dumps(record, sort_keys=True,
                                       default=lambda v: v.hex()) + "\n")
            if self.args.requests:
                with open(self.args.requests, "a", encoding="utf-8") as f:
                    f.write(json.dumps(request, sort_keys=True) + "\n")


def make_handler(service):
    class Handler(BaseHTTPRequestHandler):
        protocol_version = "HTTP/1.1"
        # A client that stops sending mid-request does not hold a thread.
        timeout = 10

        def answer(self, status):
            self.send_response(status)
            self.send_header("Content-Length", "0")
            if self.close_connection:
                self.send_header("Connection", "close")
            self.end_headers()

        def refuse(self, status, why):
            # The body, if any, was not read: the connection cannot go on.
            print("stats_server: %s" % why, file=sys.stderr)
            self.close_connection = True
            service.note(None, {"path": self.path, "status": status,
                                "error": why})
            self.answer(status)

        def read_body(self):
            """The body, or None once the request has been refused."""
            if "Transfer-Encoding" in self.headers:
                self.refuse(411, "Transfer-Encoding %r instead of a length" %
                            self.headers["Transfer-Encoding"])
                return None
            text = self.headers.get("Content-Length")
            if text is None:
                self.refuse(411, "no Content-Length")
                return None
            if not re.fullmatch(r"[0-9]+", text.strip()):
                self.refuse(400, "Content-Length %r" % text)
                return None
            length = int(text)
            try:
                body = self.rfile.read(length)
            except OSError as error:
                self.close_connection = True
                print("stats_server: body not read: %r" % error,
                      file=sys.stderr)
                return None
            if len(body) != length:
                self.refuse(400, "body of %d bytes, Content-Length %d" %
                            (len(body), length))
                return None
            return body

        def do_POST(self):
            body = self.read_body()
            if body is None:
                return
            request = {"path": self.path, "length": len(body),
                       "content_type": self.headers.get("Content-Type")}
            record = None
            if self.path != PATH:
                status = 404
            else:
                status = service.next_status()
                try:
                    record = decode(body, service.schema)
                except ValueError as error:
                    request["error"] = str(error)
                    print("stats_server: %s" % error, file=sys.stderr)
            request["status"] = status
            service.note(record, request)
            self.answer(status)

        def do_GET(self):
            self.answer(405)

        def log_message(self, format, *args):
            pass

    return Handler


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--port", type=int, required=True)
    parser.add_argument("--schema")
    parser.add_argument("--output", required=True)
    parser.add_argument("--requests")
    parser.add_argument("--port-file")
    parser.add_argument("--status", type=int, default=201)
    parser.add_argument("--fail", type=int, default=0)
    parser.add_argument("--fail-status", type=int, default=500)
    args = parser.parse_args()

    schema = None
    if args.schema:
        with open(args.schema, encoding="utf-8") as f:
            schema = avro.schema.parse(f.read())
    service = Service(args, schema)
    server = ThreadingHTTPServer(("127.0.0.1", args.port), make_handler(service))
    server.daemon_threads = True
    if args.port_file:
        with open(args.port_file + ".new", "w") as f:
            f.write(str(server.server_address[1]))
        os.rename(args.port_file + ".new", args.port_file)
    server.serve_forever()


if __name__ == "__main__":
    main()
