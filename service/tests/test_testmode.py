import http.client
import json
import threading
import time
import unittest

from support import Service

PACKAGE = bytes(range(256)) * 64  # 16384 bytes
CATALOGUE = {"categories": [], "apps": [{"id": 7, "name": "七", "package": "setup.exe"}]}
FILE = "/files/7/setup.exe"


class TestModeTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.svc = Service(CATALOGUE, {"setup.exe": PACKAGE}, "--test-mode")

    @classmethod
    def tearDownClass(cls):
        cls.svc.stop()

    def setUp(self):
        self.assertEqual(self.svc.control("/test/reset", {})[0], 200)

    def script(self, target, *faults):
        status, doc = self.svc.control("/test/faults", dict(target, faults=list(faults)))
        self.assertEqual(status, 200, doc)

    def log(self):
        """The request log once the service has finished recording every answer: a client can see an
        answer end before the service thread that sent it has written its entry."""
        deadline = time.time() + 5
        while True:
            doc = self.svc.control("/test/log")[1]
            if (doc["inFlight"] == 0 and all("ms" in e for e in doc["requests"])) or time.time() > deadline:
                return doc
            time.sleep(0.02)

    def raw_get(self, path, headers=None):
        """Reads what arrives before the server closes: (status, headers, body, complete)."""
        conn = http.client.HTTPConnection(self.svc.host, self.svc.port, timeout=10)
        conn.request("GET", path, headers=headers or {})
        resp = conn.getresponse()
        try:
            body, complete = resp.read(), True
        except http.client.IncompleteRead as e:
            body, complete = e.partial, False
        except ConnectionResetError:
            body, complete = None, False
        conn.close()
        return resp.status, {k.lower(): v for k, v in resp.getheaders()}, body, complete

    def test_status_sequence_is_consumed_in_order(self):
        self.script({"app": 7}, {"status": 503}, {"status": 429, "body": ""}, {"status": 500, "repeat": 2})
        got = [self.svc.get(FILE)[0] for _ in range(6)]
        self.assertEqual(got, [503, 429, 500, 500, 200, 200])
        self.assertEqual(self.svc.get(FILE)[2], PACKAGE)
        entries = self.log()["requests"]
        self.assertEqual([e["status"] for e in entries], got + [200])
        self.assertEqual([("fault" in e) for e in entries], [True] * 4 + [False] * 3)

    def test_faults_on_a_path_and_forever(self):
        self.script({"path": "/api/client/bootstrap"}, {"body": "{\"data\":{}}", "contentType": "application/json",
                                                        "repeat": -1})
        for _ in range(3):
            self.assertEqual(self.svc.get("/api/client/bootstrap")[2], b'{"data":{}}')
        self.script({"path": "/api/client/download/7"}, {"status": 410})
        self.assertEqual(self.svc.get("/api/client/download/7?channel=x")[0], 410)
        self.assertEqual(self.svc.get("/api/client/download/7?channel=x")[0], 302)

    def test_a_scripted_path_takes_a_report_sized_body(self):
        # A report sent to an old address is redirected by a fault; without one the path takes no body.
        report = b'{"appId":42,"event":"install","channel":"default"}'
        self.assertEqual(self.svc.request("POST", "/old/api/client/report", body=report)[0], 413)
        self.script({"path": "/old/api/client/report"}, {"redirect": "/api/client/report", "status": 307})
        status, headers, _ = self.svc.request("POST", "/old/api/client/report", body=report)
        self.assertEqual((status, headers["location"]), (307, "/api/client/report"))

    def test_most_specific_target_first(self):
        self.script({"path": "/files/*"}, {"status": 502, "repeat": -1})
        self.script({"app": "*"}, {"status": 503})
        self.script({"app": 7}, {"status": 500})
        self.script({"path": "/api/client/download/*"}, {"status": 410})
        got = [self.svc.get(FILE)[0] for _ in range(4)]
        self.assertEqual(got, [500, 503, 502, 502])
        self.assertEqual(self.svc.get("/api/client/download/7")[0], 410)
        self.assertEqual(self.svc.get("/api/client/download/7")[0], 302)

    def test_body_faults(self):
        self.script({"app": 7}, {"dropAfter": 1000}, {"ignoreRange": True}, {"rangeStart": 0},
                    {"contentLength": 100}, {"html": True}, {"headers": {"Content-Disposition": "x", "X-A": "b"}})
        status, _, body, complete = self.raw_get(FILE, {"Range": "bytes=100-"})
        self.assertEqual((status, body, complete), (206, PACKAGE[100:1100], False))
        status, headers, body, _ = self.raw_get(FILE, {"Range": "bytes=100-"})
        self.assertEqual((status, body, headers.get("content-range")), (200, PACKAGE, None))
        status, headers, body, _ = self.raw_get(FILE, {"Range": "bytes=100-199"})
        self.assertEqual((status, headers["content-range"], body), (206, "bytes 0-99/16384", PACKAGE[:100]))
        status, headers, body, _ = self.raw_get(FILE)
        self.assertEqual((status, headers["content-length"], body), (200, "100", PACKAGE[:100]))
        status, headers, body, _ = self.raw_get(FILE)
        self.assertEqual((status, headers["content-type"]), (200, "text/html; charset=utf-8"))
        self.assertIn(b"<html>", body)
        _, headers, body, _ = self.raw_get(FILE)
        self.assertEqual((headers["content-disposition"], headers["x-a"], body), ("x", "b", PACKAGE))
        self.assertEqual([e["dropped"] for e in self.log()["requests"]][:2], ["closed", False])

    def test_reset_after_some_bytes(self):
        self.script({"app": 7}, {"resetAfter": 5000})
        status, _, body, complete = self.raw_get(FILE)
        self.assertEqual((status, complete), (200, False))
        self.assertNotEqual(body, PACKAGE)
        entry = self.log()["requests"][0]
        self.assertEqual((entry["dropped"], entry["bytes"]), ("reset", 5000))

    def test_expiring_redirect_target(self):
        self.assertEqual(self.svc.control("/test/expire", {"app": 7, "uses": 1})[0], 200)
        first = self.svc.get("/api/client/download/7")[1]["location"]
        self.assertEqual(self.svc.get(first, headers={"Range": "bytes=0-0"})[0], 206)
        self.assertEqual(self.svc.get(first)[0], 403)
        self.assertEqual(self.svc.get(FILE)[0], 403)
        second = self.svc.get("/api/client/download/7")[1]["location"]
        self.assertNotEqual(first, second)
        self.assertEqual(self.svc.get(second)[2], PACKAGE)

    def test_in_flight_maximum_and_log_reset(self):
        self.script({"app": 7}, {"delayMs": 300, "repeat": 4})
        threads = [threading.Thread(target=self.svc.get, args=(FILE,)) for _ in range(4)]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        self.svc.get("/api/client/bootstrap")  # not a download request
        doc = self.log()
        self.assertEqual((doc["maxInFlight"], doc["inFlight"]), (4, 0))
        self.assertEqual(len(doc["requests"]), 5)
        self.assertEqual(len(self.svc.control("/test/log?since=3")[1]["requests"]), 2)
        self.svc.control("/test/log/reset", {})
        self.assertEqual((self.log()["maxInFlight"], self.log()["requests"]), (0, []))

    def test_reset_ends_a_stall_and_clears_faults(self):
        self.script({"app": 7}, {"stallAfter": 10, "stallMs": 60000}, {"status": 500})
        result = {}
        t = threading.Thread(target=lambda: result.update(r=self.raw_get(FILE)))
        t.start()
        time.sleep(0.3)
        started = time.time()
        self.svc.control("/test/reset", {})
        t.join(5)
        self.assertLess(time.time() - started, 2)
        self.assertEqual(result["r"][2], PACKAGE[:10])
        self.assertEqual(self.svc.get(FILE)[0], 200)  # the scripted 500 is gone

    def test_paced_body_takes_its_time_and_arrives_whole(self):
        # 16384 bytes at 8192 a second: about two seconds, the stall on top.
        self.script({"app": 7}, {"bytesPerSecond": 8192}, {"bytesPerSecond": 8192, "stallAfter": 4096, "stallMs": 500})
        for expected in (2.0, 2.5):
            started = time.time()
            status, _, body, complete = self.raw_get(FILE)
            took = time.time() - started
            self.assertEqual((status, body, complete), (200, PACKAGE, True))
            self.assertGreater(took, expected - 0.3)
            self.assertLess(took, expected + 1.5)

    def test_reset_ends_a_paced_body(self):
        self.script({"app": 7}, {"bytesPerSecond": 100})
        result = {}
        t = threading.Thread(target=lambda: result.update(r=self.raw_get(FILE)))
        t.start()
        time.sleep(0.3)
        self.svc.control("/test/reset", {})
        t.join(5)
        self.assertFalse(t.is_alive())
        self.assertFalse(result["r"][3])  # cut short

    def test_fault_scripts_are_checked(self):
        for body in ({"app": 7, "faults": [{"staus": 500}]}, {"app": 7, "faults": []},
                     {"path": "x", "faults": [{}]}, {"app": 7, "path": "/x", "faults": [{}]},
                     {"app": 7, "faults": [{"repeat": 0}]}):
            with self.subTest(body=body):
                self.assertEqual(self.svc.control("/test/faults", body)[0], 400)


class ClientTestRoutesTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.svc = Service(CATALOGUE, {"setup.exe": PACKAGE}, "--test-mode")

    @classmethod
    def tearDownClass(cls):
        cls.svc.stop()

    def location(self, path):
        status, headers, _ = self.svc.get(path)
        self.assertEqual(status, 302)
        return headers["location"]

    def test_redirect_chains_and_location_forms(self):
        path, hops = "/test/redirect/10", 0
        while True:
            status, headers, body = self.svc.get(path)
            if status != 302:
                break
            path, hops = headers["location"], hops + 1
        self.assertEqual((status, hops), (200, 10))
        self.assertEqual(self.location("/test/redirect/11"), "/test/redirect/10")
        self.assertEqual(self.location("/test/redirect/3?form=absolute"), self.svc.url + "/test/redirect/2?form=absolute")
        self.assertEqual(self.location("/test/redirect/3?form=relative"), "2?form=relative")
        self.assertEqual(self.location("/test/self?form=absolute"), self.svc.url + "/test/self?form=absolute")
        self.assertEqual(self.location("/test/echo/a/b/c?redirect=d"), "d")

    def test_echo_returns_method_and_body(self):
        status, _, body = self.svc.request("POST", "/test/echo/x?q=1", body=b"{\"a\":1}")
        doc = json.loads(body)
        self.assertEqual((status, doc["method"], doc["path"], doc["query"], doc["body"]),
                         (200, "POST", "/test/echo/x", "q=1", "{\"a\":1}"))
        self.assertEqual(self.svc.request("POST", "/test/echo/x?redirect=/test/echo/y", body=b"z")[0], 302)
        big = b"e" * (4 * 1024 * 1024)
        self.assertEqual(json.loads(self.svc.request("POST", "/test/echo/big", body=big)[2])["bodyLength"], len(big))

    def test_sized_bodies_statuses_and_headers(self):
        for n in (0, 8388608, 8388609):
            status, headers, body = self.svc.get("/test/bytes/%d" % n)
            self.assertEqual((status, len(body), int(headers["content-length"])), (200, n, n))
        status, headers, body = self.svc.get("/test/status/404")
        self.assertEqual((status, headers["content-type"]), (404, "text/html; charset=utf-8"))
        self.assertIn(b"404", body)
        self.assertEqual(self.svc.get("/test/status/503?body=0")[:3:2], (503, b""))
        status, headers, body = self.svc.get(
            "/test/respond?status=206&h=Content-Range:%20bytes%200-0/*&h=Content-Disposition:%20attachment&body=A")
        self.assertEqual((status, headers["content-range"], headers["content-disposition"], body),
                         (206, "bytes 0-0/*", "attachment", b"A"))


if __name__ == "__main__":
    unittest.main()
