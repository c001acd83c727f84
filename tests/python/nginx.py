# A real nginx for the tests and the benchmark: started on 127.0.0.1 at a free port with a
# configuration of its own (prefix, pid, logs) in a temporary folder, serving a folder
# read-only, and logging each request's method, path, status and bytes sent.
import os
import shutil
import socket
import subprocess
import tempfile
import time
import urllib.parse

NGINX = shutil.which("nginx") or "/usr/sbin/nginx"


def available():
    return os.access(NGINX, os.X_OK)


class Nginx:
    """Serves `root` at self.url until stop(); log() gives the requests so far."""

    def __init__(self, root):
        self.dir = tempfile.mkdtemp(prefix="docoutline-nginx-")
        with socket.socket() as probe:
            probe.bind(("127.0.0.1", 0))
            port = probe.getsockname()[1]
        self.url = f"http://127.0.0.1:{port}"
        self.access_log = os.path.join(self.dir, "access.log")
        temp = "".join(f"{kind}_temp_path {self.dir}/{kind};\n"
                       for kind in ("client_body", "proxy", "fastcgi", "uwsgi", "scgi"))
        config = f"""
            {"user root;" if os.geteuid() == 0 else ""}
            daemon off;
            worker_processes 1;
            pid {self.dir}/nginx.pid;
            error_log {self.dir}/error.log;
            events {{ worker_connections 64; }}
            http {{
                log_format sent '$request_method $request_uri $status $bytes_sent';
                access_log {self.access_log} sent;
                {temp}
                server {{
                    listen 127.0.0.1:{port};
                    root {os.path.abspath(root)};
                }}
            }}
            """
        with open(os.path.join(self.dir, "nginx.conf"), "w") as f:
            f.write(config)
        self.process = subprocess.Popen([NGINX, "-p", self.dir, "-c", "nginx.conf", "-e", "error.log"])
        deadline = time.monotonic() + 10
        while True:
            try:
                socket.create_connection(("127.0.0.1", port), timeout=1).close()
                break
            except OSError:
                if self.process.poll() is not None or time.monotonic() > deadline:
                    self.stop()
                    raise RuntimeError(f"nginx did not start on port {port}")
                time.sleep(0.05)

    def url_of(self, relative):
        return f"{self.url}/{urllib.parse.quote(relative)}"

    def log(self):
        """(method, unquoted path, status, bytes sent) of every request logged so far."""
        with open(self.access_log) as f:
            entries = [line.split() for line in f]
        return [(m, urllib.parse.unquote(p), int(s), int(n)) for m, p, s, n in entries]

    def stop(self):
        self.process.terminate()
        self.process.wait(timeout=10)
        shutil.rmtree(self.dir, ignore_errors=True)
