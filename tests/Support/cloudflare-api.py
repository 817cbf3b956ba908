#!/usr/bin/python3
"""A stand-in for Cloudflare's OAuth endpoints, its REST API for R2 and a public bucket host, on
127.0.0.1, logging every request it receives.

    /usr/bin/python3 tests/Support/cloudflare-api.py --log FILE [--port N] [--expires-in S]
        [--account ID:NAME ...] [--bucket NAME=DOMAIN ...]

Prints "ready PORT" on its first line of output, then answers:

    GET  /oauth2/auth?...          302 to redirect_uri with a fresh code and the state (the code
                                   remembers the S256 challenge)
    POST /oauth2/token             form body; client_id must be the app's; grant_type
                                   authorization_code (code once, verifier matching its challenge,
                                   redirect_uri) or refresh_token (a refresh token issued here)
    POST /oauth2/revoke            form body; client_id, token_type_hint and a token issued here
    /client/v4/accounts...         bearer token issued here: accounts, buckets, a bucket, its
                                   managed and custom domains, its lifecycle (GET, PUT) and its
                                   objects (PUT with If-None-Match, GET, DELETE), as Cloudflare
                                   envelopes
    GET  /KEY with a Host that is a bucket's public domain: the object's bytes
    PUT  /s3/BUCKET/KEY            a plain S3-style object store (no signature check), so that S3
                                   and R2 uploads can be compared against one server

Any request not matching is answered 404; a refused check 400 or 401. Each request is appended to
the log as one line of JSON: {"method", "path", "host", "headers", "form", "length"} (headers with
lower-case names; "form" the parsed form body of the OAuth endpoints). Runs until terminated.
"""

import argparse
import base64
import hashlib
import json
import secrets
import sys
import threading
import urllib.parse
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

CLIENT_ID = "5c1e08a9d47b36f2e90d18ab7f4c2653"
SCOPE = "workers-r2.write account-settings.read aig.run offline_access"


def challenge_of(verifier):
    return base64.urlsafe_b64encode(hashlib.sha256(verifier.encode()).digest()).decode().rstrip("=")


class World:
    def __init__(self, options):
        self.lock = threading.Lock()
        self.options = options
        self.codes = {}      # code -> (challenge, redirect_uri)
        self.access = set()
        self.refresh = set()
        self.accounts = [dict(zip(("id", "name"), a.split(":", 1))) for a in options.account] or [
            {"id": "0123456789abcdef0123456789abcdef", "name": "Brevalto Test"}]
        self.buckets = {}    # name -> {"domain", "objects": {key: bytes}, "rules": [...]}
        for spec in options.bucket or ["shots=pub-shots.r2.dev"]:
            name, _, domain = spec.partition("=")
            self.buckets[name] = {"domain": domain, "objects": {}, "rules": []}

    def issue(self):
        access, refresh = "at-" + secrets.token_urlsafe(24), "rt-" + secrets.token_urlsafe(24)
        self.access.add(access)
        self.refresh.add(refresh)
        return {"access_token": access, "refresh_token": refresh, "expires_in": self.options.expires_in,
                "token_type": "bearer", "scope": SCOPE}


