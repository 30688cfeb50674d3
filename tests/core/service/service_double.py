#!/usr/bin/env python3
"""Installer web-service double over HTTPS for the tests.

service_double.py STATE_DIR

Listens on a free port of 127.0.0.1 and writes it to STATE_DIR/port. Every request is recorded
as STATE_DIR/requests/NNNNNN.body (raw body) and NNNNNN.head ("VERB PATH" then the headers as
received); the .head file appears last, so a test that sees it can read both.

A CONNECT (a client using the double as its proxy) is recorded and refused with 502.

Answers: "/status/NNN" answers NNN (with a Location header); any other path answers with the
body of STATE_DIR/answers/<last path segment> and the status in <segment>.status when those
files exist, else 200 and an empty body; <segment>.location adds a Location header. In an
answer, "{segment}" stands for the last path segment of the URL the request's body names.
"""
import http.server
import os
import ssl
import subprocess
import sys
import threading

STATE = sys.argv[1]
REQUESTS = os.path.join(STATE, "requests")
ANSWERS = os.path.join(STATE, "answers")
lock = threading.Lock()
counter = [0]


def write_atomic(path, data):
    tmp = path + ".tmp"
    with open(tmp, "wb") as f:
        f.write(data)
    os.replace(tmp, path)


def check_archive(path):
    """Info-ZIP's verdict on an uploaded archive: "rc=N" then the output of unzip -t and zipinfo."""
    test = subprocess.run(["unzip", "-t", path], capture_output=True)
    info = subprocess.run(["zipinfo", path], capture_output=True)
    return b"rc=%d\n" % test.returncode + test.stdout + info.stdout


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.0"
    timeout = 20

    def log_message(self, fmt, *args):
        sys.stderr.write("%s\n" % (fmt % args))

    def record(self, body):
        head = "%s %s\r\n" % (self.command, self.path)
        head += "".join("%s: %s\r\n" % (k, v) for k, v in self.headers.items())
        with lock:
            counter[0] += 1
            name = os.path.join(REQUESTS, "%06d" % counter[0])
            write_atomic(name + ".body", body)
            if self.command == "PUT":
                write_atomic(name + ".unzip", check_archive(name + ".body"))
            write_atomic(name + ".head", head.encode("latin-1"))

    def answer(self, request_body=b""):
        segment = self.path.split("?")[0].rstrip("/").rsplit("/", 1)[-1]
        if self.path.startswith("/status/"):
            status = int(segment)
            return status, b"", {"Location": "/status/200"}
        status, body = 200, b""
        answer = os.path.join(ANSWERS, segment)
        if os.path.exists(answer):
            with open(answer, "rb") as f:
                body = f.read()
        if os.path.exists(answer + ".status"):
            with open(answer + ".status") as f:
                status = int(f.read().strip())
        if b"{segment}" in body:
            named = request_body.decode("latin-1").split("?")[0].rstrip("/").rsplit("/", 1)[-1]
            body = body.replace(b"{segment}", named.encode("latin-1"))
        extra = {}
        if os.path.exists(answer + ".location"):
            with open(answer + ".location") as f:
                extra["Location"] = f.read().strip()
        return status, body, extra

    def handle_any(self):
        length = int(self.headers.get("Content-Length") or 0)
        body = self.rfile.read(length) if length else b""
        self.record(body)
        status, data, extra = self.answer(body)
        try:
            self.send_response(status)
            for k, v in extra.items():
                self.send_header(k, v)
            self.send_header("Content-Length", str(len(data)))
            self.end_headers()
            self.wfile.write(data)
        except OSError:
            pass   # report senders close without reading the answer

    do_GET = do_POST = do_PUT = do_HEAD = handle_any

    def do_CONNECT(self):
        # Recorded and refused: a proxy test only needs to see that the client came this way.
        self.record(b"")
        try:
            self.send_response(502)
            self.send_header("Content-Length", "0")
            self.end_headers()
        except OSError:
            pass


class Server(http.server.ThreadingHTTPServer):
    daemon_threads = True

    def handle_error(self, request, client_address):
        pass   # clients that drop the connection are expected


def main():
    os.makedirs(REQUESTS, exist_ok=True)
    os.makedirs(ANSWERS, exist_ok=True)
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(os.path.join(STATE, "server.pem"), os.path.join(STATE, "server.key"))
    server = Server(("127.0.0.1", 0), Handler)
    server.socket = context.wrap_socket(server.socket, server_side=True, do_handshake_on_connect=False)
    write_atomic(os.path.join(STATE, "port"), str(server.server_address[1]).encode())
    server.serve_forever()


if __name__ == "__main__":
    main()
