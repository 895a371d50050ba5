"""The catalogue on a real web server: the e2e catalogue published with `quillbox-service publish` and served
by nginx alone, the report collector beside it. The program reaches nginx through a relay that cuts every
connection once it has carried a third of the NSIS package, while nginx's limit_rate keeps each transfer
in flight until then: the package can only arrive in ranged pieces. Catalogue, icons, the download through
the cuts, the install, the report in the collector's log and the card's 已安装 are checked.

With --site-server python the same site is served by Python's http.server (which ignores Range) with the
download route added: every attempt starts again from byte 0 and is cut, so the case must fail."""
import http.server
import json
import os
import re
import shutil
import socket
import subprocess
import sys
import threading

from e2e_support import CHANNEL, DOWNLOADS, INSTALLED_FILL, SERVICE, SUCCESS, TEXT, card_button, centre
from qbscreen import FONT_BUTTON, FONT_SECTION_TITLE, near, wait_for

NSIS_KEY = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\QbTestNsis"
NSIS_PACKAGE = "qb-nsis-setup.exe"
ICON_COLOUR = (40, 120, 200)  # app 1's icon (make_e2e_catalogue.png)
HEADING = (212, 78, 1168, 118)
RATE = "64k"                  # bytes a second per connection: a cut lands well inside a transfer
MIRRORED, MIRRORED_PACKAGE = 3, "big-portable.zip"


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait_port(port, proc, timeout=10):
    def state():
        if proc is not None and proc.poll() is not None:
            return "ended"
        try:
            socket.create_connection(("127.0.0.1", port), timeout=0.5).close()
            return "up"
        except OSError:
            return None
    return wait_for(state, timeout, interval=0.05) == "up"


class Relay:
    """Forwards loopback connections to a port; cuts (closes both ways) each connection once it has carried
    cut_after bytes to the client. Cutting here, not in nginx, leaves nginx's own behaviour untouched."""

    def __init__(self, upstream_port, cut_after):
        self.upstream_port, self.cut_after = upstream_port, cut_after
        self.cuts = 0
        self.listener = socket.create_server(("127.0.0.1", 0))
        self.url = "http://127.0.0.1:%d" % self.listener.getsockname()[1]
        threading.Thread(target=self._accept, daemon=True).start()

    def _accept(self):
        while True:
            try:
                client, _ = self.listener.accept()
            except OSError:
                return
            upstream = socket.create_connection(("127.0.0.1", self.upstream_port))
            threading.Thread(target=self._pump, args=(client, upstream, None), daemon=True).start()
            threading.Thread(target=self._pump, args=(upstream, client, [0]), daemon=True).start()

    def _pump(self, source, sink, carried):
        try:
            while True:
                block = source.recv(16384)
                if not block:
                    break
                if carried is not None and carried[0] + len(block) >= self.cut_after:
                    sink.sendall(block[:self.cut_after - carried[0]])
                    self.cuts += 1
                    break
                sink.sendall(block)
                if carried is not None:
                    carried[0] += len(block)
        except OSError:
            pass
        for s in (source, sink):
            try:
                s.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass
            s.close()

    def stop(self):
        self.listener.close()


class PlainSite:
    """The site on Python's http.server, which answers every Range with the whole file; the download route
    redirects to the one file in files/<id>/ as the nginx configuration does."""

    def __init__(self, site):
        class Handler(http.server.SimpleHTTPRequestHandler):
            def __init__(self, *args, **kw):
                super().__init__(*args, directory=site, **kw)

            def do_GET(self):
                m = re.match(r"^/api/client/download/(-?\d+)(\?|$)", self.path)
                folder = os.path.join(site, "files", m.group(1)) if m else None
                if folder and os.path.isdir(folder):
                    self.send_response(302)
                    self.send_header("Location", "/files/%s/%s" % (m.group(1), os.listdir(folder)[0]))
                    self.send_header("Content-Length", "0")
                    self.end_headers()
                    return
                super().do_GET()

            def log_message(self, *args):
                pass

        class Server(http.server.ThreadingHTTPServer):
            def handle_error(self, request, client_address):
                pass  # the relay's cuts break its writes; that is the point

        self.server = Server(("127.0.0.1", 0), Handler)
        self.port = self.server.server_address[1]
        threading.Thread(target=self.server.serve_forever, daemon=True).start()

    def stop(self):
        self.server.shutdown()
        self.server.server_close()


