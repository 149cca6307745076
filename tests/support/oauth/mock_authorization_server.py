#!/usr/bin/env python3
"""A mock OAuth 2.0 authorization server for tests: HTTPS on loopback with the test CA.

  mock_authorization_server.py CERT KEY UNTRUSTED_CERT UNTRUSTED_KEY PORTS_FILE

Serves on two ports of 127.0.0.1 chosen by the system, written to PORTS_FILE as
"HTTPS_PORT=..." and "UNTRUSTED_PORT=..." lines once both listen: the first with CERT (signed by
the test CA), the second with UNTRUSTED_CERT (which no test trusts).

What a request does depends on its client_id, so that tests running at the same time never
switch each other's behaviour:
  /authorize  "deny": error=access_denied; "wrong-state": another state; "wrong-issuer": the
              iss of another server; "no-redirect": a page and no redirect (a browser that
              never comes back); any other: a one-use code. Redirects go to loopback only.
  /token      authorization_code: the code once, for the same client and redirect_uri, with
              the verifier whose S256 is the challenge. refresh_token: only the current one of
              its chain, replaced on every use. Client "invalid-grant": every refresh is refused;
              client "oversized": every reply is 1 MiB. device_code: see /devicecode.
  /devicecode POST client_id, scope: a device code whose polls the client id scripts, as
              "answers=A,B,...;interval=N;expires=N": each poll of /token gets the next answer,
              an OAuth error code (authorization_pending, slow_down, expired_token, ...) or
              "tokens", and expired_token once they run out. No interval: none in the reply;
              expires defaults to 900; "refuse=ERROR" refuses the request itself. Any other
              client id: tokens at the first poll.
  /tokeninfo  ?access_token=...: {"email": ..., "active": true}, or 401 (for Dovecot).
  /mint       POST email=...: a fresh access token for that address (tests of the mail server).
"""
import base64
import hashlib
import http.server
import json
import os
import secrets
import ssl
import sys
import threading
import urllib.parse

MAX_BODY = 64 * 1024
ACCESS_LIFETIME = 3600
DEFAULT_EMAIL = "user@example.test"

lock = threading.Lock()
codes = {}     # code -> dict(client, challenge, redirect_uri, email, scope)
refresh = {}   # refresh token -> dict(client, email, scope)
devices = {}   # device code -> dict(client, scope, answers left)
access = {}    # access token -> email
issuer = ""


def s256(verifier):
    digest = hashlib.sha256(verifier.encode("ascii")).digest()
    return base64.urlsafe_b64encode(digest).rstrip(b"=").decode("ascii")


def single(query):
    """Parameters given once; a repeated one makes the request invalid."""
    values = {}
    for name, value in urllib.parse.parse_qsl(query, keep_blank_values=True):
        if name in values:
            return None
        values[name] = value
    return values


