#!/usr/bin/env python3
"""Loopback HTTP server for the tests and the demo.

Serves files under --root with a strong ETag and Last-Modified, and honours
"Range: bytes=N-" and "bytes=N-M" (with If-Range). A file's query string changes how it is served:
  chunk=K&delay=MS      in pieces of K bytes, MS milliseconds apart
  cut=N                 every answer ends after N bytes of its body (the connection closes)
  cutonce=N             only the first answer does
  then=PATH             after the first answer, the file PATH is served in its place
  norange=1             Range is ignored: always the whole file
  novalidator=1         no ETag and no Last-Modified (a plain Range is still honoured)
  statusonce=CODE       the first request gets that status
  align=K               a range is answered from the K-aligned offset at or before the one asked
                        for, its Content-Range saying so
  othertotal=N          the file is served as one N bytes longer (its ranges and the whole)
  shiftrange=K          a range is answered from K bytes after the offset asked for, its
                        Content-Range saying so
  badrange=1            a range's answer carries a Content-Range that isn't one
  stallonce=N           the first answer sends N bytes of its body, then nothing until the client
                        gives up
and a few paths have fixed behaviours:
  /data/N               200, N bytes of a fixed pattern
  /status/CODE          that status with a small HTML error page
  /redirect/N           302 to /data/N
  /short/N              Content-Length N, but only N/2 bytes, then the connection closes
  /reset/N              Content-Length N, N/2 bytes, then a TCP reset
  /empty                200 with an empty body
  /nolength/N           N bytes without Content-Length, ended by closing
  /slow/N?chunk=K&delay=MS   N bytes in pieces of K bytes, MS milliseconds apart
  /hang                 reads the request and answers nothing, until the client gives up
  /stall/N?after=K      Content-Length N, K bytes of it, then silence until the client gives up
  FILE.hang beside a served file (or beside the report path) makes that path hang too
  FILE.busy beside a served file: its next request gets 503 (and the marker goes)
  /endless              200 without Content-Length, a body without end
  /lua/common/data_report_to_appsvr   the usage report: answered with 4 MB, logged when read to the end
Every request line is appended to ROOT/requests.log, followed for a file or
/endless by "range PATH VALUE IF-RANGE" when it asked for a range and by
"sent PATH BYTES" when its answer ends, and by "revalidate PATH" when the
request asked caches to revalidate (Cache-Control: no-cache).
"""
import argparse
import email.utils
import hashlib
import http.server
import os
import re
import socket
import struct
import sys
import threading
import time
import urllib.parse


