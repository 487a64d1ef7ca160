"""Debian's squid as a caching forward proxy for the tests: started on a free
loopback port with a memory-only cache of its own, stopped after, never a
service.

    proxy = Squid(work).start()   # listens at proxy.address ("127.0.0.1:PORT")
    proxy.hits()                  # the requests it answered from its cache
    proxy.stop()
"""
import os
import shutil
import signal
import socket
import subprocess
import time

from nginx import free_port


class Squid:
    def __init__(self, work):
        self.work = os.path.abspath(work)
        self.port = None
        self.process = None

    @property
    def address(self):
        return "127.0.0.1:%d" % self.port

    def start(self):
        shutil.rmtree(self.work, ignore_errors=True)
        os.makedirs(self.work)
        shutil.chown(self.work, "proxy", "proxy")  # started as root, it runs as the proxy user
        self.port = free_port()
        with open(os.path.join(self.work, "squid.conf"), "w") as f:
            f.write("http_port 127.0.0.1:%d\nhttp_access allow all\ncache_mem 256 MB\n"
                    "maximum_object_size_in_memory 64 MB\nmaximum_object_size 64 MB\n"
                    "pid_filename %s/squid.pid\naccess_log stdio:%s/access.log\ncache_log %s/cache.log\n"
                    "shutdown_lifetime 0 seconds\ncoredump_dir %s\n" % ((self.port,) + (self.work,) * 4))
        self.process = subprocess.Popen(["squid", "-N", "-f", os.path.join(self.work, "squid.conf")],
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        for _ in range(200):
            with socket.socket() as s:
                if s.connect_ex(("127.0.0.1", self.port)) == 0:
                    return self
            time.sleep(0.05)
        raise RuntimeError("squid did not start: %s" % open(os.path.join(self.work, "cache.log")).read())

    def log(self):
        try:
            with open(os.path.join(self.work, "access.log"), encoding="utf-8") as f:
                return f.read().splitlines()
        except FileNotFoundError:
            return []

    def hits(self):
        return [line for line in self.log() if "_HIT/" in line]

    def stop(self):
        if self.process:
            self.process.send_signal(signal.SIGTERM)
            try:
                self.process.wait(10)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
            self.process = None
