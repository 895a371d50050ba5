"""publish (the static site and its nginx configuration) and collect, checked against the service's own answers."""

import fcntl
import json
import os
import re
import resource
import shutil
import socket
import subprocess
import sys
import tempfile
import time
import unittest
import urllib.parse

from support import SERVICE, Collector, Peer, Service, run_publish, write_folder
from test_contract import CATALOGUE, CHINESE, FILES, REPORT_BODY_CASES, SETUP_A, check_body_limits, check_reports

sys.path.insert(0, os.path.dirname(SERVICE))
from qbservice import publish  # noqa: E402
from qbservice.catalogue import Catalogue, CatalogueError  # noqa: E402
from qbservice.reports import REPORT_BURST  # noqa: E402

NGINX = shutil.which("nginx") or (os.path.exists("/usr/sbin/nginx") and "/usr/sbin/nginx")


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def replace_file(path, data):
    """Writes a new file over path, as an operator's copy or build step does (a new inode)."""
    with open(path + ".new", "wb") as f:
        f.write(data)
    os.replace(path + ".new", path)


def served_files(site):
    """{site path: file} of every file but those of the state folder."""
    return {os.path.relpath(os.path.join(folder, name), site): os.path.join(folder, name)
            for folder, _, names in os.walk(site) for name in names if not folder.startswith(site + "/nginx")}


def routed(site, app_id):
    """The bytes of the file the site's configuration redirects the app's download to."""
    with open(os.path.join(site, "nginx.conf"), encoding="utf-8") as f:
        target = re.search(r'"/api/client/download/%d" "([^"]+)";' % app_id, f.read()).group(1)
    with open(os.path.join(site, urllib.parse.unquote(target).lstrip("/")), "rb") as f:
        return f.read()


def untagged(text):
    """A site path or text naming some with the content tags left out: media/<tag>/x -> media/x."""
    return re.sub(r"(media|files/-?\d+)/[0-9a-f]{16}/", r"\1/", text)


def wrote(lines):
    return sorted(untagged(line.split(" ", 1)[1]) for line in lines if line.startswith(("wrote ", "removed ")))


