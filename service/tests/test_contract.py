import email.utils
import hashlib
import json
import os
import time
import unittest
import urllib.parse

from support import Service

SETUP_A = b"MZ" + bytes(range(256)) * 40
SETUP_B = b"MZ" + b"other package" * 100
CHINESE = b"MZ chinese name"
PNG = b"\x89PNG\r\n\x1a\nnot really a png"

CATALOGUE = {
    "categories": [{"id": "common", "name": "常用软件"}, {"id": "web", "name": "浏览器"}],
    "apps": [
        {"id": 1, "name": "甲", "version": "1.2.3", "description": "说明", "categoryIds": ["common"],
         "updatedAt": 1733616000000, "downloads": 12, "icon": "icons/1.png", "package": "pk/a/setup.exe"},
        {"id": 2, "name": "乙", "categoryIds": ["common", "web"], "package": "pk/b/setup.exe", "silentArgs": "/S /D=C:\\乙",
         "mirrors": ["https://m1.example/b.exe", "http://m2.example:8080/乙.exe", "/relative.exe"]},
        {"id": 3, "name": "丙", "package": "pk/极光 浏览器安装包.exe"},
        {"id": 4, "name": "无包", "categoryId": "web"},
        {"id": 5, "name": "覆盖", "package": "pk/b/setup.exe", "md5": "0" * 32, "packageSize": 7,
         "sha256": "f" * 64},
        {"id": 6, "name": "假包", "hasPackage": True},
        {"id": -3, "name": "负号", "package": "pk/neg/setup.exe"},
    ],
}
SETUP_NEG = b"MZ" + b"negative id" * 50
FILES = {"pk/neg/setup.exe": SETUP_NEG, "pk/a/setup.exe": SETUP_A, "pk/b/setup.exe": SETUP_B,
         "pk/极光 浏览器安装包.exe": CHINESE, "icons/1.png": PNG}


def check_reports(test, peer):
    """One valid report is answered and logged whole; invalid ones get 400 and are not logged."""
    good = b'{"appId":42,"event":"install","channel":"de\\"f\\\\"}'
    status, _, body = peer.request("POST", "/api/client/report", body=good,
                                   headers={"Content-Type": "application/json"})
    test.assertEqual((status, json.loads(body)), (200, {"code": 0}))
    bad_bodies = [b"", b"not json", b"[1]", b'{"appId":"42","event":"install","channel":"x"}',
                  b'{"appId":true,"event":"install","channel":"x"}', b'{"appId":1,"event":"install"}',
                  b'{"appId":1,"event":5,"channel":"x"}', b'{"appId":1.5,"event":"a","channel":"x"}',
                  b'\xff\xfe', b"[" * 60000, b'{"appId":' + b"9" * 5000 + b',"event":"a","channel":"x"}',
                  b'{"appId":1,"event":"' + b"e" * 257 + b'","channel":"x"}',
                  b'{"appId":1,"event":"\\ud800","channel":"x"}']
    for bad in bad_bodies:
        with test.subTest(body=bad[:60]):
            test.assertEqual(peer.request("POST", "/api/client/report", body=bad)[0], 400)
    with open(peer.report_log, encoding="utf-8") as f:
        lines = [json.loads(line) for line in f]
    test.assertEqual(len(lines), 1)
    rec = lines[0]
    test.assertEqual((rec["appId"], rec["event"], rec["channel"], rec["client"]),
                     (42, "install", 'de"f\\', "127.0.0.1"))
    test.assertEqual(rec["body"], good.decode())
    test.assertRegex(rec["time"], r"^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z$")