class Nginx:
    """nginx on the published site, unprivileged (-p SITE), with limit_rate added to a copy of its configuration."""

    def __init__(self, site, port):
        with open(os.path.join(site, "nginx.conf"), encoding="utf-8") as f:
            conf = f.read()
        # The mirrored app's download route refuses, as a service in trouble does.
        conf = conf.replace("  max_ranges 1;\n", "  max_ranges 1;\n  limit_rate %s;\n" % RATE, 1).replace(
            "    location / {", "    location = /api/client/download/%d { return 503; }\n    location / {" % MIRRORED, 1)
        with open(os.path.join(site, "nginx-e2e.conf"), "w", encoding="utf-8") as f:
            f.write(conf)
        self.proc = subprocess.Popen(["nginx", "-p", site, "-c", "nginx-e2e.conf", "-g", "daemon off;"],
                                     stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.port = port
        if not wait_port(port, self.proc):
            self.stop()
            raise RuntimeError("nginx did not start; see %s" % os.path.join(site, "nginx", "error.log"))
        self.access_log = os.path.join(site, "nginx", "access.log")

    def requests(self):
        """(request line, status, Range header) of every request nginx answered."""
        with open(self.access_log, encoding="utf-8", errors="replace") as f:
            found = [re.search(r'"([^"]*)" (\d+) \d+ "([^"]*)"', line) for line in f]
        return [(m.group(1), int(m.group(2)), m.group(3)) for m in found if m]

    def stop(self):
        if self.proc.poll() is None:
            self.proc.terminate()
            self.proc.wait(timeout=10)


class Mirror(Nginx):
    """nginx serving one file from a folder of its own, as a mirror does."""
    def __init__(self, folder, name, data):
        os.makedirs(os.path.join(folder, "www"), exist_ok=True)
        with open(os.path.join(folder, "www", name), "wb") as f:
            f.write(data)
        self.port = free_port()
        temp = "".join("%s_temp_path %s;" % (kind, kind) for kind in ("client_body", "proxy", "fastcgi", "uwsgi", "scgi"))
        with open(os.path.join(folder, "nginx.conf"), "w", encoding="utf-8") as f:
            f.write("pid nginx.pid; error_log error.log; events {}\nhttp { %s access_log access-%d.log; default_type "
                    "application/octet-stream; server { listen 127.0.0.1:%d; root www; } }\n" % (temp, self.port, self.port))
        self.proc = subprocess.Popen(["nginx", "-p", folder + "/", "-c", "nginx.conf", "-g", "daemon off;"],
                                     stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        if not wait_port(self.port, self.proc):
            raise RuntimeError("mirror nginx did not start; see %s" % os.path.join(folder, "error.log"))
        self.url, self.access_log = "http://127.0.0.1:%d/%s" % (self.port, name), os.path.join(folder, "access-%d.log" % self.port)


def start_mirrors(run, work):
    """nginx mirrors of app 3's package, one with other bytes of its size and one with its own, after a closed
    port; the e2e catalogue copied (packages linked) with the three listed."""
    good = open(os.path.join(run.catalogue, "packages", MIRRORED_PACKAGE), "rb").read()
    bad = good[:len(good) // 2] + bytes(4096) + good[len(good) // 2 + 4096:]
    mirrors = [Mirror(os.path.join(work, "mirror-" + kind), MIRRORED_PACKAGE, data)
               for kind, data in (("other", bad), ("good", good))]
    copy = os.path.join(work, "catalogue-mirrors")
    shutil.rmtree(copy, ignore_errors=True)
    shutil.copytree(run.catalogue, copy, copy_function=os.link, ignore=shutil.ignore_patterns("catalogue.json"))
    with open(os.path.join(run.catalogue, "catalogue.json"), encoding="utf-8") as f:
        catalogue = json.load(f)
    urls = ["http://127.0.0.1:%d/%s" % (free_port(), MIRRORED_PACKAGE)] + [m.url for m in mirrors]
    next(a for a in catalogue["apps"] if a["id"] == MIRRORED)["mirrors"] = urls
    with open(os.path.join(copy, "catalogue.json"), "w", encoding="utf-8") as f:
        json.dump(catalogue, f, ensure_ascii=False)
    return mirrors, copy, good, bad


def check_mirrors(run, server, mirrors, good, bad):
    """App 3 past its route's 503, the closed port and the mirror of other bytes, from the good mirror."""
    run.click(*centre(card_button(MIRRORED - 1)))
    run.check("the mirrored archive finishes although its route answers 503", wait_for(lambda: run.text(
        run.shot(), card_button(MIRRORED - 1), FONT_BUTTON, 0xFFFFFF, "打开文件夹", bg=(0x25, 0x63, 0xEB)), 120, 0.5))
    folder = run.host_path(DOWNLOADS)
    files = {name: open(os.path.join(folder, name), "rb").read() for name in os.listdir(folder)}
    run.check("it is byte-identical to the good mirror's", files.get(MIRRORED_PACKAGE) == good, sorted(files))
    run.check("no file holds the other mirror's bytes, and no .part is left",
              bad not in files.values() and not [n for n in files if n.endswith(".part")], sorted(files))
    answered = [[s for line, s, _ in server.requests() if line.startswith("GET /api/client/download/3?")]]
    answered += [[status for _, status, _ in m.requests()] for m in mirrors]
    run.check("the route answered only 503, both mirrors sent bytes", set(answered[0]) == {503} and
              all({200, 206} & set(a) for a in answered[1:]), answered)


def card_icon_pixels(run, shot, index):
    x, y, right, _ = card_button(index)
    x0, y0 = run.screen(x - 60, y - 188)
    x1, y1 = run.screen(right + 60, y - 90)
    return shot.count(x0, y0, x1, y1, lambda c: near(c, ICON_COLOUR, 8))


def case_nginx_site(run):
    plain = getattr(run, "site_server", "nginx") == "python"
    run.delete_registry_key(NSIS_KEY)
    work = run.work
    site = os.path.join(work, "site")
    shutil.rmtree(site, ignore_errors=True)
    report_log = os.path.join(work, "collector.jsonl")
    if os.path.exists(report_log):
        os.remove(report_log)
    collector = subprocess.Popen([sys.executable, SERVICE, "collect", "--port", "0", "--report-log", report_log],
                                 stdout=subprocess.PIPE, stderr=open(os.path.join(work, "collector.log"), "a"),
                                 text=True)
    server = relay = None
    mirrors = []
    try:
        collector_port = int(collector.stdout.readline().strip().rsplit(":", 1)[1])
        mirrors, catalogue, good, bad = ([], run.catalogue, b"", b"") if plain else start_mirrors(run, work)
        port = free_port()
        published = subprocess.run([sys.executable, SERVICE, "publish", "--catalogue", catalogue, "--out", site,
                                    "--listen", "127.0.0.1:%d" % port, "--collector", "127.0.0.1:%d" % collector_port],
                                   capture_output=True, text=True)
        if not run.check("publish writes the site", published.returncode == 0, published.stderr):
            return
        server = PlainSite(site) if plain else Nginx(site, port)
        size = os.path.getsize(os.path.join(run.catalogue, "packages", NSIS_PACKAGE))
        relay = Relay(server.port, cut_after=size // 3)
        print("       site served by %s on port %d, relay %s cutting each connection after %d bytes"
              % ("http.server" if plain else "nginx", server.port, relay.url, size // 3), flush=True)
        run.write_config(relay.url)
        run.start_program()
        heading = run.wait_text(HEADING, FONT_SECTION_TITLE, TEXT, "常用软件 · 5 款", timeout=40)
        if not run.check("the catalogue loads from the site: 常用软件 · 5 款", heading):
            return
        ok = wait_for(lambda: card_icon_pixels(run, run.shot(), 0) > 400, 20)
        run.check("app 1's icon is drawn on its card", ok, card_icon_pixels(run, run.last_shot, 0))

        run.click(*centre(card_button(0)))
        ok = wait_for(lambda: run.text(run.shot(), card_button(0), FONT_BUTTON, SUCCESS, "已安装", bg=INSTALLED_FILL),
                      150, interval=0.5)
        run.check("the package arrives through the cut connections, installs, and the card reads 已安装", ok,
                  "relay cuts: %d" % relay.cuts)
        run.check("the relay cut at least two transfers", relay.cuts >= 2, relay.cuts)
        if not plain:
            seen = server.requests()
            files = [(line, status, rng) for line, status, rng in seen if "/files/1/" in line]
            print("       nginx answered for the package:", files, flush=True)
            run.check("the download route answered 302",
                      any(line.startswith("GET /api/client/download/1?") and status == 302 for line, status, _ in seen))
            resumed = [rng for _, status, rng in files if status == 206 and re.match(r"bytes=[1-9]\d*-", rng)]
            run.check("nginx answered resumed ranges with 206", len(resumed) >= 2, files)
        reports = wait_for(lambda: [json.loads(line) for line in open(report_log, encoding="utf-8")]
                           if os.path.exists(report_log) else [], 10) or []
        run.check("the collector logged one install report for app 1 and channel %r" % CHANNEL,
                  [(r["appId"], r["event"], r["channel"]) for r in reports] == [(1, "install", CHANNEL)], reports)
        if mirrors:
            check_mirrors(run, server, mirrors, good, bad)
    finally:
        run.close_program()
        for part in [relay, server] + mirrors:
            if part:
                part.stop()
        collector.terminate()
        collector.wait(timeout=10)
        run.delete_registry_key(NSIS_KEY)
