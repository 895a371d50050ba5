"""A hostile service behind HTTPS: a package redirected to plain http, a package without a digest, a program
posing as version.dll with a wrong digest, an icon that claims 30 000 x 30 000 pixels, and a report endpoint
that never answers. Nothing may start that the user did not ask for, nothing but packages may land in the
download folder, and the window must answer throughout."""
import base64
import json
import os
import struct
import subprocess
import time
import zlib

import hostile
from e2e_support import DOWNLOADS, TEXT, W, card_button, centre
from qbscreen import FONT_SECTION_TITLE, FONT_TOAST, stays, wait_for
from tls_front import TlsFront

NSIS_KEY = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\QbTestNsis"
HKCU_KEY = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\QbTestHkcu"
TOAST = ((W - 360) // 2, 80, (W + 360) // 2, 122)
PACKAGE_EXTENSIONS = (".exe", ".msi", ".zip", ".rar", ".7z")
# The e2e catalogue's packages the scripted apps download: app 1 the NSIS package, app 4 a test
# installer, app 5 a small zip (its body is replaced by a program below).
DOWNGRADED, UNVERIFIED, PLANTED, BOMB = 4, 1, 5, 6


def png_bomb(side):
    """A small, valid PNG whose header claims side x side RGBA pixels."""
    def chunk(kind, body):
        return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body) & 0xFFFFFFFF)
    header = struct.pack(">IIBBBBB", side, side, 8, 6, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(b"\0" * 65536, 9)) +
            chunk(b"IEND", b""))


def bootstrap():
    def app(i, name, **extra):
        entry = {"id": i, "name": name, "version": "1.0", "description": "d", "icon": "", "categoryIds": ["c0"],
                 "packageSize": 0, "md5": "", "sha256": "", "hasPackage": True, "downloads": 0,
                 "updatedAt": 1733616000000}
        entry.update(extra)
        return entry
    apps = [app(DOWNGRADED, "降级下载", md5="0123456789abcdef0123456789abcdef"),
            app(UNVERIFIED, "无校验安装"),
            app(PLANTED, "插件伪装", md5="0" * 32),
            app(BOMB, "图标炸弹", icon="/media/bomb.png", hasPackage=False)]
    return json.dumps({"code": 0, "data": {"categories": [{"id": "c0", "name": "测试"}], "apps": apps}},
                      ensure_ascii=False)


def resident_mib(pid):
    """The resident memory of a Linux process in MiB, or None."""
    try:
        with open("/proc/%d/status" % pid) as f:
            for line in f:
                if line.startswith("VmRSS:"):
                    return int(line.split()[1]) // 1024
    except OSError:
        pass
    return None


def program_pids():
    out = subprocess.run(["pgrep", "-f", "Quillbox.exe"], capture_output=True, text=True).stdout
    return [int(p) for p in out.split()]


def answer_box(run, title, key, timeout=40):
    """Waits for a message box of the program and answers it with a key; False when none came."""
    found = wait_for(lambda: run.program.xdo("search", "--onlyvisible", "--name", "^%s$" % title).split(), timeout)
    if not found:
        return False
    run.program.xdo("key", "--window", found[0], key)
    return bool(wait_for(lambda: not run.program.xdo("search", "--onlyvisible", "--name", "^%s$" % title).split(), 10))


def case_hostile_service(run):
    svc = run.start_service()
    svc.fault({"path": "/api/client/bootstrap"}, {"body": bootstrap(), "contentType": "application/json", "repeat": -1})
    # The package is sent through a redirect that leaves https for plain http.
    svc.fault({"path": "/api/client/download/%d" % DOWNGRADED},
              {"redirect": "%s/files/%d/md5-mismatch-setup.exe" % (svc.url, DOWNGRADED), "repeat": -1})
    # A program that calls itself version.dll, for the folder the next installer starts from.
    program = b"MZ" + bytes(range(256)) * 64
    svc.fault({"app": PLANTED}, {"bodyBase64": base64.b64encode(program).decode("ascii"),
                                 "contentType": "application/octet-stream",
                                 "headers": {"Content-Disposition": "attachment; filename=\"version.dll\""},
                                 "repeat": -1})
    svc.fault({"path": "/media/bomb.png"}, {"bodyBase64": base64.b64encode(png_bomb(30000)).decode("ascii"),
                                            "contentType": "image/png", "repeat": -1})
    svc.fault({"path": "/api/client/report"}, {"delayMs": 60000, "repeat": -1})

    front = TlsFront(upstream=svc.url, work=run.work, cache=os.path.join(run.prefix_build, "tls"))
    front.start()
    try:
        front.trust(run.env)
        run.write_config(front.url)
        run.start_program()
        steps(run, svc)
    finally:
        run.close_program()
        front.stop()
        run.delete_registry_key(NSIS_KEY)


