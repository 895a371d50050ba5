"""The program behind a proxy that wants a password: Debian's tinyproxy with BasicAuth, named as the manual
proxy in the prefix's Internet settings (what WinHttpGetIEProxyConfigForCurrentUser reads), in front of the
http catalogue service. The login window asks once and is answered with the keyboard; catalogue, icons and a
package then arrive through the proxy (its log shows each request, and the service sees its Via header on
every one). With the proxy stopped and no cached catalogue the program shows 无法连接服务器."""
import os
import socket
import struct
import subprocess
import time

from e2e_support import DOWNLOADS, PRIMARY, TEXT, W, card_button, centre
from qbscreen import FONT_BUTTON, FONT_CARD_TITLE, FONT_SECTION_TITLE, rgb, stays, wait_for
from settings_window import drawn_controls

ROLE_TEXT, STATE_PROTECTED = 42, 0x20000000

SETTINGS_KEY = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Internet Settings"
CONNECTIONS_KEY = SETTINGS_KEY + r"\Connections"
USER, PASSWORD = "qbuser", "qb-Secret-7"
LOGIN_WINDOW = "^代理身份验证$"
# Wine sends an origin-form request line, as to no proxy, when the proxy's host is spelled like the
# target's: the service listens on 127.0.0.1, so the proxy listens on 127.0.0.2.
PROXY_HOST = "127.0.0.2"
ARCHIVE = "方块压缩包_便携版.zip"


class TinyProxy:
    """tinyproxy in the foreground on a free loopback port, asking for USER and PASSWORD, logging every request."""

    def __init__(self, work):
        self.work, self.proc = work, None
        with socket.socket() as s:
            s.bind((PROXY_HOST, 0))
            self.port = s.getsockname()[1]
        self.address = "%s:%d" % (PROXY_HOST, self.port)
        self.log = os.path.join(work, "tinyproxy.log")

    def start(self):
        conf = os.path.join(self.work, "tinyproxy.conf")
        with open(conf, "w") as f:
            f.write("Port %d\nListen %s\nTimeout 600\nMaxClients 64\nLogLevel Info\nLogFile \"%s\"\n"
                    "BasicAuth %s %s\nViaProxyName \"qbproxy\"\n" % (self.port, PROXY_HOST, self.log, USER, PASSWORD))
        if os.path.exists(self.log):
            os.remove(self.log)
        self.proc = subprocess.Popen(["tinyproxy", "-d", "-c", conf], stdout=subprocess.DEVNULL,
                                     stderr=subprocess.DEVNULL)
        def up():
            try:
                socket.create_connection((PROXY_HOST, self.port), timeout=0.5).close()
                return True
            except OSError:
                return self.proc.poll() is not None
        wait_for(up, 10, interval=0.05)

    def stop(self):
        if self.proc and self.proc.poll() is None:
            self.proc.terminate()
            self.proc.wait(timeout=10)
        self.proc = None

    def requests(self):
        """The request lines tinyproxy logged ("GET http://127.0.0.1:P/x HTTP/1.1")."""
        if not os.path.exists(self.log):
            return []
        with open(self.log, encoding="utf-8", errors="replace") as f:
            return [line.split("Request (file descriptor", 1)[1].split("): ", 1)[-1].strip()
                    for line in f if "Request (file descriptor" in line]


def connection_settings(proxy):
    """The Connections\\DefaultConnectionSettings blob of a manual proxy with no bypass list: version 0x46,
    a counter, the flags (direct | proxy), then the proxy, the bypass list and the PAC address, each as a
    length and its bytes, and the rest zero."""
    blob = struct.pack("<III", 0x46, 1, 0x1 | 0x2)
    for text in (proxy.encode("ascii"), b"", b""):
        blob += struct.pack("<I", len(text)) + text
    return blob + bytes(32)


