"""Debian's nginx as a real web server for the tests: started on a free
loopback port with a configuration of its own, stopped after, never a service.

    server = Nginx(root, max_ranges=None, expires=None).start()   # serves root at server.url
    server.requests()                               # what it was asked, one dict a request
    server.stop()
"""
import os
import socket
import subprocess
import time

FORMAT = "'$request_uri\\t$status\\t$http_range\\t$body_bytes_sent\\t$connection'"


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Nginx:
    def __init__(self, root, max_ranges=None, expires=None):
        self.root = os.path.abspath(root)
        self.work = self.root + ".nginx"
        self.max_ranges = max_ranges
        self.expires = expires  # e.g. "1h": caches may keep every file that long, as CDNs commonly allow
        self.port = None
        self.process = None

    @property
    def url(self):
        return "http://127.0.0.1:%d" % self.port

    def start(self):
        os.makedirs(self.work, exist_ok=True)
        self.port = free_port()
        temp = "".join("%s_temp_path %s/%s;\n" % (kind, self.work, kind)
                       for kind in ("client_body", "proxy", "fastcgi", "uwsgi", "scgi"))
        with open(os.path.join(self.work, "nginx.conf"), "w") as f:
            f.write("daemon off;\nmaster_process off;\nworker_processes 1;\npid %s/nginx.pid;\n"
                    "events { worker_connections 64; }\n"
                    "http {\n%s log_format tests %s;\n access_log %s/access.log tests;\n"
                    " server {\n  listen 127.0.0.1:%d;\n  root %s;\n%s }\n}\n"
                    % (self.work, temp, FORMAT, self.work, self.port, self.root,
                       ("" if self.max_ranges is None else "  max_ranges %d;\n" % self.max_ranges) +
                       ("" if self.expires is None else "  expires %s;\n" % self.expires)))
        open(os.path.join(self.work, "access.log"), "w").close()
        self.process = subprocess.Popen(["nginx", "-p", self.work, "-e", os.path.join(self.work, "error.log"),
                                         "-c", os.path.join(self.work, "nginx.conf")],
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        for _ in range(100):
            with socket.socket() as s:
                if s.connect_ex(("127.0.0.1", self.port)) == 0:
                    return self
            time.sleep(0.05)
        raise RuntimeError("nginx did not start: %s" % open(os.path.join(self.work, "error.log")).read())

    def requests(self):
        with open(os.path.join(self.work, "access.log"), encoding="utf-8") as log:
            lines = log.read().splitlines()
        keys = ("uri", "status", "range", "sent", "connection")
        return [dict(zip(keys, line.split("\t"))) for line in lines]

    def stop(self):
        if self.process and self.process.poll() is None:
            self.process.terminate()
            self.process.wait(10)