class PublishTest(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.folder = os.path.join(self.tmp.name, "catalogue")
        self.site = os.path.join(self.tmp.name, "site")
        write_folder(self.folder, CATALOGUE, FILES)

    def tearDown(self):
        self.tmp.cleanup()

    def publish(self, *extra):
        code, lines, err = run_publish(self.folder, self.site, *extra)
        self.assertEqual(code, 0, err)
        return wrote(lines)

    def test_the_site_holds_the_services_bootstrap_icons_and_each_package_once(self):
        self.publish()
        svc = Service(self.folder, {})
        try:
            _, _, body = svc.get("/api/client/bootstrap")
        finally:
            svc.stop()
        with open(os.path.join(self.site, "api/client/bootstrap"), encoding="utf-8") as f:
            self.assertEqual(untagged(f.read()), body.decode())  # the icons under their published paths
        self.assertEqual(json.loads(body)["data"]["apps"][1]["mirrors"], CATALOGUE["apps"][1]["mirrors"])
        files = {untagged(rel): path for rel, path in served_files(self.site).items()}
        self.assertEqual(sorted(files), sorted(["api/client/bootstrap", "nginx.conf", "media/icons/1.png",
                                                "files/1/setup.exe", "files/2/setup.exe", "files/5/setup.exe",
                                                "files/3/极光 浏览器安装包.exe", "files/-3/setup.exe"]))
        for rel, source in (("files/1/setup.exe", "pk/a/setup.exe"), ("files/5/setup.exe", "pk/b/setup.exe"),
                            ("media/icons/1.png", "icons/1.png")):
            # hard links on one file system: no second copy of a package
            self.assertTrue(os.path.samefile(files[rel], os.path.join(self.folder, source)), rel)

    def test_publishing_again_rewrites_only_what_changed_and_the_bootstrap_last(self):
        files = self.publish("--reload", "false")  # a new site: no nginx to reload yet
        self.assertEqual(len(files), 8)
        self.assertEqual(self.publish(), [])
        bootstrap = os.path.join(self.site, "api/client/bootstrap")
        before = os.stat(bootstrap)
        # Same size, new bytes, the time kept (cp -p): nginx's tag (time and size) must change all the same.
        package = os.path.join(self.folder, "pk/a/setup.exe")
        kept = os.stat(package)
        replace_file(package, SETUP_A[::-1])
        os.utime(package, ns=(kept.st_atime_ns, kept.st_mtime_ns))
        self.assertEqual(self.publish(), ["api/client/bootstrap", "files/1/setup.exe", "nginx.conf"])
        self.assertEqual(routed(self.site, 1), SETUP_A[::-1])
        after = os.stat(bootstrap)
        self.assertEqual(after.st_size, before.st_size)
        self.assertNotEqual(int(after.st_mtime), int(before.st_mtime))

        # An app gone and a package changed: nginx is reloaded before the bootstrap that names them is in place,
        # and a failed reload leaves the site as it was.
        with open(bootstrap, "rb") as f:
            old_bootstrap = f.read()
        doc = dict(CATALOGUE, apps=[a for a in CATALOGUE["apps"] if a["id"] != 3])
        write_folder(self.folder, doc, {})
        replace_file(package, SETUP_A + b"v2")
        seen = os.path.join(self.tmp.name, "seen")
        site = served_files(self.site)
        code, lines, err = run_publish(self.folder, self.site, "--reload", "false")
        self.assertEqual(code, 1, err)
        self.assertIn("reload failed", err)
        self.assertEqual(served_files(self.site), site)
        with open(bootstrap, "rb") as f:
            self.assertEqual(f.read(), old_bootstrap)
        self.assertEqual(routed(self.site, 1), SETUP_A[::-1])
        self.assertEqual(self.publish("--reload", "cp '%s' '%s'" % (bootstrap, seen)),
                         ["api/client/bootstrap", "files/1/setup.exe", "nginx.conf"])
        with open(seen, "rb") as f:
            self.assertEqual(f.read(), old_bootstrap)
        self.assertEqual(self.publish("--reload", "false"), [])  # nothing changed: no reload
        # What only the old bootstrap names stays while a client may hold it, and goes at the next publish after.
        self.assertEqual((routed(self.site, 1), routed(self.site, 3)), (SETUP_A + b"v2", CHINESE))
        self.assertEqual(len([rel for rel in served_files(self.site) if rel.startswith("files/1/")]), 3)
        written, removed = publish.publish(Catalogue(self.folder), self.site, "127.0.0.1:8080", "127.0.0.1:8081",
                                           say=lambda _: None, now=time.time() + 60)
        self.assertEqual((written, sorted(map(untagged, removed))),
                         (["nginx.conf"], ["files/1/setup.exe"] * 2 + ["files/3/极光 浏览器安装包.exe"]))
        self.assertEqual(sorted(map(untagged, served_files(self.site))), [f for f in files if "files/3/" not in f])
        with open(os.path.join(self.site, "nginx.conf"), encoding="utf-8") as f:
            self.assertNotIn("/api/client/download/3", f.read())

    def test_a_file_swapped_for_a_link_is_never_published(self):
        secret = os.path.join(self.tmp.name, "secret")
        with open(secret, "wb") as f:
            f.write(b"outside secret")

        def swap(to_link=True):
            for rel in ("icons/1.png", "pk/a/setup.exe"):
                os.remove(os.path.join(self.folder, rel))
                if to_link:
                    os.symlink(secret, os.path.join(self.folder, rel))
            if not to_link:
                write_folder(self.folder, CATALOGUE, FILES)

        catalogue = Catalogue(self.folder)  # checked and hashed
        swap()
        with self.assertRaisesRegex(CatalogueError, "leads out of the folder"):
            publish.publish(catalogue, self.site, "127.0.0.1:8080", "127.0.0.1:8081", say=lambda _: None)
        swap(to_link=False)
        catalogue = Catalogue(self.folder)
        hash_open = catalogue.digests.of_open

        def hashed_then_swapped(path, f, st):  # the file is open, checked and hashed by then, not yet linked
            digests = hash_open(path, f, st)
            if path.endswith(("icons/1.png", "pk/a/setup.exe")):
                os.remove(path)
                os.symlink(secret, path)
            return digests

        catalogue.digests.of_open = hashed_then_swapped
        publish.publish(catalogue, self.site, "127.0.0.1:8080", "127.0.0.1:8081", say=lambda _: None)
        self.assertEqual(routed(self.site, 1), SETUP_A)  # the files that were opened, checked and hashed
        for folder, dirs, names in os.walk(self.site):
            for path in (os.path.join(folder, name) for name in dirs + names):
                self.assertFalse(os.path.islink(path), path)
                if os.path.isfile(path):
                    with open(path, "rb") as f:
                        self.assertNotIn(b"outside", f.read(), path)

    def test_names_of_any_length_and_ending_and_more_files_than_may_be_open_are_published_and_kept(self):
        long_name = "p/" + "長" * 81 + ".exe"  # 247 bytes, within the 255 a file name may have
        doc = {"categories": [], "apps": [{"id": 1, "name": "a", "icon": "i/a.png", "package": long_name},
                                          {"id": 2, "name": "b", "icon": "i/a.png.publishing"}]}
        doc["apps"] += [{"id": 10 + i, "name": "n", "package": "many/%d.exe" % i} for i in range(100)]
        write_folder(self.folder, doc, {"i/a.png": b"A", "i/a.png.publishing": b"B", long_name: b"MZ",
                                        **{"many/%d.exe" % i: b"MZ%d" % i for i in range(100)}})
        limits = resource.getrlimit(resource.RLIMIT_NOFILE)  # inherited by publish
        resource.setrlimit(resource.RLIMIT_NOFILE, (64, limits[1]))
        self.addCleanup(resource.setrlimit, resource.RLIMIT_NOFILE, limits)
        self.assertIn("files/1/" + long_name[2:], "\n".join(self.publish()))
        replace_file(os.path.join(self.folder, "i/a.png"), b"AA")
        self.assertNotIn("a.png.publishing", "\n".join(self.publish()))
        # Renamed in letter case alone, the old name still served: nginx's maps would take both for one key.
        os.rename(os.path.join(self.folder, long_name), os.path.join(self.folder, long_name[:-3] + "EXE"))
        doc["apps"][0]["package"] = long_name[:-3] + "EXE"
        write_folder(self.folder, doc, {})
        self.publish()
        with open(os.path.join(self.site, "nginx.conf"), encoding="utf-8") as f:
            keys = re.findall(r'^ +"(/[^"]*)" ', f.read(), re.M)
        self.assertEqual(len({k.lower() for k in keys}), len(keys))

    def test_a_publish_while_another_holds_the_site_fails_and_writes_nothing(self):
        os.makedirs(os.path.join(self.site, "nginx"))
        with open(os.path.join(self.site, "nginx/publish.lock"), "w") as held:
            fcntl.flock(held, fcntl.LOCK_EX)
            code, _, err = run_publish(self.folder, self.site)
        self.assertEqual(code, 1, err)
        self.assertIn("another publish is writing", err)
        self.assertEqual(served_files(self.site), {})
        self.assertEqual(len(self.publish()), 8)  # once it has ended

    def test_a_site_overlapping_the_catalogue_or_arguments_nginx_would_misread_are_refused(self):
        packages = os.path.join(self.tmp.name, "packages")
        write_folder(packages, CATALOGUE, FILES)
        cases = [(self.folder, [], "overlap"), (os.path.join(self.folder, "pk"), [], "overlap"),
                 (self.tmp.name, [], "overlap"), (os.path.join(packages, "site"), ["--packages", packages], "overlap"),
                 (self.site, ["--base-url", "https://cdn.example.com\n"], "--base-url"),
                 (self.site, ["--listen", "127.0.0.1:8080\n"], "--listen")]
        for out, extra, problem in cases:
            with self.subTest(out=out, extra=extra):
                code, _, err = run_publish(self.folder, out, *extra)
                self.assertEqual(code, 2, err)
                self.assertIn(problem, err)
        self.assertFalse(os.path.exists(self.site))
        for rel, data in FILES.items():
            with open(os.path.join(self.folder, rel), "rb") as f:
                self.assertEqual(f.read(), data)


@unittest.skipUnless(NGINX, "nginx is not installed")
class NginxSiteTest(unittest.TestCase):
    """The published site on nginx answers as the service does; reports go through to the collector."""

    @classmethod
    def setUpClass(cls):
        cls.svc = Service(CATALOGUE, FILES)
        cls.collector = Collector("--trusted-proxy", "127.0.0.1")
        cls.site = os.path.join(cls.svc.tmp.name, "site")
        os.chmod(cls.svc.tmp.name, 0o755)  # run as root, nginx's workers read the site as nobody
        port = free_port()
        code, _, err = run_publish(cls.svc.folder, cls.site, "--listen", "127.0.0.1:%d" % port,
                                   "--collector", "127.0.0.1:%d" % cls.collector.port)
        assert code == 0, err
        cls.checked = subprocess.run([NGINX, "-t", "-p", cls.site, "-c", "nginx.conf"], capture_output=True, text=True)
        cls.nginx = subprocess.Popen([NGINX, "-p", cls.site, "-c", "nginx.conf", "-g", "daemon off;"],
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        cls.web = Peer()
        cls.web.host, cls.web.port = "127.0.0.1", port
        deadline = time.time() + 10
        while time.time() < deadline:
            try:
                socket.create_connection(("127.0.0.1", port), timeout=1).close()
                break
            except OSError:
                time.sleep(0.05)

    @classmethod
    def tearDownClass(cls):
        cls.nginx.terminate()
        cls.nginx.wait(timeout=10)
        cls.collector.stop()
        cls.svc.stop()

    def test_nginx_accepts_the_configuration(self):
        self.assertEqual(self.checked.returncode, 0, self.checked.stderr)
        self.assertIn("test is successful", self.checked.stderr)

    def test_answers_match_the_services(self):
        total = len(SETUP_A)
        cases = [("/api/client/bootstrap", None), ("/media/icons/1.png", None),
                 ("/api/client/download/1?channel=x", None), ("/api/client/download/-3", None),
                 ("/api/client/download/3", None), ("/api/client/download/4", None),
                 ("/api/client/download/99", None), ("/api/client/download/+3", None),
                 ("/files/3/%E6%9E%81%E5%85%89%20%E6%B5%8F%E8%A7%88%E5%99%A8%E5%AE%89%E8%A3%85%E5%8C%85.exe", None),
                 ("/files/1/other.exe", None), ("/catalogue.json", None), ("/nginx.conf", None)]
        cases += [("/files/1/setup.exe", rng) for rng in
                  (None, "bytes=0-0", "bytes=100-199", "bytes=%d-" % (total - 5), "bytes=-3", "bytes=10-99999999",
                   "bytes=%d-" % total, "bytes=0-0,5-6", "items=0-1")]
        compared = ("content-type", "content-range", "content-length", "content-disposition", "location")
        published = {untagged(rel): "/" + urllib.parse.quote(rel) for rel in served_files(self.site)}
        for path, rng in cases:
            with self.subTest(path=path, rng=rng):
                headers = {"Range": rng} if rng else {}
                want_status, want, want_body = self.svc.get(path, headers=headers)
                # Files under their published paths, which the answers name; the rest as the service has them.
                status, got, body = self.web.get(published.get(urllib.parse.unquote(path[1:]), path), headers=headers)
                got = {k: untagged(v) for k, v in got.items()}
                body = untagged(body.decode("latin-1")).encode("latin-1")
                if path == "/api/client/bootstrap":
                    got["content-length"] = str(len(body))
                self.assertEqual(status, want_status)
                if status < 300:
                    self.assertEqual(body, want_body)
                    self.assertEqual({k: got.get(k) for k in compared}, {k: want.get(k) for k in compared})
                elif status == 302:
                    self.assertEqual(got["location"], want["location"])
                if path.startswith("/files/1/") and status in (200, 206):
                    self.assertEqual(got["cache-control"], "max-age=2592000")

    def test_bootstrap_tag_gives_304_to_the_programs_conditional_request(self):
        status, headers, _ = self.web.get("/api/client/bootstrap")
        self.assertEqual((status, headers["cache-control"]), (200, "max-age=60"))
        # The program sends back both validators it stored.
        conditions = {"If-None-Match": headers["etag"], "If-Modified-Since": headers["last-modified"]}
        status, answered, body = self.web.get("/api/client/bootstrap", headers=conditions)
        self.assertEqual((status, body, answered["etag"]), (304, b"", headers["etag"]))
        stale = dict(conditions, **{"If-None-Match": '"0-0"'})
        self.assertEqual(self.web.get("/api/client/bootstrap", headers=stale)[0], 200)

    def test_reports_go_to_the_collector_and_its_log(self):
        before = len(self.collector.reports())
        body = {"appId": 7, "event": "install", "channel": "官网"}
        status, _, answer = self.web.request("POST", "/api/client/report", body=body,
                                             headers={"Content-Type": "application/json"})
        self.assertEqual((status, json.loads(answer)), (200, {"code": 0}))
        status, _, _ = self.web.request("POST", "/api/client/report", body=b"x" * 65537)
        self.assertEqual(status, 413)
        logged = self.collector.reports()[before:]
        self.assertEqual([(r["appId"], r["channel"], r["client"]) for r in logged], [(7, "官网", "127.0.0.1")])
        answers = [self.web.request("POST", "/api/client/report", body=body) for _ in range(REPORT_BURST + 5)]
        self.assertEqual((answers[-1][0], answers[-1][1]["content-type"]), (429, "text/html"))  # nginx's own


class CollectorTest(unittest.TestCase):
    def setUp(self):
        self.collector = Collector()

    def tearDown(self):
        self.collector.stop()

    def test_reports_are_checked_and_limited_as_the_service_does(self):
        check_reports(self, self.collector)
        check_body_limits(self, self.collector, REPORT_BODY_CASES)

    def test_reports_beyond_a_burst_from_one_address_are_refused(self):
        report = {"appId": 1, "event": "install", "channel": "c"}
        statuses = [self.collector.request("POST", "/api/client/report", body=report)[0]
                    for _ in range(REPORT_BURST + 5)]
        self.assertEqual((statuses[:REPORT_BURST], statuses[-1]), ([200] * REPORT_BURST, 429))
        self.assertEqual(len(self.collector.reports()), statuses.count(200))

    def test_only_reports_are_taken(self):
        self.assertEqual(self.collector.get("/api/client/bootstrap")[0], 404)
        self.assertEqual(self.collector.get("/api/client/report")[0], 405)

    def test_a_report_that_cannot_be_stored_is_not_acknowledged(self):
        for log, status in ((self.collector.tmp.name, 500), ("/dev/full", 503)):  # a folder; a full disk
            with self.subTest(log=log):
                peer = Collector("--report-log", log)
                try:
                    self.assertEqual(peer.request("POST", "/api/client/report", body={
                        "appId": 1, "event": "install", "channel": "c"})[0], status)
                finally:
                    peer.proc.terminate()
                    err = peer.proc.communicate()[1]
                    peer.tmp.cleanup()
                self.assertIn("was not stored", err)

    def test_the_address_only_a_trusted_proxy_saw_is_logged(self):
        def send_from(peer):
            for forwarded in ("203.0.113.9", "fe80::1%eth0", "not an address"):
                peer.request("POST", "/api/client/report", body={"appId": 1, "event": "install", "channel": "c"},
                             headers={"X-Real-IP": forwarded})
            return [r["client"] for r in peer.reports()]

        self.assertEqual(send_from(self.collector), ["127.0.0.1"] * 3)
        trusted = Collector("--trusted-proxy", "127.0.0.1")
        try:
            self.assertEqual(send_from(trusted), ["203.0.113.9", "127.0.0.1", "127.0.0.1"])
        finally:
            trusted.stop()


if __name__ == "__main__":
    unittest.main()
