"""The end-to-end runs' world: their own Wine prefix (BUILD/e2e), the local catalogue service in test
mode, Quillbox.exe driven like a user, and checks that save a screenshot when they fail."""
import glob
import json
import os
import shutil
import subprocess
import sys
import time
import urllib.request

import qbscreen
from qbdrive import ROOT, Program, wine_env
from qbscreen import Shot, TextStamps, find_text, wait_for

SERVICE = os.path.join(ROOT, "service", "quillbox-service")
CHANNEL = "e2e 测试"
DOWNLOADS = r"C:\qbe2e\downloads"
W, H = 1180, 780

# Colours the checks look for (#RRGGBB).
PRIMARY = 0x2563EB
NEUTRAL = (0xF2, 0xF3, 0xF5)
SUCCESS = 0x00B42A
ERROR = 0xF53F3F
TEXT = 0x1D2129
TERTIARY = 0x86909C
SECONDARY = 0x4E5969
WHITE = (255, 255, 255)
CARD_FILL = qbscreen.blend(0x462563EB, NEUTRAL)
INSTALLED_FILL = qbscreen.blend(0x2600B42A, WHITE)


# The header's search field in a 1180-wide window: the field, its edit control and its clear button.
SEARCH_FIELD = (480, 14, 680, 50)
SEARCH_EDIT = (516, 22, 650, 42)
SEARCH_CLEAR = (650, 20, 674, 44)


