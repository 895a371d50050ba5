#!/usr/bin/env python3
"""An HTTPS front for the local catalogue service in tests: nginx terminates TLS with a certificate
from a test certificate authority made here with openssl, and passes every request (Host and Range
headers included, bodies unbuffered) to the service's http URL and every answer back unchanged
(Location headers too). A second port serves the same service
with a certificate from another CA that nobody trusts.

The test CA is trusted inside one Wine prefix only: it is written to that prefix's machine root store
(HKLM\\Software\\Microsoft\\SystemCertificates\\Root\\Certificates, the registry store Wine's crypt32
reads roots from); the host's certificate store is never touched.

In a Python test:

    front = TlsFront(upstream=service.url, work=run_dir, cache=os.path.join(build, "tls"))
    front.start()        # front.url, front.untrusted_url: https://127.0.0.1:<port>
    front.trust(env)     # env: the Wine environment (WINEPREFIX ...) of the prefix that must trust it
    ...
    front.stop()         # takes the CA out of every prefix trust() put it in, then ends nginx

From a shell (tests/with-service --tls):

    tls_front.py serve --upstream URL --cache DIR --work DIR [--trust-build BUILD]

prints the trusted and the untrusted https URL, one per line, once the front answers and the CA is
trusted in BUILD's prefix; it serves until SIGTERM or until its parent process ends.
"""
import argparse
import fcntl
import hashlib
import os
import shutil
import signal
import socket
import ssl
import subprocess
import sys
import time

from qbscreen import wait_for

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
WINE_RUN = os.path.join(ROOT, "scripts", "wine-run")
ROOT_STORE = r"HKLM\Software\Microsoft\SystemCertificates\Root\Certificates"
VALID_DAYS = 90
# Wine's host-name check compares the name with the certificate's DNS names only, so the loopback
# address is listed as a DNS name as well as an IP address.
SERVER_NAMES = "IP:127.0.0.1,DNS:127.0.0.1,DNS:localhost"

NGINX_CONF = """daemon off;
worker_processes 1;
pid {work}/nginx.pid;
error_log {work}/error.log warn;
events {{ worker_connections 512; }}
http {{
  access_log off;
  client_body_temp_path {work}/tmp/body;
  proxy_temp_path {work}/tmp/proxy;
  fastcgi_temp_path {work}/tmp/fastcgi;
  uwsgi_temp_path {work}/tmp/uwsgi;
  scgi_temp_path {work}/tmp/scgi;
  client_max_body_size 0;
  proxy_http_version 1.1;
  proxy_set_header Host $http_host;
  # Locations pass as the service wrote them: an http:// one must reach the client as http://.
  proxy_redirect off;
  proxy_buffering off;
  proxy_request_buffering off;
  proxy_read_timeout 300s;
  proxy_send_timeout 300s;
  server {{
    listen 127.0.0.1:{port} ssl;
    ssl_certificate {cache}/server.crt;
    ssl_certificate_key {cache}/server.key;
    location / {{ proxy_pass {upstream}; }}
  }}
  server {{
    listen 127.0.0.1:{untrusted_port} ssl;
    ssl_certificate {cache}/untrusted-server.crt;
    ssl_certificate_key {cache}/server.key;
    location / {{ proxy_pass {upstream}; }}
  }}
}}
"""


def _openssl(*args, cwd):
    subprocess.run(["openssl", *args], cwd=cwd, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)


def _make_certificates(folder):
    """Two CAs (the test CA and an untrusted one) and one server key with a certificate from each."""
    for ca in ("ca", "untrusted-ca"):
        name = "Quillbox Test CA" if ca == "ca" else "Quillbox Untrusted Test CA"
        _openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", ca + ".key", "-out", ca + ".crt",
                 "-days", str(VALID_DAYS), "-subj", "/CN=" + name,
                 "-addext", "basicConstraints=critical,CA:TRUE",
                 "-addext", "keyUsage=critical,keyCertSign,cRLSign", cwd=folder)
    _openssl("req", "-new", "-newkey", "rsa:2048", "-nodes", "-keyout", "server.key", "-out", "server.csr",
             "-subj", "/CN=127.0.0.1", cwd=folder)
    with open(os.path.join(folder, "server.ext"), "w") as f:
        f.write("basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature,keyEncipherment\n"
                "extendedKeyUsage=serverAuth\nsubjectAltName=%s\n" % SERVER_NAMES)
    for ca, out in (("ca", "server.crt"), ("untrusted-ca", "untrusted-server.crt")):
        _openssl("x509", "-req", "-in", "server.csr", "-CA", ca + ".crt", "-CAkey", ca + ".key", "-set_serial",
                 str(int.from_bytes(os.urandom(8), "big")), "-days", str(VALID_DAYS), "-extfile", "server.ext",
                 "-out", out, cwd=folder)


def _still_valid(folder):
    """The cached certificates exist and stay valid for at least another day."""
    for name in ("ca.crt", "server.crt", "untrusted-server.crt", "server.key"):
        if not os.path.exists(os.path.join(folder, name)):
            return False
    check = subprocess.run(["openssl", "x509", "-checkend", "86400", "-noout", "-in",
                            os.path.join(folder, "server.crt")], stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL)
    return check.returncode == 0


