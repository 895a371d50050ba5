"""Starts the service on a free port with a scratch catalogue folder."""

import http.client
import json
import os
import socket
import subprocess
import sys
import tempfile
import urllib.parse

SERVICE = os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "quillbox-service")


def write_folder(folder, catalogue, files):
    """Writes catalogue.json (a dict, or raw text) and the given files {relative path: bytes}."""
    for rel, data in files.items():
        path = os.path.join(folder, rel)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)
    text = catalogue if isinstance(catalogue, str) else json.dumps(catalogue, ensure_ascii=False)
    with open(os.path.join(folder, "catalogue.json"), "w", encoding="utf-8") as f:
        f.write(text)


def run_refused(folder, *extra):
    """Runs the service on a folder expected to be refused: (exit code, stderr)."""
    proc = subprocess.run([sys.executable, SERVICE, "--catalogue", folder, "--port", "0", *extra],
                          capture_output=True, text=True, timeout=20)
    return proc.returncode, proc.stderr


def read_to_close(sock):
    """What arrives until the peer closes: (bytes, True), or (bytes, False) when the socket timed out first."""
    received = bytearray()
    try:
        while True:
            block = sock.recv(65536)
            if not block:
                return bytes(received), True
            received += block
    except socket.timeout:
        return bytes(received), False
    except ConnectionResetError:
        return bytes(received), True


class Peer:
    """A started server process whose first stdout line is its base URL, with request helpers."""

    def _start(self, command):
        self.proc = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        line = self.proc.stdout.readline().strip()
        if not line.startswith("http://"):
            self.proc.kill()
            raise RuntimeError("%s did not start: %r %s" % (command[1:3], line, self.proc.stderr.read()))
        self.url = line
        parts = urllib.parse.urlsplit(line)
        self.host, self.port = parts.hostname, parts.port

    def stop(self):
        self.proc.terminate()
        self.proc.wait(timeout=10)
        self.proc.stdout.close()
        self.proc.stderr.close()
        self.tmp.cleanup()

    def request(self, method, path, body=None, headers=None, timeout=10):
        """One exchange without following redirects: (status, headers dict, body bytes)."""
        conn = http.client.HTTPConnection(self.host, self.port, timeout=timeout)
        try:
            if isinstance(body, (dict, list)):
                body = json.dumps(body).encode("utf-8")
            conn.request(method, path, body=body, headers=headers or {})
            resp = conn.getresponse()
            data = resp.read()
            return resp.status, {k.lower(): v for k, v in resp.getheaders()}, data
        finally:
            conn.close()

    def connect(self, timeout=5):
        return socket.create_connection((self.host, self.port), timeout=timeout)

    def raw(self, data, timeout=5):
        """Sends data as it is and reads until the server closes: (bytes received, closed within timeout)."""
        with self.connect(timeout) as sock:
            sock.sendall(data)
            return read_to_close(sock)

    def get(self, path, **kw):
        return self.request("GET", path, **kw)

    def control(self, path, body=None):
        status, _, data = self.request("POST" if body is not None else "GET", path, body=body)
        return status, json.loads(data)


class Service(Peer):
    """A running service; catalogue is a dict or raw text written to a scratch folder, or the path of a folder."""

    def __init__(self, catalogue, files, *extra, quiet=True):
        self.tmp = tempfile.TemporaryDirectory()
        if isinstance(catalogue, str) and os.path.isdir(catalogue):
            self.folder = catalogue
        else:
            self.folder = os.path.join(self.tmp.name, "catalogue")
            os.makedirs(self.folder)
            write_folder(self.folder, catalogue, files)
        self.report_log = os.path.join(self.tmp.name, "reports.jsonl")
        self._start([sys.executable, SERVICE, "--catalogue", self.folder, "--port", "0",
                     *(["--quiet"] if quiet else []), "--report-log", self.report_log, *extra])


class Collector(Peer):
    """A running report collector with its report log in a scratch folder."""

    def __init__(self, *extra):
        self.tmp = tempfile.TemporaryDirectory()
        self.report_log = os.path.join(self.tmp.name, "reports.jsonl")
        self._start([sys.executable, SERVICE, "collect", "--port", "0", "--quiet", "--report-log", self.report_log,
                     *extra])

    def reports(self):
        if not os.path.exists(self.report_log):
            return []
        with open(self.report_log, encoding="utf-8") as f:
            return [json.loads(line) for line in f]


def run_publish(folder, out, *extra):
    """Runs publish: (exit code, stdout lines, stderr)."""
    proc = subprocess.run([sys.executable, SERVICE, "publish", "--catalogue", folder, "--out", out, *extra],
                          capture_output=True, text=True, timeout=60)
    return proc.returncode, proc.stdout.splitlines(), proc.stderr