def make_handler(world, log_path):
    class Handler(BaseHTTPRequestHandler):
        protocol_version = "HTTP/1.1"

        def log_message(self, *args):
            pass

        def reply(self, status, body=b"", content_type="application/json", headers=()):
            if isinstance(body, (dict, list)):
                body = json.dumps(body).encode()
            self.send_response(status)
            self.send_header("Content-Type", content_type)
            self.send_header("Content-Length", str(len(body)))
            for name, value in headers:
                self.send_header(name, value)
            self.end_headers()
            if self.command != "HEAD":
                self.wfile.write(body)

        def envelope(self, result, info=None):
            payload = {"success": True, "errors": [], "messages": [], "result": result}
            if info is not None:
                payload["result_info"] = info
            self.reply(200, payload)

        def body(self):
            length = int(self.headers.get("Content-Length") or 0)
            return self.rfile.read(length) if length else b""

        def record(self, path, form, length):
            entry = {"method": self.command, "path": path, "host": self.headers.get("Host", ""),
                     "headers": {n.lower(): v for n, v in self.headers.items()}, "form": form, "length": length}
            with world.lock, open(log_path, "a") as log:
                log.write(json.dumps(entry) + "\n")

        def handle_any(self):
            data = self.body()
            url = urllib.parse.urlsplit(self.path)
            path, query = url.path, urllib.parse.parse_qs(url.query)
            oauth = path.startswith("/oauth2/")
            form = None
            if oauth and self.command == "POST":
                form = dict(urllib.parse.parse_qsl(data.decode("utf-8", "replace"), keep_blank_values=True))
            self.record(self.path, form, len(data))
            host = self.headers.get("Host", "").split(":")[0]
            with world.lock:
                public = [b for b in world.buckets.values() if b["domain"] == host]
            if public:
                return self.serve_public(public[0], path)
            if path.startswith("/s3/") and self.command == "PUT":
                return self.reply(200, b"", "text/plain", [("ETag", '"%s"' % hashlib.md5(data).hexdigest())])
            if path == "/oauth2/auth":
                return self.authorize(query)
            if path in ("/oauth2/token", "/oauth2/revoke"):
                if self.headers.get("Content-Type") != "application/x-www-form-urlencoded" or form is None \
                        or form.get("client_id") != CLIENT_ID:
                    return self.reply(400, {"error": "invalid_request"})
                return self.token(form) if path.endswith("token") else self.revoke(form)
            if path.startswith("/client/v4/accounts"):
                token = self.headers.get("Authorization", "")
                with world.lock:
                    known = token.startswith("Bearer ") and token[7:] in world.access
                if not known:
                    return self.reply(401, {"success": False, "errors": [{"code": 10000}]})
                return self.api(path[len("/client/v4"):], query, data)
            self.reply(404, {"success": False})

        do_GET = do_POST = do_PUT = do_DELETE = do_HEAD = handle_any

        def authorize(self, query):
            redirect = query.get("redirect_uri", [""])[0]
            if query.get("client_id", [""])[0] != CLIENT_ID or query.get("code_challenge_method", [""])[0] != "S256":
                return self.reply(400, {"error": "invalid_request"})
            code = "code-" + secrets.token_urlsafe(16)
            with world.lock:
                world.codes[code] = (query.get("code_challenge", [""])[0], redirect)
            location = redirect + "?" + urllib.parse.urlencode({"code": code, "state": query.get("state", [""])[0]})
            self.reply(302, b"", "text/plain", [("Location", location)])

        def token(self, form):
            with world.lock:
                if form.get("grant_type") == "authorization_code":
                    challenge, redirect = world.codes.pop(form.get("code", ""), (None, None))
                    if challenge is None or challenge != challenge_of(form.get("code_verifier", "")) \
                            or redirect != form.get("redirect_uri"):
                        return self.reply(400, {"error": "invalid_grant"})
                elif form.get("grant_type") == "refresh_token":
                    if form.get("refresh_token") not in world.refresh:
                        return self.reply(400, {"error": "invalid_grant"})
                    world.refresh.discard(form["refresh_token"])
                else:
                    return self.reply(400, {"error": "unsupported_grant_type"})
                tokens = world.issue()
            self.reply(200, tokens)

        def revoke(self, form):
            hint, token = form.get("token_type_hint"), form.get("token", "")
            with world.lock:
                pool = world.access if hint == "access_token" else world.refresh if hint == "refresh_token" else None
                if pool is None or token not in pool:
                    return self.reply(400, {"error": "invalid_request"})
                pool.discard(token)
            self.reply(200, b"{}")

        def api(self, path, query, data):
            parts = [urllib.parse.unquote(p) for p in path.split("/")[1:]]
            if parts == ["accounts"]:
                return self.envelope(world.accounts, {"page": 1, "per_page": 50, "total_pages": 1})
            if len(parts) < 4 or parts[0] != "accounts" or parts[2:4] != ["r2", "buckets"] \
                    or parts[1] not in [a["id"] for a in world.accounts]:
                return self.reply(404, {"success": False})
            if len(parts) == 4:
                return self.envelope({"buckets": [{"name": n} for n in world.buckets]}, {"cursor": ""})
            bucket = world.buckets.get(parts[4])
            if bucket is None:
                return self.reply(404, {"success": False})
            rest = parts[5:]
            if not rest:
                return self.envelope({"name": parts[4]})
            if rest == ["domains", "managed"]:
                return self.envelope({"domain": bucket["domain"], "enabled": True})
            if rest == ["domains", "custom"]:
                return self.envelope({"domains": []})
            if rest == ["lifecycle"]:
                if self.command == "PUT":
                    bucket["rules"] = json.loads(data)["rules"]
                    return self.envelope(None)
                return self.envelope({"rules": bucket["rules"]})
            if rest[0] == "objects" and len(rest) > 1:
                key = "/".join(path.split("/")[7:])
                key = urllib.parse.unquote(key)
                with world.lock:
                    objects = bucket["objects"]
                    if self.command == "PUT":
                        if self.headers.get("If-None-Match") == "*" and key in objects:
                            return self.reply(412, {"success": False})
                        objects[key] = data
                        return self.envelope({"key": key, "size": len(data)})
                    if key not in objects:
                        return self.reply(404, {"success": False})
                    if self.command == "DELETE":
                        del objects[key]
                        return self.envelope(None)
                    return self.reply(200, objects[key], "image/png")
            self.reply(404, {"success": False})

        def serve_public(self, bucket, path):
            key = urllib.parse.unquote(path.lstrip("/"))
            with world.lock:
                data = bucket["objects"].get(key)
            if data is None:
                return self.reply(404, b"not found", "text/plain")
            self.reply(200, data, "image/png")

    return Handler


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--log", required=True)
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--expires-in", type=float, default=3600)
    parser.add_argument("--account", action="append", default=[])
    parser.add_argument("--bucket", action="append", default=[])
    options = parser.parse_args()
    server = ThreadingHTTPServer(("127.0.0.1", options.port), make_handler(World(options), options.log))
    server.daemon_threads = True
    print("ready", server.server_address[1], flush=True)
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass
    sys.exit(0)


if __name__ == "__main__":
    main()
