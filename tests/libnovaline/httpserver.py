#!/usr/bin/env python3
"""Loopback HTTP server for the downloader tests.

Prints the port it listens on as the first line of standard output, then serves until
killed. With --tls CERT KEY it speaks HTTPS. Paths:
  /ok?size=N            N bytes of a fixed pattern, with Content-Length
  /text                 a UTF-8 text
  /chunked?size=N       N bytes in chunks, no Content-Length
  /slow?chunks=N&ms=M   N chunks of 100 bytes, one every M ms (Content-Length set)
  /redirect/N?size=S    a chain of N redirects ending at /ok?size=S
  /redirect-loop        redirects to itself forever
  /redirect-to?url=U    one redirect to U
  /status/C             answers with status C and a short body
  /stall?bytes=N        announces 1000 bytes, sends N, then stops sending (keeps the socket)
  /stall-headers        reads the request and never answers
  /cut                  announces 1000 bytes, sends 500 and closes the connection
  /file?path=P          the bytes of the local file P
"""
import os
import ssl
import sys
import threading
import time
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer
from urllib.parse import parse_qs, urlparse

PATTERN = bytes(range(256))


def pattern(size):
    reps = size // len(PATTERN) + 1
    return (PATTERN * reps)[:size]


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, fmt, *args):  # keep the test output quiet
        pass

    def send_body(self, body, status=200, ctype="application/octet-stream"):
        self.send_response(status)
        self.send_header("Content-Type", ctype)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def redirect(self, location):
        self.send_response(302)
        self.send_header("Location", location)
        self.send_header("Content-Length", "0")
        self.end_headers()

    def do_GET(self):
        url = urlparse(self.path)
        q = {k: v[0] for k, v in parse_qs(url.query).items()}
        path = url.path
        if path == "/ok":
            self.send_body(pattern(int(q.get("size", "100"))))
        elif path == "/text":
            self.send_body("Привет, мир: guide ✓".encode("utf-8"), ctype="text/plain; charset=utf-8")
        elif path == "/chunked":
            size = int(q.get("size", "100"))
            self.send_response(200)
            self.send_header("Transfer-Encoding", "chunked")
            self.end_headers()
            data = pattern(size)
            for i in range(0, size, 65536):
                part = data[i:i + 65536]
                try:
                    self.wfile.write(b"%x\r\n" % len(part) + part + b"\r\n")
                    self.wfile.flush()
                except OSError:
                    return
            self.wfile.write(b"0\r\n\r\n")
        elif path == "/slow":
            chunks, ms = int(q.get("chunks", "5")), int(q.get("ms", "100"))
            self.send_response(200)
            self.send_header("Content-Length", str(chunks * 100))
            self.end_headers()
            for _ in range(chunks):
                self.wfile.write(pattern(100))
                self.wfile.flush()
                time.sleep(ms / 1000.0)
        elif path.startswith("/redirect/"):
            n = int(path.rsplit("/", 1)[1])
            size = q.get("size", "100")
            if n <= 0:
                self.redirect("/ok?size=%s" % size)
            else:
                self.redirect("/redirect/%d?size=%s" % (n - 1, size))
        elif path == "/redirect-loop":
            self.redirect("/redirect-loop")
        elif path == "/redirect-to":
            self.redirect(q["url"])
        elif path.startswith("/status/"):
            code = int(path.rsplit("/", 1)[1])
            self.send_body(b"status body", status=code)
        elif path == "/stall":
            self.send_response(200)
            self.send_header("Content-Length", "1000")
            self.end_headers()
            self.wfile.write(pattern(int(q.get("bytes", "10"))))
            self.wfile.flush()
            time.sleep(60)
        elif path == "/stall-headers":
            time.sleep(60)
        elif path == "/cut":
            self.send_response(200)
            self.send_header("Content-Length", "1000")
            self.end_headers()
            self.wfile.write(pattern(500))
            self.wfile.flush()
            self.close_connection = True
        elif path == "/file":
            try:
                with open(q["path"], "rb") as f:
                    data = f.read()
            except OSError:
                self.send_body(b"no such file", status=404)
                return
            self.send_body(data)
        else:
            self.send_body(b"unknown path", status=404)


class Server(ThreadingHTTPServer):
    daemon_threads = True
    allow_reuse_address = True


def main():
    server = Server(("127.0.0.1", 0), Handler)
    if len(sys.argv) == 4 and sys.argv[1] == "--tls":
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(sys.argv[2], sys.argv[3])
        server.socket = context.wrap_socket(server.socket, server_side=True)
    print(server.server_address[1], flush=True)
    # End with the test: its end closes our standard input.
    threading.Thread(target=lambda: (sys.stdin.read(), os._exit(0)), daemon=True).start()
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass


if __name__ == "__main__":
    main()
