#!/usr/bin/env python3
"""Scripted HTTP server for what nginx never does: short bodies, wrong ranges, chunking, slow bodies.

Every request is appended to LOG as "target|Range|If-Range". Bodies are byte i = i % 251.
"""
import hashlib
import socket
import socketserver
import struct
import sys
import threading
import time

LOG_LOCK = threading.Lock()
SIZE = 1000
ETAG = '"v1"'
SLOW_SIZE = 1000000
FLAKY_PARTIAL = 12


def body(start, end):
    return bytes(i % 251 for i in range(start, end))


# ".meta" of the slow package: its size, then the SHA-1 of each MiB (one block here).
SLOW_META = struct.pack("<q", SLOW_SIZE) + hashlib.sha1(body(0, SLOW_SIZE)).digest()


class Handler(socketserver.StreamRequestHandler):
    def send(self, status, headers, data=b"", close=True):
        lines = [f"HTTP/1.1 {status}"] + [f"{k}: {v}" for k, v in headers]
        if close:
            lines.append("Connection: close")
        self.wfile.write(("\r\n".join(lines) + "\r\n\r\n").encode("latin-1") + data)
        self.wfile.flush()

    def handle(self):
        try:
            request_line = self.rfile.readline(8192).decode("latin-1").strip()
            headers = {}
            while True:
                line = self.rfile.readline(8192).decode("latin-1")
                if line in ("\r\n", "\n", ""):
                    break
                name, _, value = line.partition(":")
                headers[name.strip().lower()] = value.strip()
            parts = request_line.split()
            if len(parts) < 2:
                return
            target = parts[1]
            rng = headers.get("range", "")
            if_range = headers.get("if-range", "")
            with LOG_LOCK, open(self.server.log_path, "a") as log:
                log.write(f"{target}|{rng}|{if_range}\n")
            path = target.split("?", 1)[0]
            start = 0
            if rng.startswith("bytes="):
                try:
                    start = int(rng[6:].split("-", 1)[0])
                except ValueError:
                    start = 0
            self.route(path, start)
        except (ConnectionError, BrokenPipeError):
            pass

    def short_first(self):
        # Announces the whole file, sends 400 bytes, closes cleanly.
        self.send("200 OK", [("Content-Length", SIZE), ("ETag", ETAG)], body(0, 400))

    def route(self, path, start):
        if path == "/range100":
            self.send("206 Partial Content", [("Content-Range", "bytes 100-199/1000"), ("Content-Length", 100)],
                      body(100, 200))
        elif path == "/len500":
            self.send("200 OK", [("Content-Length", 500), ("ETag", ETAG)], body(0, 500))
        elif path == "/nolen":
            self.send("200 OK", [], body(0, 300))
        elif path == "/badcr":
            self.send("206 Partial Content", [("Content-Range", "bytes abc"), ("Content-Length", 50)], body(0, 50))
        elif path == "/short":
            if start == 0:
                self.short_first()
            else:
                self.send("206 Partial Content", [("Content-Range", f"bytes {start}-{SIZE - 1}/{SIZE}"),
                                                  ("Content-Length", SIZE - start), ("ETag", ETAG)],
                          body(start, SIZE))
        elif path == "/short200":
            if start == 0:
                self.short_first()
            else:
                self.send("200 OK", [("Content-Length", SIZE), ("ETag", ETAG)], body(0, SIZE))
        elif path == "/stuck":
            if start == 0:
                self.short_first()
            else:
                self.send("206 Partial Content", [("Content-Range", f"bytes {start}-{SIZE - 1}/{SIZE}"),
                                                  ("Content-Length", SIZE - start), ("ETag", ETAG)])
        elif path == "/chunked":
            data = body(0, 500)
            chunked = b"".join(b"%x\r\n" % 100 + data[i:i + 100] + b"\r\n" for i in range(0, 500, 100)) + b"0\r\n\r\n"
            self.send("200 OK", [("Transfer-Encoding", "chunked")], chunked)
        elif path == "/longresume":
            if start == 0:
                self.short_first()
            else:
                self.send("206 Partial Content", [("Content-Range", f"bytes {start}-{SIZE - 1}/{SIZE}"),
                                                  ("Content-Length", SIZE - start + 100)], body(start, SIZE + 100))
        elif path == "/long206":
            self.send("206 Partial Content", [("Content-Range", f"bytes 0-{SIZE - 1}/{SIZE}"),
                                              ("Content-Length", 1200)], body(0, 1200))
        elif path == "/long200":
            self.send("200 OK", [("Content-Length", 1200), ("ETag", ETAG)], body(0, 1200))
        elif path == "/status404":
            self.send("404 Not Found", [("Content-Length", 9)], b"not found")
        elif path == "/redirect":
            self.send("302 Found", [("Location", "/len500"), ("Content-Length", 0)])
        elif path == "/trickle":
            # 100 bytes every 50 ms, for at most 30 s: a slow download a client can cancel.
            self.send("200 OK", [("Content-Length", 1000000), ("ETag", ETAG)], body(0, 100), close=False)
            sent, deadline = 100, time.time() + 30
            while time.time() < deadline and sent < 1000000:
                time.sleep(0.05)
                self.wfile.write(body(sent, sent + 100))
                self.wfile.flush()
                sent += 100
        elif path.startswith("/slowpkg/"):
            # A slow package with its metadata, so a resumable download can be stopped mid-way.
            if path.endswith(".meta"):
                meta = SLOW_META
                self.send("200 OK", [("Content-Length", len(meta)), ("ETag", ETAG)], meta)
            else:
                self.trickle(start)
        elif path.startswith("/flaky/"):
            # The first FLAKY_PARTIAL requests of a path get a short body, later ones none at all.
            with LOG_LOCK:
                count = self.server.hits.get(path, 0) + 1
                self.server.hits[path] = count
            if count <= FLAKY_PARTIAL:
                self.short_first()
            else:
                self.send("200 OK", [("Content-Length", SIZE), ("ETag", ETAG)])
        else:
            self.send("404 Not Found", [("Content-Length", 0)])

    def trickle(self, start):
        if start:
            self.send("206 Partial Content", [("Content-Range", f"bytes {start}-{SLOW_SIZE - 1}/{SLOW_SIZE}"),
                                              ("Content-Length", SLOW_SIZE - start), ("ETag", ETAG)],
                      body(start, start + 100), close=False)
        else:
            self.send("200 OK", [("Content-Length", SLOW_SIZE), ("ETag", ETAG)], body(0, 100), close=False)
        sent, deadline = start + 100, time.time() + 30
        while time.time() < deadline and sent < SLOW_SIZE:
            time.sleep(0.05)
            self.wfile.write(body(sent, sent + 100))
            self.wfile.flush()
            sent += 100


class Server(socketserver.ThreadingMixIn, socketserver.TCPServer):
    daemon_threads = True
    allow_reuse_address = True
    hits = {}


def main():
    port_file, log_path = sys.argv[1], sys.argv[2]
    server = Server(("127.0.0.1", 0), Handler)
    server.log_path = log_path
    with open(port_file, "w") as f:
        f.write(str(server.server_address[1]))
    server.serve_forever()


if __name__ == "__main__":
    main()