def ensure_certificates(cache):
    """Makes the CAs and server certificates once into cache (shared by concurrent runs under a lock)."""
    cache = os.path.abspath(cache)
    os.makedirs(os.path.dirname(cache), exist_ok=True)
    with open(cache + ".lock", "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        if not _still_valid(cache):
            fresh = cache + ".new"
            shutil.rmtree(fresh, ignore_errors=True)
            os.makedirs(fresh)
            _make_certificates(fresh)
            shutil.rmtree(cache, ignore_errors=True)
            os.rename(fresh, cache)
    return cache


def root_store_entry(ca_file):
    """The registry key and Blob value under which a CA certificate sits in a Windows root store: the
    key is named after the certificate's SHA-1 thumbprint, the Blob holds it as a serialized property
    (CERT_CERT_PROP_ID 32, reserved 1, length, DER bytes)."""
    with open(ca_file) as f:
        der = ssl.PEM_cert_to_DER_cert(f.read())
    thumbprint = hashlib.sha1(der).hexdigest().upper()
    blob = (32).to_bytes(4, "little") + (1).to_bytes(4, "little") + len(der).to_bytes(4, "little") + der
    return ROOT_STORE + "\\" + thumbprint, blob


def _free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def _answers(port):
    try:
        socket.create_connection(("127.0.0.1", port), timeout=0.5).close()
        return True
    except OSError:
        return False


class TlsFront:
    def __init__(self, upstream, work, cache):
        self.upstream = upstream.rstrip("/")
        self.work = os.path.abspath(work)
        self.cache = os.path.abspath(cache)
        self.ca_file = os.path.join(self.cache, "ca.crt")
        self.url = self.untrusted_url = None
        self.proc = None
        self._trusted = []  # the wine commands and environments trust() wrote the CA with

    def start(self, attempts=5):
        ensure_certificates(self.cache)
        os.makedirs(os.path.join(self.work, "tmp"), exist_ok=True)
        conf = os.path.join(self.work, "nginx.conf")
        for _ in range(attempts):
            # Another process may take a port between the probe and nginx's bind: then nginx exits
            # and the next attempt picks other ports.
            port, untrusted_port = _free_port(), _free_port()
            if port == untrusted_port:
                continue
            with open(conf, "w") as f:
                f.write(NGINX_CONF.format(work=self.work, cache=self.cache, upstream=self.upstream, port=port,
                                          untrusted_port=untrusted_port))
            with open(os.path.join(self.work, "nginx.log"), "a") as log:
                self.proc = subprocess.Popen(["nginx", "-p", self.work, "-c", conf,
                                              "-e", os.path.join(self.work, "error.log")],
                                             stdin=subprocess.DEVNULL, stdout=log, stderr=log)
            if wait_for(lambda: self.proc.poll() is not None or (_answers(port) and _answers(untrusted_port)), 10,
                        interval=0.05) and self.proc.poll() is None:
                self.url = "https://127.0.0.1:%d" % port
                self.untrusted_url = "https://127.0.0.1:%d" % untrusted_port
                return self
            self._end_nginx()
        raise RuntimeError("nginx did not start; see %s" % os.path.join(self.work, "error.log"))

    def trust(self, env=None, wine=("wine",)):
        """Adds the test CA to the machine root store of the Wine prefix env (or the one wine runs in)."""
        key, blob = root_store_entry(self.ca_file)
        self._trusted.append((tuple(wine), env))  # before the write, so stop() undoes even a half-done one
        subprocess.run([*wine, "reg", "add", key, "/v", "Blob", "/t", "REG_BINARY", "/d", blob.hex(), "/f"],
                       env=env, check=True, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)

    def distrust(self):
        key, _ = root_store_entry(self.ca_file)
        while self._trusted:
            wine, env = self._trusted.pop()
            subprocess.run([*wine, "reg", "delete", key, "/f"], env=env, stdin=subprocess.DEVNULL,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def stop(self):
        try:
            self.distrust()
        finally:
            self._end_nginx()

    def _end_nginx(self):
        if self.proc and self.proc.poll() is None:
            self.proc.terminate()
            try:
                self.proc.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        self.proc = None

    def __enter__(self):
        return self.start()

    def __exit__(self, *exc):
        self.stop()


def serve(args):
    front = TlsFront(args.upstream, args.work, args.cache)
    parent = os.getppid()
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
    try:
        front.start()
        if args.trust_build:
            front.trust(wine=(WINE_RUN, os.path.abspath(args.trust_build)))
        print(front.url, flush=True)
        print(front.untrusted_url, flush=True)
        while os.getppid() == parent and front.proc.poll() is None:
            time.sleep(0.5)
    finally:
        signal.signal(signal.SIGTERM, signal.SIG_IGN)  # a second SIGTERM must not cut the clean-up short
        front.stop()


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    sub = parser.add_subparsers(dest="command", required=True)
    p = sub.add_parser("serve", help="run the front until SIGTERM")
    p.add_argument("--upstream", required=True, help="the service's http base URL")
    p.add_argument("--cache", required=True, help="folder for the certificates, kept between runs")
    p.add_argument("--work", required=True, help="folder for nginx's configuration, logs and temporary files")
    p.add_argument("--trust-build", help="build folder whose private Wine prefix (scripts/wine-run) trusts the CA")
    args = parser.parse_args()
    serve(args)


if __name__ == "__main__":
    main()
