#!/usr/bin/env python3
"""Scripted HTTP server for what nginx never does: short bodies, wrong ranges, chunking, slow bodies.

Every request is appended to LOG as "target|Range|If-Range". Bodies are byte i = i % 251.

/m/FAULT/TIMES/TAG/pkg.bin and its ".meta" are a package of PKG_SIZE bytes served with ranges
and ETag "v1"; the first TIMES requests of a TAG (0: all of them) meet FAULT (see Package).

With a signing KEY (third argument), "PATH.sig" answers the publisher's signature of what PATH
serves when nothing goes wrong ("PATH.meta.sig" of the honest metadata), made by
../sign_tree.sh. Signature requests are neither logged nor counted, except the whole file's
signature of a package whose FAULT is a signature fault (the package itself is served right):
sigreset (the connection reset before a byte) and sighuge (a 200 announcing 16 MiB: 64 KiB,
a pause of 3 s, then the rest unless the client left during the pause). Those are logged as "target|sig|OUTCOME" (served, reset, whole,
cut) once the answer ended.
"""
import hashlib
import os
import select
import socket
import socketserver
import struct
import subprocess
import sys
import tempfile
import threading
import time

LOG_LOCK = threading.Lock()
SIZE = 1000
ETAG = '"v1"'
SLOW_SIZE = 1000000
FLAKY_PARTIAL = 12


PATTERN = bytes(range(251))


