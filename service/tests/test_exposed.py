"""The limits that let the service face the public: idle heads, slow readers, connections, memory, the log."""

import hashlib
import http.client
import json
import os
import select
import socket
import sys
import tempfile
import threading
import time
import unittest

from support import SERVICE, Service, read_to_close

sys.path.insert(0, os.path.dirname(SERVICE))
from qbservice.reports import Reports  # noqa: E402

PACKAGE = hashlib.sha256(b"seed").digest() * (16 * 1024 * 1024 // 32)  # 16 MiB, more than socket buffers hold
CATALOGUE = {"categories": [], "apps": [{"id": 7, "name": "七", "package": "setup.exe"}]}
HEADER_TIMEOUT = 0.5


def answered(conn):
    """The status of the answer on an http.client connection, its body read so the connection stays usable."""
    resp = conn.getresponse()
    resp.read()
    return resp.status


def closed_within(sock, seconds):
    """Seconds until the peer closed the socket, or None if it is still open after `seconds`."""
    started = time.monotonic()
    while time.monotonic() - started < seconds:
        if select.select([sock], [], [], 0.05)[0]:
            try:
                if not sock.recv(65536):
                    return time.monotonic() - started
            except ConnectionResetError:
                return time.monotonic() - started
    return None


class ExposedServerTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.svc = Service(CATALOGUE, {"setup.exe": PACKAGE}, "--header-timeout", str(HEADER_TIMEOUT), quiet=False)
        cls.log = []
        cls.drain = threading.Thread(target=lambda: cls.log.extend(iter(cls.svc.proc.stderr.readline, "")),
                                     daemon=True)
        cls.drain.start()

    @classmethod
    def tearDownClass(cls):
        cls.svc.stop()

    def test_a_request_head_must_arrive_within_the_header_timeout(self):
        with self.svc.connect() as silent:
            self.assertIsNotNone(closed_within(silent, 3), "a silent connection stays open")
        with self.svc.connect() as trickling:
            # A byte every tenth of a second never lets one read wait long, yet the head is never complete.
            trickling.sendall(b"GET /api/client/bootstrap HTTP/1.1\r\n")
            started, closed = time.monotonic(), None
            while closed is None and time.monotonic() - started < 3:
                try:
                    trickling.sendall(b"X")
                except OSError:
                    break
                closed = closed_within(trickling, 0.1)
            self.assertLess(time.monotonic() - started, 2, "a trickled head keeps the connection")
        conn = http.client.HTTPConnection(self.svc.host, self.svc.port, timeout=5)
        conn.request("GET", "/api/client/bootstrap")
        self.assertEqual(answered(conn), 200)
        idle = closed_within(conn.sock, 3)
        conn.close()
        self.assertIsNotNone(idle, "a kept-alive connection idles for ever")
        self.assertGreater(idle, HEADER_TIMEOUT - 0.2)

    def test_a_slow_reader_gets_the_whole_package(self):
        with socket.socket() as sock:
            sock.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 1 << 20)
            sock.settimeout(10)
            sock.connect((self.svc.host, self.svc.port))
            sock.sendall(b"GET /files/7/setup.exe HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n")
            first = sock.recv(1 << 20)
            time.sleep(3 * HEADER_TIMEOUT)  # the service's send waits on the full socket meanwhile
            rest, closed = read_to_close(sock)
        answer = first + rest
        head, _, body = answer.partition(b"\r\n\r\n")
        self.assertTrue(head.startswith(b"HTTP/1.1 200 "), head)
        self.assertTrue(closed)
        self.assertEqual((len(body), body == PACKAGE), (len(PACKAGE), True))

    def test_control_characters_in_the_request_line_are_escaped_in_the_log(self):
        self.svc.raw(b"GET /esc\x1b[2Jx\x07\x9b\\ HTTP/1.1\r\nHost: h\r\nConnection: close\r\n\r\n")
        deadline = time.monotonic() + 5
        while not any("/esc" in line for line in self.log) and time.monotonic() < deadline:
            time.sleep(0.05)
        line = next(line for line in self.log if "/esc" in line)
        self.assertIn(r"GET /esc\x1b[2Jx\x07\x9b\\ HTTP/1.1", line)
        self.assertFalse([c for c in line.rstrip("\n") if ord(c) < 0x20 or 0x7F <= ord(c) < 0xA0], line)

    def test_reports_kept_in_memory_are_the_most_recent(self):
        with tempfile.TemporaryDirectory() as folder:
            path = os.path.join(folder, "reports.jsonl")
            reports = Reports(path, limit=3)
            for app_id in range(5):
                reports.add({"appId": app_id})
            self.assertEqual([r["appId"] for r in reports.snapshot()], [2, 3, 4])
            with open(path, encoding="utf-8") as f:
                self.assertEqual([json.loads(line)["appId"] for line in f], [0, 1, 2, 3, 4])

    def test_the_report_log_is_rotated_by_size_keeping_a_fixed_number_of_files(self):
        with tempfile.TemporaryDirectory() as folder:
            path = os.path.join(folder, "reports.jsonl")
            reports = Reports(path, limit=0, max_bytes=2 * len('{"appId": 0}\n'), keep=2)  # two lines a file
            for app_id in range(10):
                reports.add({"appId": app_id})
            self.assertEqual((sorted(os.listdir(folder)), reports.snapshot()),
                             (["reports.jsonl", "reports.jsonl.1", "reports.jsonl.2"], []))
            kept = []
            for name in (path + ".2", path + ".1", path):
                with open(name, encoding="utf-8") as f:
                    kept += [json.loads(line)["appId"] for line in f]
            self.assertEqual(kept, [4, 5, 6, 7, 8, 9])


class ConnectionLimitTest(unittest.TestCase):
    def test_a_connection_beyond_the_limit_is_refused_at_once(self):
        svc = Service(CATALOGUE, {"setup.exe": b"MZ"}, "--max-connections", "2")
        held = []
        try:
            for _ in range(2):
                conn = http.client.HTTPConnection(svc.host, svc.port, timeout=5)
                conn.request("GET", "/api/client/bootstrap")
                self.assertEqual(answered(conn), 200)
                held.append(conn)  # kept alive: its thread waits for the next request
            started = time.monotonic()
            received, closed = svc.raw(b"GET /api/client/bootstrap HTTP/1.1\r\nHost: x\r\n\r\n")
            head = received.partition(b"\r\n\r\n")[0].split(b"\r\n")
            self.assertEqual(head[0], b"HTTP/1.1 503 Service Unavailable")
            self.assertIn(b"Retry-After: 1", head)
            self.assertTrue(closed)
            self.assertLess(time.monotonic() - started, 1)
            held.pop().close()
            deadline, status = time.monotonic() + 3, None
            while status != 200 and time.monotonic() < deadline:
                status = svc.get("/api/client/bootstrap")[0]
            self.assertEqual(status, 200, "a closed connection gives its place back")
        finally:
            for conn in held:
                conn.close()
            svc.stop()


if __name__ == "__main__":
    unittest.main()