def steps(run, svc):
    ok = run.wait_text(hostile.HEADING, FONT_SECTION_TITLE, TEXT, "测试 · 4 款", timeout=40)
    if not run.check("the catalogue loads over https: 测试 · 4 款", ok):
        return

    # The icon bomb: refused before decoding, the window stays small and answers.
    time.sleep(3)  # time to fetch it and, were it decoded, to fill its pixels: then its memory is measured
    sizes = [resident_mib(p) for p in program_pids()]
    run.check("the icon claiming 30 000 x 30 000 pixels costs no memory (resident MiB %s)" % sizes,
              sizes and all(s is not None and s < 600 for s in sizes), sizes)
    hostile.hovers(run, "the window answers after the icon bomb")

    # https -> http: refused, the download fails with the service message, nothing is fetched over http.
    run.click(*centre(card_button(0)))
    run.check("the downgraded download fails with the 下载失败 message box", answer_box(run, "下载失败", "Return"))
    fetched = [r["path"] for r in svc.requests() if r["path"].startswith("/files/%d/" % DOWNGRADED)]
    run.check("nothing was fetched from the plain-http target", not fetched, fetched)

    # A program named version.dll with a wrong digest: saved as an .exe, never started.
    run.click(*centre(card_button(2)))
    ok = run.wait_text(TOAST, FONT_TOAST, 0xFFFFFF, "下载完成，但 MD5 校验不一致，请谨慎安装", timeout=40)
    run.check("the planted program ends with the digest warning", ok)

    # No digest: downloaded, not started; the card asks first, and No (the default) starts nothing.
    run.click(*centre(card_button(1)))
    ok = run.wait_text(TOAST, FONT_TOAST, 0xFFFFFF, "「无校验安装」无法校验，未自动打开安装向导", timeout=60)
    run.check("a package without a digest is saved but not started", ok)
    run.check("no installer ran by itself", stays(lambda: run.registry_value(NSIS_KEY, "DisplayName") is None, 3))
    run.click(*centre(card_button(1)))
    run.check("立即安装 asks first; Return keeps the default No", answer_box(run, "无法校验安装包", "Return"))
    run.check("after No no installer ran", stays(lambda: run.registry_value(NSIS_KEY, "DisplayName") is None, 3))

    # Yes starts it; its report goes to an endpoint that never answers, and the window does not wait.
    run.click(*centre(card_button(1)))
    run.check("asked again, Y starts the installer", answer_box(run, "无法校验安装包", "y"))
    reported = wait_for(lambda: [r for r in svc.requests() if r["path"] == "/api/client/report"], 20)
    for n in range(3):
        hostile.hovers(run, "the window answers while the report stalls (%d)" % (n + 1), timeout=5)
    pending = [r for r in svc.requests() if r["path"] == "/api/client/report" and r["status"] == 0]
    run.check("the report was sent and its answer was still outstanding meanwhile", reported and len(pending) == 1,
              svc.requests()[-3:])
    installed = wait_for(lambda: run.registry_value(NSIS_KEY, "DisplayName") is not None, 60)
    run.check("the installer the user asked for ran", bool(installed))

    files = sorted(os.listdir(run.host_path(DOWNLOADS)))
    run.check("the download folder holds only packages", files and all(f.lower().endswith(PACKAGE_EXTENSIONS)
                                                                     for f in files), files)
    run.check("the planted program was saved as version.exe, never as version.dll",
              "version.exe" in files and "version.dll" not in files, files)
    run.check("the test installer behind the downgraded link never ran",
              run.registry_value(HKCU_KEY, "DisplayName") is None)
    run.check("the process is alive", run.alive())
