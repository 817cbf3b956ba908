#!/usr/bin/python3
"""A stand-in for the Anthropic Messages API on 127.0.0.1, logging every request it receives.

    /usr/bin/python3 tests/Support/messages-api.py --log FILE [--port N] [--models FILE] [--reply TEXT]

Prints "ready PORT" on its first line of output, then answers, with or without the "/v1" prefix
(an AI Gateway path ending in "/anthropic/v1/..." works too):

    GET  .../v1/models?limit=1000   {"data": [{"id", "display_name", "type"}...], "has_more": false}
    POST .../v1/messages            a message whose one text block is --reply (default: the
                                    request's last text block after "Stand-in: "; a region
                                    translation request, {"regions": [{"id", "text"}...]}, gets the
                                    same regions back with each text upper-cased)

A request without "x-api-key" or "cf-aig-authorization" is answered 401, any other path 404.
Each request is appended to the log as one line of JSON: {"method", "path", "headers", "body"},
headers with lower-case names, the body parsed as JSON when it is JSON. Runs until terminated.
"""

import argparse
import json
import sys
import threading
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

DEFAULT_MODELS = [
    {"id": "claude-opus-4-1", "display_name": "Claude Opus 4.1"},
    {"id": "claude-sonnet-4-5", "display_name": "Claude Sonnet 4.5"},
    {"id": "claude-sonnet-5", "display_name": "Claude Sonnet 5"},
    {"id": "claude-haiku-4-5", "display_name": "Claude Haiku 4.5"},
]


def last_text(body):
    try:
        for block in reversed(body["messages"][-1]["content"]):
            if block.get("type") == "text":
                return block["text"]
    except (KeyError, IndexError, TypeError, AttributeError):
        pass
    return ""


def upper_cased_regions(text):
    """The reply to a region translation request, or None when the text is no such request."""
    try:
        regions = json.loads(text)["regions"]
        return json.dumps({"regions": [{"id": row["id"], "text": row["text"].upper()} for row in regions]})
    except (ValueError, KeyError, TypeError):
        return None


def make_handler(options, models, lock):
    class Handler(BaseHTTPRequestHandler):
        protocol_version = "HTTP/1.1"

        def log_message(self, *args):
            pass

        def record(self, body):
            entry = {"method": self.command, "path": self.path,
                     "headers": {name.lower(): value for name, value in self.headers.items()}, "body": body}
            with lock, open(options.log, "a") as log:
                log.write(json.dumps(entry) + "\n")

        def answer(self, status, payload):
            data = json.dumps(payload).encode()
            self.send_response(status)
            self.send_header("Content-Type", "application/json")
            self.send_header("Content-Length", str(len(data)))
            self.end_headers()
            self.wfile.write(data)

        def endpoint(self):
            path = self.path.split("?", 1)[0]
            marker = path.rfind("/v1/")
            return path[marker + 4:] if marker >= 0 else path.lstrip("/")

        def authorised(self):
            if self.headers.get("x-api-key") or self.headers.get("cf-aig-authorization"):
                return True
            self.answer(401, {"type": "error", "error": {"type": "authentication_error", "message": "no key"}})
            return False

        def do_GET(self):
            self.record(None)
            if not self.authorised():
                return
            if self.endpoint() == "models":
                data = [dict(model, type="model") for model in models]
                self.answer(200, {"data": data, "has_more": False})
            else:
                self.answer(404, {"type": "error", "error": {"type": "not_found_error"}})

        def do_POST(self):
            raw = self.rfile.read(int(self.headers.get("Content-Length") or 0))
            try:
                body = json.loads(raw)
            except ValueError:
                body = raw.decode("utf-8", "replace")
            self.record(body)
            if not self.authorised():
                return
            if self.endpoint() != "messages":
                self.answer(404, {"type": "error", "error": {"type": "not_found_error"}})
                return
            text = options.reply
            if text is None:
                text = upper_cased_regions(last_text(body)) or "Stand-in: " + last_text(body)
            model = body.get("model", "") if isinstance(body, dict) else ""
            self.answer(200, {"id": "msg_standin", "type": "message", "role": "assistant", "model": model,
                              "content": [{"type": "text", "text": text}], "stop_reason": "end_turn",
                              "usage": {"input_tokens": 1, "output_tokens": 1}})

    return Handler


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--log", required=True, help="file the requests are appended to, one JSON line each")
    parser.add_argument("--port", type=int, default=0, help="port to listen on (default: a free one)")
    parser.add_argument("--models", help="JSON file with the list of {\"id\", \"display_name\"} to offer")
    parser.add_argument("--reply", help="text of every message reply")
    options = parser.parse_args()
    models = DEFAULT_MODELS
    if options.models:
        with open(options.models) as file:
            models = json.load(file)
    open(options.log, "a").close()
    server = ThreadingHTTPServer(("127.0.0.1", options.port), make_handler(options, models, threading.Lock()))
    print(f"ready {server.server_address[1]}", flush=True)
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        sys.exit(0)


if __name__ == "__main__":
    main()