def issue_tokens(client, email, scope):
    token = secrets.token_urlsafe(32)
    new_refresh = secrets.token_urlsafe(32)
    access[token] = email
    refresh[new_refresh] = {"client": client, "email": email, "scope": scope}
    return {"access_token": token, "token_type": "Bearer", "expires_in": ACCESS_LIFETIME,
            "refresh_token": new_refresh, "scope": scope}


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    timeout = 10

    def log_message(self, format, *args):
        sys.stderr.write("mock: " + (format % args) + "\n")

    def answer(self, status, body, content_type="application/json", headers=()):
        data = body if isinstance(body, bytes) else body.encode("utf-8")
        self.send_response(status)
        self.send_header("Content-Type", content_type)
        self.send_header("Content-Length", str(len(data)))
        self.send_header("Cache-Control", "no-store")
        for name, value in headers:
            self.send_header(name, value)
        self.end_headers()
        self.wfile.write(data)

    def answer_json(self, status, value):
        self.answer(status, json.dumps(value))

    def do_GET(self):
        path, _, query = self.path.partition("?")
        params = single(query)
        if params is None:
            self.answer_json(400, {"error": "invalid_request"})
        elif path == "/authorize":
            self.authorize(params)
        elif path == "/tokeninfo":
            with lock:
                email = access.get(params.get("access_token", ""))
            if email is None:
                self.answer_json(401, {"error": "invalid_token"})
            else:
                self.answer_json(200, {"email": email, "active": True, "scope": "mail"})
        else:
            self.answer_json(404, {"error": "not_found"})

    def do_POST(self):
        length = int(self.headers.get("Content-Length", "0") or "0")
        if length > MAX_BODY:
            self.answer_json(413, {"error": "invalid_request"})
            return
        form = single(self.rfile.read(length).decode("utf-8", "replace"))
        if form is None:
            self.answer_json(400, {"error": "invalid_request"})
        elif form.get("client_id") == "oversized":
            self.answer(200, b"{" + b" " * (1024 * 1024) + b"}")
        elif self.path == "/token":
            self.token(form)
        elif self.path == "/devicecode":
            self.device_code(form)
        elif self.path == "/mint":
            with lock:
                token = secrets.token_urlsafe(32)
                access[token] = form.get("email", DEFAULT_EMAIL)
            self.answer_json(200, {"access_token": token})
        else:
            self.answer_json(404, {"error": "not_found"})

    def authorize(self, params):
        client = params.get("client_id", "")
        redirect_uri = params.get("redirect_uri", "")
        state = params.get("state", "")
        if (params.get("response_type") != "code" or params.get("code_challenge_method") != "S256"
                or not params.get("code_challenge") or not client
                or not redirect_uri.startswith("http://127.0.0.1:")):
            self.answer_json(400, {"error": "invalid_request"})
            return
        if client == "no-redirect":
            self.answer(200, "<html><body>Sign in here.</body></html>", "text/html")
            return
        reply = {"state": state, "iss": issuer}
        if client == "deny":
            reply["error"] = "access_denied"
        else:
            code = secrets.token_urlsafe(24)
            with lock:
                codes[code] = {"client": client, "challenge": params["code_challenge"],
                               "redirect_uri": redirect_uri, "scope": params.get("scope", ""),
                               "email": params.get("login_hint") or DEFAULT_EMAIL}
            reply["code"] = code
        if client == "wrong-state":
            reply["state"] = state + "x"
        if client == "wrong-issuer":
            reply["iss"] = "https://issuer.invalid"
        location = redirect_uri + "?" + urllib.parse.urlencode(reply)
        self.answer(302, "", "text/html", [("Location", location)])

    def device_code(self, form):
        client = form.get("client_id", "")
        script = dict(part.partition("=")[::2] for part in client.split(";"))
        if not client or not form.get("scope"):
            self.answer_json(400, {"error": "invalid_request"})
        elif "refuse" in script:
            self.answer_json(400, {"error": script["refuse"]})
        else:
            code = secrets.token_urlsafe(32)
            answers = script["answers"].split(",") if "answers" in script else ["tokens"]
            with lock:
                devices[code] = {"client": client, "scope": form["scope"], "answers": answers}
            reply = {"device_code": code, "user_code": secrets.token_hex(4).upper(),
                     "verification_uri": issuer + "/device", "expires_in": int(script.get("expires", "900")),
                     "message": "To sign in, open the page and enter the code."}
            if "interval" in script:
                reply["interval"] = int(script["interval"])
            self.answer_json(200, reply)

    def device_poll(self, form):
        with lock:
            entry = devices.get(form.get("device_code", ""))
            if entry is None or entry["client"] != form.get("client_id"):
                answer = "bad_verification_code"
            else:
                answer = entry["answers"].pop(0) if entry["answers"] else "expired_token"
            if answer == "tokens":
                del devices[form["device_code"]]
                reply = issue_tokens(entry["client"], DEFAULT_EMAIL, entry["scope"])
        if answer == "tokens":
            self.answer_json(200, reply)
        else:
            self.answer_json(400, {"error": answer})

    def token(self, form):
        client = form.get("client_id", "")
        grant = form.get("grant_type")
        if grant == "urn:ietf:params:oauth:grant-type:device_code":
            self.device_poll(form)
            return
        with lock:
            if grant == "authorization_code":
                entry = codes.pop(form.get("code", ""), None)
                good = (entry is not None and entry["client"] == client
                        and entry["redirect_uri"] == form.get("redirect_uri")
                        and s256(form.get("code_verifier", "")) == entry["challenge"])
                reply = issue_tokens(client, entry["email"], entry["scope"]) if good else None
            elif grant == "refresh_token":
                entry = refresh.pop(form.get("refresh_token", ""), None)
                good = entry is not None and entry["client"] == client and client != "invalid-grant"
                reply = issue_tokens(client, entry["email"], entry["scope"]) if good else None
            else:
                self.answer_json(400, {"error": "unsupported_grant_type"})
                return
        if reply is None:
            self.answer_json(400, {"error": "invalid_grant", "error_description": "refused"})
        else:
            self.answer_json(200, reply)


class Server(http.server.ThreadingHTTPServer):
    daemon_threads = True


def serve(cert, key):
    server = Server(("127.0.0.1", 0), Handler)
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.minimum_version = ssl.TLSVersion.TLSv1_2
    context.load_cert_chain(cert, key)
    # The handshake on the handler's thread, so that a client that never starts one holds only that.
    server.socket = context.wrap_socket(server.socket, server_side=True, do_handshake_on_connect=False)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server.server_address[1]


def main():
    global issuer
    cert, key, untrusted_cert, untrusted_key, ports_file = sys.argv[1:6]
    port = serve(cert, key)
    issuer = "https://localhost:%d" % port
    untrusted = serve(untrusted_cert, untrusted_key)
    temporary = ports_file + ".new"
    with open(temporary, "w") as out:
        out.write("HTTPS_PORT=%d\nUNTRUSTED_PORT=%d\n" % (port, untrusted))
    os.replace(temporary, ports_file)
    threading.Event().wait()


if __name__ == "__main__":
    main()