def pattern(n):
    return bytes((i * 7 + 3) % 251 for i in range(n))


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.0"
    server_version = "VnkTestServer/1"

    def log_message(self, fmt, *args):
        pass

    def _log_request(self):
        self._log_line(self.path)

    def _log_line(self, line):
        with self.server.log_lock:
            with open(os.path.join(self.server.root, "requests.log"), "a", encoding="utf-8") as log:
                log.write(line + "\n")

    def _hold(self, seconds=300):
        """Keeps the connection open and silent until the client closes it."""
        try:
            self.wfile.flush()
            self.connection.settimeout(0.5)
        except OSError:
            return
        end = time.time() + seconds
        while time.time() < end:
            try:
                if not self.connection.recv(1024):
                    break
            except socket.timeout:
                continue
            except OSError:
                break
        self.close_connection = True
        self._log_line("hang ended " + self.path)

    def _hangs(self, path):
        root = os.path.realpath(self.server.root)
        return os.path.isfile(os.path.join(root, urllib.parse.unquote(path).lstrip("/")) + ".hang")

    def _busy(self, path):
        marker = os.path.join(os.path.realpath(self.server.root), urllib.parse.unquote(path).lstrip("/")) + ".busy"
        try:
            os.remove(marker)
            return True
        except OSError:
            return False

    def _send(self, status, body, length=None, extra=None):
        self.send_response(status)
        self.send_header("Content-Type", "application/octet-stream")
        if length is not False:
            self.send_header("Content-Length", str(len(body) if length is None else length))
        for key, value in (extra or {}).items():
            self.send_header(key, value)
        self.end_headers()

    def do_GET(self):
        self._log_request()
        if "no-cache" in (self.headers.get("Cache-Control") or ""):
            self._log_line("revalidate " + self.path)
        url = urllib.parse.urlsplit(self.path)
        parts = url.path.strip("/").split("/")
        query = urllib.parse.parse_qs(url.query)
        head = parts[0] if parts else ""
        arg = int(parts[1]) if len(parts) > 1 and parts[1].isdigit() else 0
        if head == "hang" or self._hangs(url.path):
            self._hold()
        elif self._busy(url.path):
            body = b"<html><body>busy</body></html>"
            self._send(503, body)
            self.wfile.write(body)
        elif head == "stall":
            after = int(query.get("after", ["0"])[0])
            self._send(200, b"", length=arg)
            self.wfile.write(pattern(arg)[:after])
            self._hold()
        elif head == "data" and len(parts) == 2:
            body = pattern(arg)
            self._send(200, body)
            self.wfile.write(body)
        elif head == "status":
            body = b"<html><body>error %d</body></html>" % arg
            self._send(arg, body)
            self.wfile.write(body)
        elif head == "redirect":
            self._send(302, b"", extra={"Location": "/data/%d" % arg})
        elif head == "empty":
            self._send(200, b"")
        elif head == "short":
            self._send(200, b"", length=arg)
            self.wfile.write(pattern(arg)[: arg // 2])
            self.wfile.flush()
            self.close_connection = True
        elif head == "reset":
            self._send(200, b"", length=arg)
            self.wfile.write(pattern(arg)[: arg // 2])
            self.wfile.flush()
            time.sleep(0.1)
            self.connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
            self.connection.close()
            self.close_connection = True
        elif head == "nolength":
            self._send(200, b"", length=False)
            self.wfile.write(pattern(arg))
            self.close_connection = True
        elif head == "slow":
            chunk = int(query.get("chunk", ["1024"])[0])
            delay = int(query.get("delay", ["50"])[0]) / 1000.0
            body = pattern(arg)
            self._send(200, body)
            try:
                for start in range(0, len(body), chunk):
                    self.wfile.write(body[start:start + chunk])
                    self.wfile.flush()
                    time.sleep(delay)
            except (BrokenPipeError, ConnectionResetError):
                pass
        elif head == "endless":
            self._send(200, b"", length=False)
            sent = 0
            try:
                block = pattern(65536)
                while True:
                    self.wfile.write(block)
                    sent += len(block)
            except (BrokenPipeError, ConnectionResetError):
                pass
            self._log_line("sent %s %d" % (self.path, sent))
            self.close_connection = True
        elif url.path == "/lua/common/data_report_to_appsvr":
            # Large enough that the write only ends when the client reads it all.
            body = b"r" * 4000000
            self._send(200, body)
            try:
                self.wfile.write(body)
                self.wfile.flush()
                self._log_line("report answer read completely")
            except (BrokenPipeError, ConnectionResetError):
                self._log_line("report answer cut off")
        else:
            self._serve_file(url.path, query)

    def _serve_file(self, path, query):
        root = os.path.realpath(self.server.root)
        with self.server.log_lock:
            self.server.answers[self.path] = answer = self.server.answers.get(self.path, 0) + 1
        option = lambda name, default=None: query.get(name, [default])[0]
        if answer > 1 and option("then"):
            path = "/" + option("then")
        full = os.path.realpath(os.path.join(root, urllib.parse.unquote(path).lstrip("/")))
        if not full.startswith(root + os.sep) or not os.path.isfile(full):
            body = b"<html><body>404 not found</body></html>"
            self._send(404, body)
            self.wfile.write(body)
            return
        if answer == 1 and option("statusonce"):
            body = b"<html><body>busy</body></html>"
            self._send(int(option("statusonce")), body)
            self.wfile.write(body)
            return
        with open(full, "rb") as f:
            body = f.read()
        if option("othertotal"):
            body = body + b"\0" * int(option("othertotal"))
        validators = {} if option("novalidator") else {
            "ETag": '"%s"' % hashlib.sha256(body).hexdigest()[:24],
            "Last-Modified": email.utils.formatdate(os.path.getmtime(full), usegmt=True)}
        status, start, last, extra = 200, 0, len(body) - 1, dict(validators)
        asked, if_range = self.headers.get("Range"), self.headers.get("If-Range")
        if asked:
            self._log_line("range %s %s %s" % (self.path, asked, if_range))
        match = re.fullmatch(r"bytes=(\d+)-(\d*)", asked or "")
        if match and not option("norange") and (if_range is None or if_range in validators.values()):
            start = int(match.group(1))
            if match.group(2):
                last = min(last, int(match.group(2)))
            if option("align"):  # a cache's block-aligned answer, truthful about where it starts
                start -= start % int(option("align"))
            if option("shiftrange"):  # truthful, but not what was asked for
                start += int(option("shiftrange"))
            if start >= len(body) or last < start:
                self._send(416, b"", extra={"Content-Range": "bytes */%d" % len(body)})
                return
            status = 206
            extra["Content-Range"] = "bytes %d-%d/%d" % (start, last, len(body))
            if option("badrange"):
                extra["Content-Range"] = "bytes %d-/%d" % (start, len(body))
        self._send(status, body[start:last + 1], extra=extra)
        # ?cut=N and ?cutonce=N end the answer early; ?chunk=K&delay=MS throttle it.
        end = last + 1
        if option("cut") or (answer == 1 and option("cutonce")):
            end = min(end, start + int(option("cut") or option("cutonce")))
        if answer == 1 and option("stallonce"):
            self.wfile.write(body[start:min(end, start + int(option("stallonce")))])
            self.wfile.flush()
            self._hold()
            return
        chunk = int(option("chunk", str(max(end - start, 1))))
        delay = int(option("delay", "0")) / 1000.0
        sent = 0
        try:
            for at in range(start, end, chunk):
                piece = body[at:min(at + chunk, end)]
                self.wfile.write(piece)
                sent += len(piece)
                if delay:
                    self.wfile.flush()
                    time.sleep(delay)
            self.wfile.flush()
        except (BrokenPipeError, ConnectionResetError):
            pass
        self._log_line("sent %s %d" % (self.path, sent))
        if end < last + 1:
            self.close_connection = True


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--port", type=int, required=True)
    parser.add_argument("--root", required=True)
    parser.add_argument("--pidfile")
    args = parser.parse_args()
    os.makedirs(args.root, exist_ok=True)
    server = http.server.ThreadingHTTPServer(("127.0.0.1", args.port), Handler)
    server.daemon_threads = True
    server.root = args.root
    server.log_lock = threading.Lock()
    server.answers = {}  # request path with query -> answers given
    if args.pidfile:
        with open(args.pidfile, "w") as f:
            f.write(str(os.getpid()))
    print("serving on 127.0.0.1:%d" % args.port, flush=True)
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass
    return 0


if __name__ == "__main__":
    sys.exit(main())