def set_system_proxy(run, proxy):
    reg = lambda *args: subprocess.run(["wine", "reg", "add", *args, "/f"], env=run.env, check=True,
                                       capture_output=True)
    reg(CONNECTIONS_KEY, "/v", "DefaultConnectionSettings", "/t", "REG_BINARY", "/d", connection_settings(proxy).hex())
    reg(SETTINGS_KEY, "/v", "ProxyEnable", "/t", "REG_DWORD", "/d", "1")
    reg(SETTINGS_KEY, "/v", "ProxyServer", "/t", "REG_SZ", "/d", proxy)


def clear_system_proxy(run):
    subprocess.run(["wine", "reg", "delete", CONNECTIONS_KEY, "/v", "DefaultConnectionSettings", "/f"], env=run.env,
                   capture_output=True)
    for value in ("ProxyEnable", "ProxyServer"):
        subprocess.run(["wine", "reg", "delete", SETTINGS_KEY, "/v", value, "/f"], env=run.env, capture_output=True)


def login_windows(run):
    return run.program.xdo("search", "--onlyvisible", "--name", LOGIN_WINDOW).split()


def answer_login(run):
    shown = wait_for(lambda: login_windows(run), 40)
    if not run.check("a 407 from the proxy opens the login window 代理身份验证", shown):
        return False
    time.sleep(0.5)
    if run.access_probe:
        controls = drawn_controls(run.program, run.access_probe, "QBProxyAuth")
        password = controls.get("密码", (0, 0, ""))
        run.check("its password field reads as protected text to accessibility clients",
                  password[0] == ROLE_TEXT and password[1] & STATE_PROTECTED, controls)
    for keys in (["type", "--delay", "80", USER], ["key", "Tab"], ["type", "--delay", "80", PASSWORD],
                 ["key", "Return"]):
        run.program.xdo(*keys)
        time.sleep(0.3)
    return run.check("确定 (Enter) closes it", wait_for(lambda: not login_windows(run), 10))


def case_proxy(run):
    svc = run.start_service()
    proxy = TinyProxy(run.work)
    proxy.start()
    set_system_proxy(run, proxy.address)
    try:
        run.write_config(svc.url)
        run.start_program()
        if not answer_login(run):
            return
        heading = run.wait_text((212, 78, W - 12, 118), FONT_SECTION_TITLE, TEXT, "常用软件 · 5 款", timeout=40)
        run.check("the catalogue arrives through the proxy", heading)
        run.click(*centre(card_button(1)))  # the archive: saved, never installed
        done = wait_for(lambda: run.text(run.shot(), card_button(1), FONT_BUTTON, 0xFFFFFF, "打开文件夹",
                                         bg=rgb(PRIMARY)), 40)
        run.check("the package arrives through the proxy", done)
        saved = os.path.join(run.host_path(DOWNLOADS), ARCHIVE)
        with open(os.path.join(run.catalogue, "packages", ARCHIVE), "rb") as f:
            original = f.read()
        run.check("byte for byte", os.path.exists(saved) and open(saved, "rb").read() == original, saved)
        run.check("the login window asked once", stays(lambda: not login_windows(run), 2))
        seen = proxy.requests()
        print("       tinyproxy logged:", seen[:3], "...", len(seen), "requests", flush=True)
        for what, part in (("the catalogue", "/api/client/bootstrap"), ("an icon", "/media/"),
                           ("the package", "/api/client/download/")):
            run.check("the proxy's log shows %s" % what, any(part in line for line in seen), seen)
        served = svc.requests()
        without = [r["path"] for r in served if "qbproxy" not in (r.get("via") or "")]
        run.check("every one of the %d requests the service saw came through the proxy (Via)" % len(served),
                  served and not without, without)
        run.close_program()

        proxy.stop()
        run.start_program()
        failed = run.wait_text((200, 184, W, 214), FONT_CARD_TITLE, TEXT, "无法连接服务器", timeout=60)
        run.check("with the proxy stopped and no cached catalogue the program shows 无法连接服务器", failed)
    finally:
        proxy.stop()
        clear_system_proxy(run)