def body(start, end):
    if end <= start:
        return b""
    first = start % 251
    return (PATTERN * ((end - start + first) // 251 + 1))[first:first + end - start]


BLOCK = 1 << 20
PKG_SIZE = 4 * BLOCK + 12345
PKG = body(0, PKG_SIZE)
# Another version of the package: the same size, different bytes from its third MiB on.
PKG_V2 = PKG[:2 * BLOCK] + bytes(b ^ 0xA5 for b in PKG[2 * BLOCK:])
PKG_TIMEOUT = 20


def meta_of(data):
    return struct.pack("<q", len(data)) + b"".join(
        hashlib.sha1(data[i:i + BLOCK]).digest() for i in range(0, len(data), BLOCK))


PKG_META = meta_of(PKG)


# ".meta" of the slow package: its size, then the SHA-1 of each MiB (one block here).
SLOW_META = struct.pack("<q", SLOW_SIZE) + hashlib.sha1(body(0, SLOW_SIZE)).digest()

SIG_FAULTS = ("sigreset", "sighuge")
HUGE_SIG = 16 * BLOCK


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
            path = target.split("?", 1)[0]
            if path.endswith(".sig"):
                return self.signature(path[:-4])
            with LOG_LOCK, open(self.server.log_path, "a") as log:
                log.write(f"{target}|{rng}|{if_range}\n")
            start = 0
            if rng.startswith("bytes="):
                try:
                    start = int(rng[6:].split("-", 1)[0])
                except ValueError:
                    start = 0
            if path.startswith("/m/"):
                try:
                    package = Package(self, path, rng, if_range)
                except (IndexError, ValueError):
                    return self.send("404 Not Found", [("Content-Length", 0)])
                package.serve()
            else:
                self.route(path, start)
        except (ConnectionError, BrokenPipeError):
            pass

    def signature(self, path):
        if path.startswith("/m/") and path.split("/")[2] in SIG_FAULTS and not path.endswith(".meta"):
            return self.signature_fault(path)
        if path.startswith("/m/"):
            data = PKG_META if path.endswith(".meta") else PKG
        elif path.startswith("/slowpkg/"):
            data = SLOW_META if path.endswith(".meta") else body(0, SLOW_SIZE)
        elif path in ("/len500", "/chunked", "/redirect"):
            data = body(0, 500)
        else:
            data = body(0, SIZE)
        sig = self.server.sign(data)
        if sig is None:
            return self.send("404 Not Found", [("Content-Length", 0)])
        self.send("200 OK", [("Content-Length", len(sig))], sig)

    def signature_fault(self, path):
        _, _, fault, times, tag = path.split("/")[:5]
        key = (tag, "sig")
        with LOG_LOCK:
            count = self.server.hits.get(key, 0) + 1
            self.server.hits[key] = count
        outcome = "served"
        if int(times) == 0 or count <= int(times):
            if fault == "sigreset":
                outcome = "reset"
                self.reset()
            else:
                # The first piece, then a pause: a client that refuses the announced length has
                # left by its end (what it drains of the first piece is no sign either way).
                piece = bytes(65536)
                outcome = "cut"
                try:
                    self.send("200 OK", [("Content-Length", HUGE_SIG)], piece)
                    if not self.closed_within(3):
                        for _ in range(HUGE_SIG // len(piece) - 1):
                            self.wfile.write(piece)
                        self.wfile.flush()
                        outcome = "whole"
                except OSError:
                    pass
        else:
            sig = self.server.sign(PKG)
            if sig is None:
                outcome = "unsigned"
                self.send("404 Not Found", [("Content-Length", 0)])
            else:
                self.send("200 OK", [("Content-Length", len(sig))], sig)
        with LOG_LOCK, open(self.server.log_path, "a") as log:
            log.write(f"{path}.sig|sig|{outcome}\n")

    def reset(self):
        # Closing with a zero linger time sends a reset instead of a clean end.
        self.wfile.flush()
        self.connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
        self.wfile.close()
        self.rfile.close()
        self.connection.close()

    def stall(self, seconds):
        # Sends nothing more until the client gives up (or the bound passes).
        self.closed_within(seconds)

    def closed_within(self, seconds):
        """True when the client closes the connection before seconds pass."""
        self.wfile.flush()
        deadline = time.time() + seconds
        while time.time() < deadline:
            readable, _, _ = select.select([self.connection], [], [], 0.2)
            if readable and not self.connection.recv(4096):
                return True
        return False

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


class Package:
    """One request for /m/FAULT/TIMES/TAG/pkg.bin or its ".meta".

    Package faults: reset (a reset half-way through the body), short (at most 700 KiB, then a
    clean end), stall (half the body, then silence), badrange (a Content-Range one byte off),
    full200 (200 with the whole file to a ranged request), etag (the first answer is cut short;
    after it the package is another version with ETag "v2", If-Range honoured), oversize (1000
    bytes more than the range), chunked (a chunked 206), loop (302 to itself), status500, status503, die (40 %
    of the first answer, then the connection closes; every later request meets a reset),
    badblock (a wrong byte in block 1; the body stops after block 2, nothing comes for 3 s,
    then the connection closes).
    Metadata faults: metacut (the first answer cut short), metalen (one byte missing),
    metaother (the hashes of other bytes), metachunked. none serves everything right.
    """

    def __init__(self, handler, path, rng, if_range):
        self.h = handler
        parts = path.split("/")
        self.fault, self.times, self.tag = parts[2], int(parts[3]), parts[4]
        self.is_meta = path.endswith(".meta")
        self.rng, self.if_range = rng, if_range
        key = (self.tag, self.is_meta)
        with LOG_LOCK:
            self.count = self.h.server.hits.get(key, 0) + 1
            self.h.server.hits[key] = self.count
        self.active = self.times == 0 or self.count <= self.times

    def range_of(self, size):
        if not self.rng.startswith("bytes="):
            return None
        first, _, last = self.rng[6:].partition("-")
        try:
            first = int(first)
            last = min(int(last), size - 1) if last else size - 1
        except ValueError:
            return None
        return (first, last) if 0 <= first <= last else None

    def answer(self, data, etag, extra=None, limit=None):
        """200 or 206 as the Range header asks; the body is cut at limit bytes when given."""
        span = self.range_of(len(data))
        if span and self.if_range and self.if_range != etag:
            span = None
        headers = [("ETag", etag)]
        if span:
            first, last = span
            status = "206 Partial Content"
            headers.append(("Content-Range", f"bytes {first}-{last}/{len(data)}"))
            payload = data[first:last + 1]
        else:
            status, payload = "200 OK", data
        headers.append(("Content-Length", len(payload) + len(extra or b"")))
        payload += extra or b""
        self.h.send(status, headers, payload if limit is None else payload[:limit])

    def serve(self):
        h, fault = self.h, self.fault if self.active else "none"
        if self.is_meta:
            meta = PKG_META
            if fault == "metacut":
                return h.send("200 OK", [("Content-Length", len(meta)), ("ETag", '"m1"')], meta[:30])
            if fault == "metalen":
                meta = meta[:-1]
            elif fault == "metaother":
                meta = meta_of(PKG_V2)
            elif fault == "metachunked":
                return h.send("200 OK", [("Transfer-Encoding", "chunked")],
                              b"%x\r\n" % len(meta) + meta + b"\r\n0\r\n\r\n")
            return self.answer(meta, '"m1"')
        span = self.range_of(PKG_SIZE) or (0, PKG_SIZE - 1)
        length = span[1] - span[0] + 1
        if fault == "reset":
            self.answer(PKG, ETAG, limit=length // 2)
            h.reset()
        elif fault == "short":
            self.answer(PKG, ETAG, limit=700 * 1024)
        elif fault == "stall":
            self.answer(PKG, ETAG, limit=length // 2)
            h.stall(PKG_TIMEOUT)
        elif fault == "badrange":
            first = span[0] + 1 if span[0] + 1 < PKG_SIZE else 0
            h.send("206 Partial Content", [("Content-Range", f"bytes {first}-{PKG_SIZE - 1}/{PKG_SIZE}"),
                                           ("Content-Length", PKG_SIZE - first), ("ETag", ETAG)], PKG[first:])
        elif fault == "full200":
            h.send("200 OK", [("Content-Length", PKG_SIZE), ("ETag", ETAG)], PKG)
        elif fault == "etag":
            if self.count == 1:
                self.answer(PKG, ETAG, limit=length // 2)
            else:
                self.answer(PKG_V2, '"v2"')
        elif fault == "oversize":
            self.answer(PKG, ETAG, extra=body(0, 1000))
        elif fault == "chunked":
            data = PKG[span[0]:span[1] + 1]
            step = 256 * 1024
            chunks = b"".join(b"%x\r\n" % len(data[i:i + step]) + data[i:i + step] + b"\r\n"
                              for i in range(0, len(data), step))
            h.send("206 Partial Content", [("Content-Range", f"bytes {span[0]}-{span[1]}/{PKG_SIZE}"),
                                           ("Transfer-Encoding", "chunked"), ("ETag", ETAG)],
                   chunks + b"0\r\n\r\n")
        elif fault == "loop":
            # Bounded here so a client that never stops following ends all the same.
            if self.count > 100:
                return h.send("508 Loop Detected", [("Content-Length", 0)])
            h.send("302 Found", [("Location", f"/m/loop/{self.times}/{self.tag}/pkg.bin"), ("Content-Length", 0)])
        elif fault == "badblock":
            # Only a client that checks each block as it arrives can stop and ask again at once. The
            # body runs on past block 1 by a whole read: a pending read may hold its last bytes.
            wrong = bytearray(PKG)
            wrong[BLOCK + 100] ^= 0xFF
            self.answer(bytes(wrong), ETAG, limit=max(0, 3 * BLOCK - span[0]))
            # Some WinINet closes a request only once its pending read returns: a short stall
            # keeps the wait for that short, and still far too long for the body to be whole.
            h.stall(3)
        elif fault == "status500":
            h.send("500 Internal Server Error", [("Content-Length", 5)], b"oops\n")
        elif fault == "die":
            # The server dies 40 % into the package (its connection closed as a killed process's
            # is); every later request meets a reset before a byte.
            if self.count == 1:
                self.answer(PKG, ETAG, limit=PKG_SIZE * 2 // 5)
            else:
                h.reset()
        elif fault == "status503":
            h.send("503 Service Unavailable", [("Content-Length", 5), ("Retry-After", 3600)], b"busy\n")
        else:
            self.answer(PKG, ETAG)


class Server(socketserver.ThreadingMixIn, socketserver.TCPServer):
    daemon_threads = True
    allow_reuse_address = True
    hits = {}
    key = None
    signatures = {}

    def sign(self, data):
        if not self.key:
            return None
        with LOG_LOCK:
            if data not in self.signatures:
                with tempfile.TemporaryDirectory() as work:
                    name = os.path.join(work, "published")
                    with open(name, "wb") as f:
                        f.write(data)
                    subprocess.run([os.path.join(os.path.dirname(os.path.abspath(__file__)), "../sign_tree.sh"),
                                    self.key, name], check=True)
                    with open(name + ".sig", "rb") as f:
                        self.signatures[data] = f.read()
            return self.signatures[data]


def main():
    port_file, log_path = sys.argv[1], sys.argv[2]
    server = Server(("127.0.0.1", 0), Handler)
    server.log_path = log_path
    server.key = sys.argv[3] if len(sys.argv) > 3 and sys.argv[3] else None
    with open(port_file, "w") as f:
        f.write(str(server.server_address[1]))
    server.serve_forever()


if __name__ == "__main__":
    main()
