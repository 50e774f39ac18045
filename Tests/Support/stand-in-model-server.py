#!/usr/bin/python3
"""A stand-in for a local model server speaking the OpenAI-compatible chat API, on 127.0.0.1.

  stand-in-model-server.py --mode MODE --port-file PATH --log PATH [--status N] [--delay S]

Once listening on a free port it writes the port to --port-file. Each request appends one JSON
line to --log: {"method", "path", "authorization" (or null), "contentType", "body" (the request
body parsed, or null)}. GET .../models lists two models (in the status mode it gets the status).
POST .../chat/completions answers by mode:
  edit        a careful copy editor: the instructions' examples as they give them, any other
              dictation with the fillers um and uh taken out
  answer      a model that answers the dictation instead of editing it
  plain-text  ignores response_format: the edit object as text in a ```json fence
  slow        the edit, after --delay seconds
  status      --status with an error object that quotes the prompt
  html        200 with an HTML page that quotes the prompt
  stream      the edit as server-sent events (text/event-stream), --delay apart
  huge        200 with a chat answer of 2 MiB, without a length
  no-cleaned  an object without "cleaned"
SIGTERM ends the server at once.
"""
import argparse
import http.server
import json
import os
import re
import signal
import sys
import threading
import time

parser = argparse.ArgumentParser()
parser.add_argument("--mode", required=True,
                    choices=["edit", "answer", "plain-text", "slow", "status", "html", "stream",
                             "huge", "no-cleaned"])
parser.add_argument("--port-file", required=True)
parser.add_argument("--log", required=True)
parser.add_argument("--status", type=int, default=503)
parser.add_argument("--delay", type=float, default=10)
options = parser.parse_args()

log_lock = threading.Lock()
log = open(options.log, "a", buffering=1)


def edit(instructions, dictation):
    examples = dict(re.findall(r"^Dictation: (.*)\ncleaned: (.*)$", instructions, re.M))
    if dictation in examples:
        return examples[dictation]
    words = [w for w in dictation.split() if w.strip(",.").lower() not in ("um", "uh")]
    return " ".join(words)


def completion(content):
    return {"object": "chat.completion", "model": "stand-in",
            "choices": [{"index": 0, "finish_reason": "stop",
                         "message": {"role": "assistant", "content": content}}]}


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def do_GET(self):
        self.handle_request(None)

    def do_POST(self):
        self.handle_request(self.rfile.read(int(self.headers.get("Content-Length", 0))))

    def handle_request(self, raw):
        try:
            body = json.loads(raw) if raw else None
        except ValueError:
            body = None
        with log_lock:
            log.write(json.dumps({"method": self.command, "path": self.path,
                                  "authorization": self.headers.get("Authorization"),
                                  "contentType": self.headers.get("Content-Type"),
                                  "body": body}) + "\n")
        try:
            if self.command == "GET" and self.path.endswith("/models") and options.mode != "status":
                self.send_json(200, {"object": "list", "data": [{"id": "qwen2.5-1.5b-instruct"},
                                                                {"id": "llama-3.2-3b-instruct"}]})
            elif options.mode == "status" or (self.command == "POST" and
                                              self.path.endswith("/chat/completions")):
                self.chat(body or {})
            else:
                self.send_json(404, {"error": {"message": "no such path"}})
        except (BrokenPipeError, ConnectionResetError):
            # The client gave up, as the time limit and the size bound make it.
            self.close_connection = True

    def send(self, status, content_type, data):
        self.send_response(status)
        self.send_header("Content-Type", content_type)
        self.send_header("Content-Length", str(len(data)))
        self.end_headers()
        self.wfile.write(data)

    def start_unbounded(self, content_type):
        """A 200 whose body has no length and ends when the connection closes."""
        self.protocol_version = "HTTP/1.0"
        self.close_connection = True
        self.send_response(200)
        self.send_header("Content-Type", content_type)
        self.end_headers()

    def send_json(self, status, value):
        self.send(status, "application/json", json.dumps(value).encode())

    def chat(self, body):
        messages = body.get("messages") or [{}, {}]
        instructions = messages[0].get("content", "")
        prompt = messages[-1].get("content", "")
        dictation = prompt.removeprefix("Dictation: ")
        cleaned = edit(instructions, dictation)
        mode = options.mode
        if mode == "slow":
            time.sleep(options.delay)
        if mode in ("edit", "slow"):
            self.send_json(200, completion(json.dumps({"cleaned": cleaned})))
        elif mode == "answer":
            self.send_json(200, completion(json.dumps({"cleaned": "It is 9 pm in Tokyo."})))
        elif mode == "plain-text":
            text = "```json\n" + json.dumps({"cleaned": cleaned}, indent=2) + "\n```"
            self.send_json(200, completion(text))
        elif mode == "status":
            self.send_json(options.status, {"error": {"message": "cannot edit: " + prompt}})
        elif mode == "html":
            self.send(200, "text/html", f"<html><body>{prompt}</body></html>".encode())
        elif mode == "stream":
            # The first event at once, the rest after --delay, as a model still writing would.
            self.start_unbounded("text/event-stream")
            for piece in ('{"cleaned": ', json.dumps(cleaned), "}"):
                event = {"choices": [{"index": 0, "delta": {"content": piece}}]}
                self.wfile.write(f"data: {json.dumps(event)}\n\n".encode())
                self.wfile.flush()
                time.sleep(options.delay)
        elif mode == "huge":
            # No length, so only the client's own count can stop it.
            self.start_unbounded("application/json")
            repeated = prompt * ((2 << 20) // len(prompt) + 1)
            self.wfile.write(json.dumps(completion(json.dumps({"cleaned": repeated}))).encode())
        elif mode == "no-cleaned":
            self.send_json(200, completion(json.dumps({"text": cleaned})))

    def log_message(self, format, *args):
        pass


server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
# A slow answer's thread must not keep the process alive.
server.daemon_threads = True
signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
# Written whole, then renamed, so a reader never sees half a number.
with open(options.port_file + ".part", "w") as f:
    f.write(str(server.server_address[1]))
os.replace(options.port_file + ".part", options.port_file)
server.serve_forever()
