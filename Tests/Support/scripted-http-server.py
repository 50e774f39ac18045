#!/usr/bin/python3
"""A scripted web server on 127.0.0.1 for the exact failures a real server will not produce.

  scripted-http-server.py --mode MODE --file FILE --port-file PATH --log PATH
                          [--drop-after BYTES] [--redirect-to URL]

Every path is answered from FILE (the path is only logged). Once listening on a free port it
writes the port to --port-file; each request appends "METHOD URI RANGE" to --log (RANGE is the
Range header or "-"). Modes:
  drop-after     the first request gets the headers of a whole reply (200, or 206 for a Range)
                 but only BYTES of the body, then the connection closes; later ones are whole
  ignores-range  always 200 with the whole file, whatever the Range
  no-length      200 without Content-Length, the body ends when the connection closes
  not-found      404 with a small HTML page
  error-page     200 with a small HTML error page instead of the file
  silent         reads the request and never answers; the connection stays open
  redirect       302 to URL
  endless        200 without Content-Length and a body of zeros that never ends
  huge-length    200 claiming 9223372036854775807 bytes, then zeros until the client leaves
GET and HEAD are served; SIGTERM ends the server at once.
"""
import argparse
import http.server
import os
import re
import signal
import sys
import threading

parser = argparse.ArgumentParser()
parser.add_argument("--mode", required=True,
                    choices=["drop-after", "ignores-range", "no-length", "not-found",
                             "error-page", "silent", "redirect", "endless", "huge-length"])
parser.add_argument("--file", required=True)
parser.add_argument("--port-file", required=True)
parser.add_argument("--log", required=True)
parser.add_argument("--drop-after", type=int, default=0)
parser.add_argument("--redirect-to", default="")
options = parser.parse_args()

log_lock = threading.Lock()
log = open(options.log, "a", buffering=1)
# Held for good by the first request of the drop-after mode; later ones find it taken.
first_request = threading.Lock()


def log_request(method, uri, byte_range):
    # Whole lines, flushed at once: the test reads the log while the server runs.
    with log_lock:
        log.write(f"{method} {uri} {byte_range or '-'}\n")
        log.flush()


def wanted_range(header, size):
    """(start, end) inclusive for "bytes=N-" or "bytes=N-M"; None without a usable Range;
    "unsatisfiable" when it starts past the end."""
    match = re.fullmatch(r"bytes=(\d+)-(\d*)", (header or "").strip())
    if not match:
        return None
    start = int(match.group(1))
    end = min(int(match.group(2)), size - 1) if match.group(2) else size - 1
    if start >= size or end < start:
        return "unsatisfiable"
    return start, end


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def do_GET(self):
        self.answer(with_body=True)

    def do_HEAD(self):
        self.answer(with_body=False)

    def answer(self, with_body):
        log_request(self.command, self.path, self.headers.get("Range"))
        try:
            getattr(self, "reply_" + options.mode.replace("-", "_"))(with_body)
        except (BrokenPipeError, ConnectionResetError):
            # The client hung up mid-reply, which is what some tests do on purpose.
            self.close_connection = True

    def send(self, status, headers, body, with_body, send_bytes=None):
        self.send_response(status)
        for name, value in headers:
            self.send_header(name, value)
        self.end_headers()
        if with_body:
            self.wfile.write(body if send_bytes is None else body[:send_bytes])
        self.wfile.flush()

    def html(self, status, text, with_body):
        body = f"<html><body><h1>{text}</h1></body></html>\n".encode()
        self.send(status, [("Content-Type", "text/html"), ("Content-Length", str(len(body)))],
                  body, with_body)

    def file_reply(self, with_body, honour_range=True, send_bytes=None):
        with open(options.file, "rb") as f:
            data = f.read()
        byte_range = wanted_range(self.headers.get("Range"), len(data)) if honour_range else None
        if byte_range == "unsatisfiable":
            self.send(416, [("Content-Range", f"bytes */{len(data)}"), ("Content-Length", "0")],
                      b"", with_body)
            return
        status, headers = 200, []
        if byte_range:
            start, end = byte_range
            status = 206
            headers.append(("Content-Range", f"bytes {start}-{end}/{len(data)}"))
            data = data[start:end + 1]
        headers += [("Content-Type", "application/octet-stream"),
                    ("Content-Length", str(len(data))), ("Accept-Ranges", "bytes")]
        self.send(status, headers, data, with_body, send_bytes)

    def reply_drop_after(self, with_body):
        if first_request.acquire(blocking=False):
            self.file_reply(with_body, send_bytes=options.drop_after)
            self.close_connection = True
        else:
            self.file_reply(with_body)

    def reply_ignores_range(self, with_body):
        self.file_reply(with_body, honour_range=False)

    def reply_no_length(self, with_body):
        # An HTTP/1.0 reply: no length, no chunks, the close marks the end of the body.
        self.protocol_version = "HTTP/1.0"
        with open(options.file, "rb") as f:
            data = f.read()
        self.send(200, [("Content-Type", "application/octet-stream")], data, with_body)
        self.close_connection = True

    def reply_not_found(self, with_body):
        self.html(404, "404 Not Found", with_body)

    def reply_error_page(self, with_body):
        self.html(200, "Service temporarily unavailable", with_body)

    def reply_silent(self, with_body):
        # Holds the connection open without a byte until the server ends.
        threading.Event().wait()

    def reply_redirect(self, with_body):
        self.send(302, [("Location", options.redirect_to), ("Content-Length", "0")], b"",
                  with_body)

    def zeros(self, headers, with_body):
        self.send(200, headers, b"", with_body)
        chunk = bytes(65536)
        while with_body:
            self.wfile.write(chunk)
        self.close_connection = True

    def reply_endless(self, with_body):
        self.protocol_version = "HTTP/1.0"
        self.zeros([("Content-Type", "application/octet-stream")], with_body)

    def reply_huge_length(self, with_body):
        self.zeros([("Content-Type", "application/octet-stream"),
                    ("Content-Length", "9223372036854775807")], with_body)

    def log_message(self, format, *args):
        pass


server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
# Silent connections hold their threads forever; they must not keep the process alive.
server.daemon_threads = True
signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
# Written whole, then renamed, so a reader never sees half a number.
with open(options.port_file + ".part", "w") as f:
    f.write(str(server.server_address[1]))
os.replace(options.port_file + ".part", options.port_file)
server.serve_forever()