# (label, request head, body, status); the first four concern the report route only.
_REPORT_HEAD = "POST /api/client/report HTTP/1.1\r\nHost: x\r\nContent-Length: %d\r\n%s\r\n"
BODY_CASES = [
    ("report one byte over 64 KiB", _REPORT_HEAD % (65537, ""), b"", 413),
    ("report over the limit, asking to continue", _REPORT_HEAD % (10 ** 9, "Expect: 100-continue\r\n"), b"", 413),
    ("report of exactly 64 KiB is read", _REPORT_HEAD % (65536, "Connection: close\r\n"), b"x" * 65536, 400),
    ("chunked", "POST /api/client/report HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n", b"", 411),
    ("GET with a body", "GET /api/client/bootstrap HTTP/1.1\r\nHost: x\r\nContent-Length: 1\r\n\r\n", b"", 413),
    ("POST to a route without body", "POST /api/client/bootstrap HTTP/1.1\r\nContent-Length: 2\r\n\r\n", b"", 413),
    ("GET with an empty body", "GET /api/client/bootstrap HTTP/1.1\r\nContent-Length: 0\r\n"
                               "Connection: close\r\n\r\n", b"", 200),
    ("unreadable target", "POST http://[::1/x HTTP/1.1\r\nContent-Length: 2\r\nExpect: 100-continue\r\n\r\n", b"", 400),
]
REPORT_BODY_CASES = BODY_CASES[:4]


def check_body_limits(test, peer, cases):
    # Only the head is sent: a 413 that waited for the body would never arrive.
    for label, head, body, status in cases:
        with test.subTest(label):
            received, closed = peer.raw(head.encode("ascii") + body)
            test.assertTrue(received.startswith(b"HTTP/1.1 %d " % status), received[:100])
            test.assertTrue(closed)


class ContractTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.svc = Service(CATALOGUE, FILES)

    @classmethod
    def tearDownClass(cls):
        cls.svc.stop()

    def bootstrap_apps(self):
        status, _, body = self.svc.get("/api/client/bootstrap")
        self.assertEqual(status, 200)
        doc = json.loads(body)
        self.assertEqual(doc["code"], 0)
        return doc["data"], {a["id"]: a for a in doc["data"]["apps"]}

    def test_bootstrap_members_and_computed_digests(self):
        data, apps = self.bootstrap_apps()
        self.assertEqual(data["categories"], CATALOGUE["categories"])
        self.assertEqual([a["id"] for a in data["apps"]], [1, 2, 3, 4, 5, 6, -3])
        a = apps[1]
        self.assertEqual(set(a), {"id", "name", "version", "description", "icon", "categoryIds", "packageSize",
                                  "md5", "sha256", "hasPackage", "downloads", "updatedAt"})
        self.assertEqual((a["version"], a["updatedAt"], a["downloads"]), ("1.2.3", 1733616000000, 12))
        self.assertEqual((a["packageSize"], a["md5"], a["sha256"], a["hasPackage"]),
                         (len(SETUP_A), hashlib.md5(SETUP_A).hexdigest(), hashlib.sha256(SETUP_A).hexdigest(), True))
        self.assertEqual((apps[2]["md5"], apps[2]["sha256"]),
                         (hashlib.md5(SETUP_B).hexdigest(), hashlib.sha256(SETUP_B).hexdigest()))
        self.assertEqual((apps[4]["hasPackage"], apps[4]["packageSize"], apps[4]["md5"], apps[4]["sha256"],
                          apps[4]["icon"]), (False, 0, "", "", ""))
        self.assertEqual(apps[4]["categoryId"], "web")
        self.assertEqual((apps[5]["md5"], apps[5]["sha256"], apps[5]["packageSize"]), ("0" * 32, "f" * 64, 7))
        self.assertTrue(apps[6]["hasPackage"])
        self.assertEqual((apps[2]["silentArgs"], "silentArgs" in apps[3]), ("/S /D=C:\\乙", False))
        # Mirrors pass through as listed, in order; the program judges them.
        self.assertEqual((apps[2]["mirrors"], "mirrors" in apps[3]), (CATALOGUE["apps"][1]["mirrors"], False))

    def test_digest_follows_a_changed_file(self):
        path = os.path.join(self.svc.folder, "pk/a/setup.exe")
        with open(path, "ab") as f:
            f.write(b"tail")
        try:
            _, apps = self.bootstrap_apps()
            self.assertEqual(apps[1]["md5"], hashlib.md5(SETUP_A + b"tail").hexdigest())
            self.assertEqual(apps[1]["sha256"], hashlib.sha256(SETUP_A + b"tail").hexdigest())
            self.assertEqual(apps[1]["packageSize"], len(SETUP_A) + 4)
            # Rewritten in place with the size and modification time it had (cp -p of a reproducible build).
            kept = os.stat(path)
            time.sleep(0.05)  # a later tick of the clock that stamps the change time
            with open(path, "r+b") as f:
                f.write(b"ZM")
            os.utime(path, ns=(kept.st_atime_ns, kept.st_mtime_ns))
            self.assertEqual(self.bootstrap_apps()[1][1]["md5"], hashlib.md5(b"ZM" + SETUP_A[2:] + b"tail").hexdigest())
        finally:
            with open(path, "wb") as f:
                f.write(SETUP_A)

    def test_bootstrap_answers_304_while_the_clients_copy_is_current(self):
        status, headers, body = self.svc.get("/api/client/bootstrap")
        self.assertEqual(status, 200)
        etag, modified = headers["etag"], headers["last-modified"]
        self.assertTrue(etag.startswith('"') and etag.endswith('"'), etag)
        earlier = email.utils.formatdate(email.utils.parsedate_to_datetime(modified).timestamp() - 1, usegmt=True)
        cases = [
            ({"If-None-Match": etag}, 304),
            ({"If-None-Match": '"other", ' + etag}, 304),
            ({"If-None-Match": '"other"'}, 200),
            ({"If-None-Match": '"other"', "If-Modified-Since": modified}, 200),  # the tag decides
            ({"If-Modified-Since": modified}, 304),
            ({"If-Modified-Since": earlier}, 200),
            ({"If-Modified-Since": "not a date"}, 200),
            ({}, 200),
        ]
        for conditions, expected in cases:
            with self.subTest(conditions=conditions):
                status, answered, data = self.svc.get("/api/client/bootstrap", headers=conditions)
                self.assertEqual(status, expected)
                self.assertEqual((answered["etag"], answered["last-modified"]), (etag, modified))
                self.assertEqual(data, b"" if expected == 304 else body)
                if expected == 304:
                    self.assertNotIn("content-length", answered)
        # A changed catalogue has a new tag: the old one no longer matches.
        path = os.path.join(self.svc.folder, "pk/a/setup.exe")
        with open(path, "ab") as f:
            f.write(b"tail")
        try:
            status, answered, _ = self.svc.get("/api/client/bootstrap", headers={"If-None-Match": etag})
            self.assertEqual(status, 200)
            self.assertNotEqual(answered["etag"], etag)
        finally:
            with open(path, "wb") as f:
                f.write(SETUP_A)

    def test_icon_is_served_under_its_url_with_its_type(self):
        _, apps = self.bootstrap_apps()
        status, headers, body = self.svc.get(apps[1]["icon"])
        self.assertEqual((status, headers["content-type"], body), (200, "image/png", PNG))

    def test_an_icon_or_package_swapped_for_a_link_out_is_not_served(self):
        secret = os.path.join(self.svc.tmp.name, "secret")
        with open(secret, "wb") as f:
            f.write(b"outside secret")
        for rel, url in (("icons/1.png", "/media/icons/1.png"), ("pk/a/setup.exe", "/files/1/setup.exe")):
            path = os.path.join(self.svc.folder, rel)
            os.rename(path, path + ".away")
            os.symlink(secret, path)
            try:
                status, _, body = self.svc.get(url)
                self.assertEqual(status, 404, url)
                self.assertNotIn(b"outside", body)
            finally:
                os.remove(path)
                os.rename(path + ".away", path)

    def test_download_redirects_to_each_apps_own_file(self):
        for app_id, content in ((1, SETUP_A), (2, SETUP_B), (5, SETUP_B), (-3, SETUP_NEG)):
            status, headers, _ = self.svc.get("/api/client/download/%d?channel=default" % app_id)
            self.assertEqual(status, 302)
            self.assertTrue(headers["location"].endswith("/setup.exe"), headers["location"])
            status, _, body = self.svc.get(headers["location"])
            self.assertEqual((status, body), (200, content))
        for path in ("/api/client/download/4?channel=x", "/api/client/download/6", "/api/client/download/99",
                     "/api/client/download/abc", "/files/1/other.exe", "/files/99/setup.exe",
                     "/api/client/download/-", "/api/client/download/--3", "/api/client/download/+3",
                     "/api/client/download/%EF%BC%93", "/files/3/setup.exe", "/files/%s/setup.exe" % ("1" * 5000)):
            self.assertEqual(self.svc.get(path)[0], 404, path)

    def test_ranges(self):
        total = len(SETUP_A)
        cases = [
            (None, 200, None, SETUP_A),
            ("bytes=0-0", 206, "bytes 0-0/%d" % total, SETUP_A[:1]),
            ("bytes=100-199", 206, "bytes 100-199/%d" % total, SETUP_A[100:200]),
            ("bytes=%d-" % (total - 5), 206, "bytes %d-%d/%d" % (total - 5, total - 1, total), SETUP_A[-5:]),
            ("bytes=-3", 206, "bytes %d-%d/%d" % (total - 3, total - 1, total), SETUP_A[-3:]),
            ("bytes=10-99999999", 206, "bytes 10-%d/%d" % (total - 1, total), SETUP_A[10:]),
            ("bytes=10-" + "9" * 5000, 206, "bytes 10-%d/%d" % (total - 1, total), SETUP_A[10:]),
            ("bytes=%s-" % ("9" * 5000), 416, "bytes */%d" % total, None),
            ("bytes=%d-" % total, 416, "bytes */%d" % total, None),
            ("bytes=5-2", 200, None, SETUP_A),
            ("items=0-1", 200, None, SETUP_A),
        ]
        for rng, status, content_range, body in cases:
            with self.subTest(rng=rng):
                got, headers, data = self.svc.get("/files/1/setup.exe", headers={"Range": rng} if rng else {})
                self.assertEqual(got, status)
                self.assertEqual(headers.get("content-range"), content_range)
                if body is not None:
                    self.assertEqual(data, body)
                    self.assertEqual(int(headers["content-length"]), len(body))
                    self.assertEqual(headers["content-type"], "application/octet-stream")

    def test_content_disposition_forms(self):
        _, headers, _ = self.svc.get("/api/client/download/3")
        status, headers, body = self.svc.get(headers["location"])
        self.assertEqual((status, body), (200, CHINESE))
        value = headers["content-disposition"]
        star = value.split("filename*=", 1)[1]
        self.assertTrue(star.startswith("UTF-8''"), value)
        self.assertEqual(urllib.parse.unquote(star[len("UTF-8''"):]), "极光 浏览器安装包.exe")
        self.assertNotIn(";", star)
        fallback = value.split('filename="', 1)[1].split('"', 1)[0]
        self.assertTrue(fallback.isascii() and fallback.endswith(".exe"), value)
        _, headers, _ = self.svc.get("/files/1/setup.exe")
        self.assertEqual(headers["content-disposition"],
                         "attachment; filename=\"setup.exe\"; filename*=UTF-8''setup.exe")

    def test_reports(self):
        check_reports(self, self.svc)

    def test_bodies_are_refused_by_their_route_before_they_are_read(self):
        check_body_limits(self, self.svc, BODY_CASES)

    def test_wrong_methods_and_unknown_paths(self):
        self.assertEqual(self.svc.get("/api/client/report")[0], 405)
        self.assertEqual(self.svc.request("POST", "/api/client/bootstrap")[0], 405)
        self.assertEqual(self.svc.get("/nothing")[0], 404)
        self.assertEqual(self.svc.get("/media/../catalogue.json")[0], 404)
        self.assertEqual(self.svc.get("/test/reset")[0], 404)  # no control API without --test-mode


if __name__ == "__main__":
    unittest.main()