def pixel(units, dpi):
    """The device edge of a client position in 96-DPI units, as the program maps it (base/dpi_scale.h):
    the first pixel whose centre lies at or past it."""
    return -((96 - 2 * units * dpi) // 192)


def length(units, dpi):
    """A length in units as pixels, rounded as the program rounds its fonts and windows."""
    return (2 * units * dpi + 96) // 192


def scaled_screen(dpi):
    """The Xvfb screen a window at dpi fits: 1400 x 900 at 96, 2400 x 1600 at 144, 2600 x 1800 above."""
    return "1400x900x24" if dpi <= 96 else "2400x1600x24" if dpi <= 144 else "2600x1800x24"


def set_prefix_dpi(prefix_build, dpi):
    """Runs the next programs of the prefix at dpi: its LogPixels (which each program reads when it
    starts; 96 removes it) and a display the window fits, both restarted for it."""
    stop = os.path.join(ROOT, "scripts", "wine-stop")
    subprocess.run([stop, prefix_build], check=False)
    os.environ["QB_SCREEN"] = scaled_screen(dpi)
    key = r"HKCU\Control Panel\Desktop"
    command = (["reg", "delete", key, "/v", "LogPixels", "/f"] if dpi == 96 else
               ["reg", "add", key, "/v", "LogPixels", "/t", "REG_DWORD", "/d", str(dpi), "/f"])
    subprocess.run([os.path.join(ROOT, "scripts", "wine-run"), prefix_build, *command], check=False,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    subprocess.run([stop, prefix_build], check=False)


def format_size(n):
    """A byte count as the program shows it (src/downloads/formatting.cpp)."""
    if n <= 0:
        return "0 B"
    if n > 1073741823:
        return "%.2f GB" % (n / 1073741824.0)
    if n > 1048575:
        return "%.1f MB" % (n / 1048576.0)
    if n <= 1023:
        return "%d B" % n
    return "%d KB" % (n >> 10)


def card_button(i, columns=4, card_width=221):
    """Client rectangle of the action button of card i on an unscrolled grid (1180-wide window)."""
    row, column = divmod(i, columns)
    x = 226 + column * (card_width + 14) + (card_width - 100) // 2
    y = 126 + row * 248 + 188
    return x, y, x + 100, y + 32


def category_row(i):
    return 12, 78 + 54 * i, 188, 78 + 54 * i + 46


def row_base(k):
    return 216 + 96 * k


def centre(rect):
    return (rect[0] + rect[2]) // 2, (rect[1] + rect[3]) // 2


class Service:
    """quillbox-service in test mode on a fixed port, so it can go away and come back on the same one."""

    def __init__(self, catalogue, work, packages=None):
        self.catalogue, self.work, self.packages = catalogue, work, packages
        self.report_log = os.path.join(work, "reports.jsonl")
        self.port, self.proc = 0, None
        if os.path.exists(self.report_log):
            os.remove(self.report_log)
        self.start()

    def start(self):
        self.stderr = open(os.path.join(self.work, "service.log"), "a")
        self.proc = subprocess.Popen([sys.executable, SERVICE, "--catalogue", self.catalogue, "--test-mode",
                                      "--report-log", self.report_log, "--port", str(self.port)]
                                     + (["--packages", self.packages] if self.packages else []),
                                     stdout=subprocess.PIPE, stderr=self.stderr, text=True)
        line = self.proc.stdout.readline().strip()
        if not line.startswith("http://"):
            raise RuntimeError("the catalogue service did not start; see %s" % self.stderr.name)
        self.url = line
        self.port = int(line.rsplit(":", 1)[1])

    def stop(self):
        if self.proc and self.proc.poll() is None:
            self.proc.terminate()
            self.proc.wait(timeout=10)
        self.proc = None

    def control(self, path, body=None):
        data = None if body is None else json.dumps(body).encode("utf-8")
        request = urllib.request.Request(self.url + path, data=data, method="GET" if data is None else "POST",
                                         headers={"Content-Type": "application/json"})
        with urllib.request.urlopen(request, timeout=60) as answer:
            return json.loads(answer.read().decode("utf-8"))

    def fault(self, target, *faults):
        self.control("/test/faults", dict(target, faults=list(faults)))

    def requests(self):
        return self.control("/test/log")["requests"]

    def reports(self):
        if not os.path.exists(self.report_log):
            return []
        with open(self.report_log, encoding="utf-8") as f:
            return [json.loads(line) for line in f if line.strip()]


class Run:
    """One scenario: the program in the e2e prefix, pointed at a service; checks and their evidence."""

    def __init__(self, args, name, dpi=96):
        """Positions the cases give are client positions in 96-DPI units; at another dpi (the prefix set
        to it with set_prefix_dpi) they are mapped to the window's pixels as the program maps them."""
        self.name = name
        self.dpi = dpi
        self.prefix_build = os.path.abspath(args.prefix)
        self.exe = os.path.abspath(args.exe)
        self.stamp_exe = os.path.abspath(args.text_stamp)
        self.catalogue = os.path.abspath(args.catalogue)
        self.work = os.path.join(self.prefix_build, "runs", name)
        os.makedirs(self.work, exist_ok=True)
        for old in glob.glob(os.path.join(self.work, "FAIL-*.png")):
            os.remove(old)
        self.env = wine_env(self.prefix_build)
        self.drive_c = os.path.join(self.prefix_build, "wine", "prefix", "drive_c")
        self.failures = []
        self.program = None
        self.service = None
        self.stamps = TextStamps(self.stamp_exe, self.env, dpi)
        self.crash_lines_before = len(self.crash_log())
        # Each scenario starts with empty download folders and no unfinished download from another.
        shutil.rmtree(os.path.join(self.drive_c, "qbe2e"), ignore_errors=True)
        os.makedirs(self.host_path(DOWNLOADS))
        journal = self.journal_path()
        for path in (journal, journal + ".bad", journal[:-len(".json")] + ".live"):
            if os.path.exists(path):
                os.remove(path)
        self.started = time.time()

    # --- the prefix -------------------------------------------------------------------------------
    def user_folder(self, *parts):
        users = [u for u in glob.glob(os.path.join(self.drive_c, "users", "*"))
                 if os.path.basename(u).lower() != "public"]
        return os.path.join(users[0], *parts)

    def config_path(self):
        return self.user_folder("AppData", "Roaming", "Tidewell", "config.json")

    def journal_path(self):
        """The journal of unfinished downloads beside config.json."""
        return self.user_folder("AppData", "Roaming", "Tidewell", "downloads.json")

    def write_config(self, server, download_dir=DOWNLOADS, **settings):
        path = self.config_path()
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "w", encoding="utf-8") as f:
            json.dump({"server": server, "channel": CHANNEL, "downloadDir": download_dir, **settings}, f, ensure_ascii=False)

    def host_path(self, windows_path):
        assert windows_path[:3].upper() == "C:\\"
        return os.path.join(self.drive_c, *windows_path[3:].split("\\"))

    def crash_log(self):
        lines = []
        for path in glob.glob(os.path.join(self.drive_c, "users", "*", "Temp", "qb_crash.log")) + \
                glob.glob(os.path.join(self.drive_c, "windows", "temp", "qb_crash.log")):
            with open(path, "rb") as f:
                lines += f.read().splitlines()
        return lines

    def registry_value(self, key, value):
        """The data of a registry value in the prefix, or None."""
        out = subprocess.run(["wine", "reg", "query", key, "/v", value], env=self.env, capture_output=True)
        text = out.stdout.decode("utf-8", "replace")
        for line in text.splitlines():
            parts = line.split(None, 2)
            if len(parts) == 3 and parts[0] == value:
                return parts[2].strip()
        return None

    def delete_registry_key(self, key):
        subprocess.run(["wine", "reg", "delete", key, "/f"], env=self.env, capture_output=True)

    def register_installed(self, apps):
        """Lists apps as installed for the current user, as their installers would have: apps maps an
        uninstall key to (display name, display version). Imported from a UTF-16 .reg file, so the
        names do not depend on the locale a command line is converted with."""
        lines = ["Windows Registry Editor Version 5.00", ""]
        for key, (name, version) in apps.items():
            lines += [r"[HKEY_CURRENT_USER\Software\Microsoft\Windows\CurrentVersion\Uninstall\%s]" % key,
                      '"DisplayName"="%s"' % name, '"DisplayVersion"="%s"' % version, ""]
        path = os.path.join(self.work, "installed.reg")
        with open(path, "w", encoding="utf-16", newline="\r\n") as f:
            f.write("\n".join(lines))
        subprocess.run(["wine", "reg", "import", "Z:" + path.replace("/", "\\")], env=self.env, check=True,
                       capture_output=True)

    # --- the program ------------------------------------------------------------------------------
    def start_service(self):
        self.service = Service(self.catalogue, self.work)
        self.service.control("/test/reset", {})
        return self.service

    def forget_catalogue_cache(self):
        """Removes the program's cached bootstrap: the next start is a first one."""
        for name in ("bootstrap.json", "bootstrap.stamp.json"):
            path = self.user_folder("AppData", "Local", "Tidewell", "cache", name)
            if os.path.exists(path):
                os.remove(path)

    def start_program(self, keep_cache=False, args=()):
        if not keep_cache:
            self.forget_catalogue_cache()
        self.program = Program(self.prefix_build, self.exe, args)
        self.window = self.program.wait_window()
        size = self.window_size()
        g = self.program.wait_geometry(lambda g: (g["width"], g["height"]) == size, timeout=20)
        self.origin = (g["x"], g["y"])
        self.check("the window opens at %d x %d" % size, (g["width"], g["height"]) == size, g)
        return self.program

    def window_size(self):
        """The window's pixels at the run's DPI: 1180 x 780 scaled."""
        return length(W, self.dpi), length(H, self.dpi)

    def screen(self, x, y):
        return self.origin[0] + pixel(x, self.dpi), self.origin[1] + pixel(y, self.dpi)

    def screen_box(self, rect):
        return self.screen(rect[0], rect[1]) + self.screen(rect[2], rect[3])

    def click(self, x, y):
        self.program.click(*self.screen(x, y))

    def shot(self):
        self.last_shot = Shot.grab(self.env)
        return self.last_shot

    def pixel(self, shot, x, y):
        return shot.pixel(*self.screen(x, y))

    def text(self, shot, rect, font, fg, text, bg=None, frame="both"):
        return find_text(shot, self.stamps, self.screen_box(rect), font, fg, text, bg=bg, frame=frame)

    def wait_text(self, rect, font, fg, text, timeout=20, bg=None, frame="both"):
        """Grabs the screen until text shows in rect; the last grab stays in last_shot."""
        return wait_for(lambda: self.text(self.shot(), rect, font, fg, text, bg=bg, frame=frame), timeout)

    def alive(self):
        return self.program is not None and self.program.proc.poll() is None

    def responds(self, timeout=10):
        """The window answers: xdotool reads its geometry and the process is alive."""
        return self.alive() and self.program.geometry()["width"] == self.window_size()[0]

    def close_program(self):
        """Ends the program with its painted close button; checks it exits with 0."""
        if not self.alive():
            return
        self.click(W - 23, 32)
        try:
            code = self.program.wait_exit(timeout=30)
        except subprocess.TimeoutExpired:
            code = None
        self.check("the close button ends the program with exit code 0", code == 0, code)

    # --- checks -----------------------------------------------------------------------------------
    def check(self, what, ok, seen=""):
        stamp = "%6.1fs" % (time.time() - self.started)
        print("%s %s %s %s" % (stamp, "ok  " if ok else "FAIL", what, "" if ok else seen), flush=True)
        if not ok:
            self.failures.append(what)
            path = os.path.join(self.work, "FAIL-%d.png" % len(self.failures))
            try:
                Shot.grab(self.env).save(path)
                print("       screenshot: %s" % path, flush=True)
            except (OSError, subprocess.SubprocessError) as e:
                print("       no screenshot: %s" % e, flush=True)
        return ok

    def finish(self):
        try:
            self.close_program()
        finally:
            if self.program:
                self.program.kill()
            if self.service:
                self.service.stop()
            self.stamps.close()
        crashes = self.crash_log()[self.crash_lines_before:]
        self.check("no line was added to qb_crash.log", not crashes, crashes)
        print("%s: %s in %.0f s" % (self.name, "FAIL" if self.failures else "PASS", time.time() - self.started))
        return 1 if self.failures else 0
