#!/usr/bin/env python3
"""Loopback HTTP server for the vlcqt tests.

  endless_server.py DIR [SECONDS]

/live/<name>   DIR/<name> looped without end and without Content-Length, each round
               spread over SECONDS (the clip's duration, default 3): a live stream
/silent/...    accepts the request and never answers
/media/<name>  DIR/<name> as a plain file
Prints "PORT <n>" as its first line. Ends when stdin closes.
"""
import http.server
import os
import socketserver
import sys
import threading
import time


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.0"

    def log_message(self, *args):
        pass

    def do_GET(self):
        root = self.server.root
        if self.path.startswith("/silent"):
            time.sleep(600)
            return
        if self.path.startswith("/live/") or self.path.startswith("/media/"):
            name = os.path.basename(self.path.split("?")[0])
            path = os.path.join(root, name)
            if not os.path.isfile(path):
                self.send_error(404)
                return
            with open(path, "rb") as f:
                data = f.read()
            self.send_response(200)
            self.send_header("Content-Type", "video/mp2t")
            if self.path.startswith("/media/"):
                self.send_header("Content-Length", str(len(data)))
                self.end_headers()
                self.wfile.write(data)
                return
            self.end_headers()
            chunk = 188 * 64
            pause = self.server.seconds * chunk / max(len(data), 1)
            try:
                # Paced like a live source, slightly ahead of real time.
                while True:
                    for i in range(0, len(data), chunk):
                        self.wfile.write(data[i:i + chunk])
                        time.sleep(pause * 0.9)
            except (BrokenPipeError, ConnectionResetError):
                return
        self.send_error(404)


class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True


def main():
    server = Server(("127.0.0.1", 0), Handler)
    server.root = sys.argv[1]
    server.seconds = float(sys.argv[2]) if len(sys.argv) > 2 else 3.0
    print("PORT %d" % server.server_address[1], flush=True)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    sys.stdin.read()  # the test closes our stdin (or dies) when it is done


if __name__ == "__main__":
    main()
