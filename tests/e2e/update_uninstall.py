"""The update and uninstall case: real NSIS (with wizard pages) and Windows Installer packages, version 1.0
installed in the prefix before the program starts, 2.0 offered by the catalogue. While the NSIS app's
program runs, 升 级 on its card asks first, and 全部升级 skips it and updates the other; once it has
closed, 全部升级 updates it too. The program started again with --import installs a third app from a
list. Then 卸载 from the card's right-click menu. Last, with 自动升级 on, a --background start updates the
reinstalled 1.0 on its own. Checked on the screen and in the prefix's registry, and throughout no
installer shows a window."""
import json
import os
import subprocess
import threading
import time

from e2e_support import CHANNEL, INSTALLED_FILL, PRIMARY, SUCCESS, TEXT, WHITE, card_button, category_row, centre
from hostile_service import answer_box
from qbdrive import Program
from qbscreen import (FONT_BODY, FONT_BUTTON, FONT_CARD_TITLE, FONT_SECTION_TITLE, FONT_TOAST, blend, rgb, stays,
                      wait_for, wine_path)

HEADING = (212, 78, 1168, 118)
TOAST = ((1180 - 360) // 2, 80, (1180 + 360) // 2, 122)
UPDATE = 0xFF7D00
NEUTRAL_TEXT = 0x4E5969
NEUTRAL_FILL = (0xF2, 0xF3, 0xF5)
SUCCESS_TOAST = blend(0xE800B42A, (0xF5, 0xF6, 0xF8))
USER_UNINSTALL = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall"
MACHINE32_UNINSTALL = r"HKLM\Software\Wow6432Node\Microsoft\Windows\CurrentVersion\Uninstall"

# (card index in 升级测试, name, the 1.0 package, how a registration of it is found)
DAWN = (0, "Qb 晨光日历", "qb-dawn-1.0-setup.exe")
SPRUCE = (1, "Qb Spruce Ledger", "qb-spruce-1.0.msi")
DAWN_KEY = USER_UNINSTALL + r"\QbTestDawn"
BREEZE_KEY = USER_UNINSTALL + r"\QbTestBreeze"
SAMPLE_TITLE = "Quillbox 示例程序"  # the window of the program the packages install
UPDATES_PILL = (748, 32)
UPDATE_ALL = (1108, 99)
NOTICE_TITLE = (894, 689, 1146, 713)
NOTICE_LINE = (894, 719, 1146, 743)
WARNING_TEXT = 0xD67415


class WindowWatcher:
    """Lists, every 0.3 s, the visible top-level windows of the display that belong neither to Quillbox (unless
    quillbox) nor to the sample program: an installer that shows its wizard or its progress lands here."""

    def __init__(self, run, quillbox=False):
        self.run, self.seen, self.stopped, self.quillbox = run, set(), threading.Event(), quillbox
        self.thread = threading.Thread(target=self.watch, daemon=True)
        self.thread.start()

    def watch(self):
        while not self.stopped.is_set():
            program = self.run.program  # a restart brings another
            for window in program.xdo("search", "--onlyvisible", "--name", ".*").split():
                name = program.xdo("getwindowname", window).strip()
                pid = program.xdo("getwindowpid", window).strip()
                # A window gone between the search and the questions tells nothing: asked last, its pid is empty.
                if pid and (self.quillbox or pid != str(program.pid)) and name != SAMPLE_TITLE:
                    self.seen.add("%s (pid %s)" % (name, pid))
            self.stopped.wait(0.3)

    def stop(self):
        self.stopped.set()
        self.thread.join(timeout=10)
        return sorted(self.seen)


def reg_query(run, *args):
    out = subprocess.run(["wine", "reg", "query", *args], env=run.env, capture_output=True)
    return out.stdout.decode("utf-8", "replace")


def spruce_keys(run):
    """Registry keys of the Windows Installer product registered as Qb Spruce Ledger."""
    keys, current = [], None
    for line in reg_query(run, MACHINE32_UNINSTALL, "/s").splitlines():
        if line.startswith("HKEY_"):
            current = line.strip()
        elif current and line.split(None, 2)[:1] == ["DisplayName"] and line.rstrip().endswith("Qb Spruce Ledger"):
            keys.append(current)
    return keys


def registered_version(run, app):
    if app is DAWN:
        return run.registry_value(DAWN_KEY, "DisplayVersion")
    keys = spruce_keys(run)
    return run.registry_value(keys[0], "DisplayVersion") if len(keys) == 1 else (None if not keys else keys)


def wine(run, *args):
    return subprocess.run(["wine", *args], env=run.env, capture_output=True, timeout=120).returncode


def clean_slate(run):
    """Leftovers of an earlier run go first: the program must find exactly the 1.0 installs."""
    run.delete_registry_key(DAWN_KEY)
    run.delete_registry_key(BREEZE_KEY)
    for key in spruce_keys(run):
        wine(run, "msiexec", "/x", key.rsplit("\\", 1)[1], "/qn")


def preinstall(run, app):
    path = os.path.join(run.catalogue, "preinstall", app[2])
    if path.endswith(".msi"):
        return wine(run, "msiexec", "/i", wine_path(path), "/qn")
    return wine(run, path, "/S")


def button_shows(run, index, label, fg, bg, timeout):
    rect = card_button(index)
    return wait_for(lambda: run.text(run.shot(), rect, FONT_BUTTON, fg, label, bg=bg), timeout, interval=0.2)


def right_click(run, x, y):
    run.program.xdo("mousemove", *[str(v) for v in run.screen(x, y)])
    time.sleep(0.2)  # the pointer settles before the press, as in Program.click
    run.program.xdo("click", "3")


def open_menu(run, index):
    """Right-clicks the card's middle; the menu opens there: 卸载 is its first item, 打开下载目录 the second."""
    bx0, by0, bx1, _ = card_button(index)
    x, y = (bx0 + bx1) // 2, by0 - 80
    right_click(run, x, y)
    first = (x + 6, y + 6, x + 130, y + 40)
    return run.wait_text(first, FONT_BODY, TEXT, "卸载", timeout=10, bg=WHITE) and (x + 60, y + 23)


def is_version(run, app, wanted, timeout=20):
    return wait_for(lambda: registered_version(run, app) in wanted, timeout)


def xdo(run, *args):
    return subprocess.run(["xdotool", *args], env=run.env, capture_output=True, text=True, timeout=30).stdout


def sample_windows(run):
    return xdo(run, "search", "--onlyvisible", "--name", "^%s$" % SAMPLE_TITLE).split()


def close_sample_windows(run):
    """Clicks the OK button of each window of the sample program (a message box: OK in its middle, at the
    bottom), as a user closes it."""
    for window in sample_windows(run):
        g = dict(line.split("=", 1) for line in xdo(run, "getwindowgeometry", "--shell", window).split())
        if {"X", "Y", "WIDTH", "HEIGHT"} <= set(g):
            x, y = int(g["X"]) + int(g["WIDTH"]) // 2, int(g["Y"]) + int(g["HEIGHT"]) - 20
            xdo(run, "mousemove", str(x), str(y))
            xdo(run, "click", "1")


def start_dawn_program(run):
    """The 1.0 program of Qb 晨光日历, started from the folder its installer registered."""
    folder = run.registry_value(DAWN_KEY, "InstallLocation")
    subprocess.Popen(["wine", folder + "\\QbTestDawn.exe"], env=run.env, stdout=subprocess.DEVNULL,
                     stderr=subprocess.DEVNULL)
    return wait_for(lambda: sample_windows(run), 30)


def wait_question(run):
    return wait_for(lambda: xdo(run, "search", "--onlyvisible", "--name", "^升级软件$").split(), 90)


def update_all_while_one_runs(run):
    """升 级 on the card of the app whose program runs asks first (取消 leaves it be); then 全部升级 skips it
    and updates Qb Spruce Ledger."""
    run.check("Qb 晨光日历's 1.0 program runs", bool(start_dawn_program(run)))
    run.check("Qb 晨光日历's card offers 升 级", button_shows(run, DAWN[0], "升 级", 0xFFFFFF, rgb(UPDATE), timeout=30))
    run.click(*centre(card_button(DAWN[0])))
    question = wait_question(run)
    run.check("its update asks first: 「Qb 晨光日历」正在运行，关闭后继续升级？", bool(question))
    if question:
        xdo(run, "key", "--window", question[0], "Escape")  # 取消
    run.check("取消 leaves the app at 1.0 with its program running",
              stays(lambda: registered_version(run, DAWN) == "1.0" and len(sample_windows(run)) == 1, 1),
              registered_version(run, DAWN))
    run.click(*UPDATES_PILL)
    run.check("the updates page lists both apps",
              run.wait_text((224, 82, 980, 116), FONT_SECTION_TITLE, TEXT, "软件升级 · 2 款", timeout=30))
    run.click(*UPDATE_ALL)
    run.check("the batch ends in one summary: 已升级 1 款",
              run.wait_text(NOTICE_TITLE, FONT_CARD_TITLE, TEXT, "已升级 1 款", timeout=120))
    run.check("the summary names the app that runs as skipped",
              run.text(run.last_shot, NOTICE_LINE, FONT_BODY, WARNING_TEXT, "已跳过：「Qb 晨光日历」"))
    run.check("Qb Spruce Ledger is at 2.0 without its wizard", is_version(run, SPRUCE, ("2.0", "2.0.0")),
              registered_version(run, SPRUCE))
    run.check("Qb 晨光日历 stays at 1.0 and its program still runs",
              registered_version(run, DAWN) == "1.0" and len(sample_windows(run)) == 1, registered_version(run, DAWN))


def update_all_once_it_has_closed(run):
    """Its program closed, 全部升级 updates Qb 晨光日历 too: both apps reached 2.0 through 全部升级."""
    close_sample_windows(run)
    run.check("Qb 晨光日历's program has closed", wait_for(lambda: not sample_windows(run), 20))
    run.click(*UPDATES_PILL)
    run.check("the updates page lists Qb 晨光日历 alone",
              run.wait_text((224, 82, 980, 116), FONT_SECTION_TITLE, TEXT, "软件升级 · 1 款", timeout=30))
    run.click(*UPDATE_ALL)
    run.check("the second batch ends in its own summary: 全部完成",
              run.wait_text(NOTICE_LINE, FONT_BODY, SUCCESS, "全部完成", timeout=120))
    run.check("its summary says 已升级 1 款",
              run.text(run.last_shot, NOTICE_TITLE, FONT_CARD_TITLE, TEXT, "已升级 1 款"))
    run.check("Windows lists Qb 晨光日历 2.0", is_version(run, DAWN, ("2.0",)), registered_version(run, DAWN))


def import_a_list(run, svc):
    """The program started again with --import: a list from this server installs 清风便签 with no question.
    Started once more while it runs, it hands over: the running copy alone stays, and asks before an import."""
    listed = os.path.join(run.work, "list.json")
    with open(listed, "w", encoding="utf-8") as f:
        json.dump({"server": svc.url, "channel": CHANNEL, "apps": [{"id": 10, "name": "清风便签", "version": "1.0"}]},
                  f, ensure_ascii=False)
    run.click(1180 - 23, 32)  # the close button
    try:
        run.program.wait_exit(30)
    except subprocess.TimeoutExpired:
        run.program.kill()
    run.start_program(keep_cache=True, args=["--import", wine_path(listed)])
    run.check("the imported list ends in one summary: 已安装 1 款",
              run.wait_text(NOTICE_TITLE, FONT_CARD_TITLE, TEXT, "已安装 1 款", timeout=120))
    run.check("清风便签 is installed, without its wizard",
              wait_for(lambda: run.registry_value(BREEZE_KEY, "DisplayVersion") == "1.0", 20),
              run.registry_value(BREEZE_KEY, "DisplayVersion"))
    # Started again while it runs, the program hands its command line to the running copy and ends.
    again = subprocess.run(["wine", run.exe], env=run.program.env, stdin=subprocess.DEVNULL, capture_output=True,
                           timeout=60)
    run.check("another start hands over to the running copy and ends with 0", again.returncode == 0, again.returncode)
    windows = run.program.xdo("search", "--onlyvisible", "--name", "^Quillbox$").split()
    run.check("one Quillbox window stays, the running copy's", len(windows) == 1 and run.program.proc.poll() is None,
              windows)
    subprocess.run(["wine", run.exe, "--import", wine_path(listed)], env=run.program.env, stdin=subprocess.DEVNULL,
                   capture_output=True, timeout=60)
    run.check("a list handed over by another start asks first", answer_box(run, "导入软件清单", "Return"))


def background_start(run):
    """Started with --background, the program shows no window until another start asks for it."""
    run.click(1180 - 23, 32)  # the close button
    run.program.wait_exit(30)
    run.program = Program(run.prefix_build, run.exe, ["--background"])
    quillbox = lambda: run.program.xdo("search", "--all", "--pid", str(run.program.pid), "--onlyvisible",
                                       "--name", "^Quillbox$").split()
    run.check("--background runs without a window", stays(lambda: not quillbox() and run.program.proc.poll() is None, 4))
    again = subprocess.run(["wine", run.exe], env=run.program.env, stdin=subprocess.DEVNULL, capture_output=True,
                           timeout=60)
    run.window = run.program.wait_window()
    geometry = run.program.wait_geometry(lambda g: (g["width"], g["height"]) == run.window_size(), timeout=20)
    run.origin = (geometry["x"], geometry["y"])
    # The running copy's own window, at its full size: a tray's icon may carry the name as well.
    run.check("another start shows the background copy's window and ends", again.returncode == 0 and
              (geometry["width"], geometry["height"]) == run.window_size() and run.program.proc.poll() is None,
              (again.returncode, geometry))


def quillbox_processes(run):
    """The pids of the Quillbox.exe processes in this prefix (others may run in prefixes of their own)."""
    found = []
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            argv, env = (open("/proc/%s/%s" % (pid, part), "rb").read().split(b"\0") for part in ("cmdline", "environ"))
        except OSError:
            continue
        if argv[0].lower().endswith(b"quillbox.exe") and ("WINEPREFIX=" + run.env["WINEPREFIX"]).encode() in env:
            found.append(int(pid))
    return found


def automatic_update(run, svc):
    """With 自动升级 on and no idle time asked for, a --background start updates Qb 晨光日历 from 1.0 to 2.0 on
    its own, showing no window of its own or an installer's; another start shows the one copy's window."""
    run.click(1180 - 23, 32)  # the close button
    run.program.wait_exit(30)
    code = preinstall(run, DAWN)
    run.check("Qb 晨光日历 1.0 is installed again", code == 0 and registered_version(run, DAWN) == "1.0",
              (code, registered_version(run, DAWN)))
    run.write_config(svc.url, autoUpdate=True, autoUpdateIdleMinutes=0)
    run.program = Program(run.prefix_build, run.exe, ["--background"])
    watcher = WindowWatcher(run, quillbox=True)
    try:
        reached = is_version(run, DAWN, ("2.0",), timeout=120)
        # The batch's notice follows the registration; windows are still watched for while it comes.
        stays(lambda: run.program.proc.poll() is None, 3)
    finally:
        shown = watcher.stop()
    run.check("Qb 晨光日历 reaches 2.0 unattended", reached, registered_version(run, DAWN))
    # Wine's tray shows the icon in a window of its own, and the notice as an untitled balloon beside it.
    tray = {entry.rsplit(" (", 1)[1] for entry in shown if entry.startswith("Wine System Tray (")}
    others = [entry for entry in shown if entry.rsplit(" (", 1)[1] not in tray]
    run.check("the batch ends in a notice from the tray", any(e[:2] == " (" and e[2:] in tray for e in shown), shown)
    run.check("neither Quillbox nor the installer showed a window meanwhile", not others, others)
    again = subprocess.run(["wine", run.exe], env=run.program.env, stdin=subprocess.DEVNULL, capture_output=True,
                           timeout=60)
    run.program.wait_window()
    windows = run.program.xdo("search", "--onlyvisible", "--name", "^Quillbox$").split()
    copies = quillbox_processes(run)
    run.check("another start shows the one running copy's window and ends",
              again.returncode == 0 and run.program.proc.poll() is None and len(windows) == 1 and
              copies == [run.program.pid], (again.returncode, windows, copies))


def uninstall(run, app):
    index, name, _ = app
    if app is DAWN:
        # The question's default button is No: Return keeps the app.
        item = open_menu(run, index)
        run.check("%s: a right-click on the installed card opens the menu with 卸载" % name, bool(item))
        run.click(*item)
        run.check("%s: 卸载 asks first, and Return answers No" % name, answer_box(run, "卸载软件", "Return"))
        run.check("%s: after No it stays installed" % name,
                  stays(lambda: registered_version(run, app) == "2.0", 2)
                  and button_shows(run, index, "已安装", SUCCESS, INSTALLED_FILL, timeout=5))
    item = open_menu(run, index)
    run.check("%s: the menu opens again" % name, bool(item))
    run.click(*item)
    run.check("%s: the question is answered Yes" % name, answer_box(run, "卸载软件", "y"))
    if app is DAWN:
        # Its uninstaller hands over to a copy of itself at once; the card waits for the registration.
        run.check("%s: the card reads 卸载中 while the uninstaller works" % name,
                  button_shows(run, index, "卸载中", NEUTRAL_TEXT, NEUTRAL_FILL, timeout=5))
    # White text on the green banner over the page's background: with the banner's colour named, a
    # blank light area cannot pass for white text.
    run.check("%s: the toast says 「%s」已卸载" % (name, name),
              run.wait_text(TOAST, FONT_TOAST, 0xFFFFFF, "「%s」已卸载" % name, timeout=70, bg=SUCCESS_TOAST))
    run.check("%s: the card offers 安 装 again" % name,
              button_shows(run, index, "安 装", 0xFFFFFF, rgb(PRIMARY), timeout=10))
    run.check("%s: the registration is gone" % name, registered_version(run, app) is None, registered_version(run, app))


def case_update_uninstall(run):
    clean_slate(run)
    close_sample_windows(run)
    for app in (DAWN, SPRUCE):
        code = preinstall(run, app)
        run.check("%s 1.0 is installed in the prefix before the program starts" % app[1],
                  code == 0 and registered_version(run, app) in ("1.0", "1.0.0"), (code, registered_version(run, app)))
    svc = run.start_service()
    run.write_config(svc.url)
    # --export with no window: the catalogue from the service, the two 1.0 installs, a relative file.
    out = os.path.join(run.work, "out.json")
    if os.path.exists(out):
        os.remove(out)
    code = subprocess.run(["wine", run.exe, "--export", "out.json"], cwd=run.work, env=run.env, capture_output=True,
                          timeout=120).returncode
    listed = json.load(open(out, encoding="utf-8")) if os.path.exists(out) else {}
    expected = [(8, registered_version(run, DAWN)), (9, registered_version(run, SPRUCE))]
    run.check("Quillbox.exe --export out.json exits with 0 and lists both installs with their versions",
              code == 0 and listed.get("server") == svc.url and listed.get("channel") == CHANNEL
              and [(a["id"], a["version"]) for a in listed.get("apps", [])] == expected, (code, listed))
    run.start_program()
    run.click(*centre(category_row(2)))
    if not run.check("the 升级测试 category shows its two apps",
                     run.wait_text(HEADING, FONT_SECTION_TITLE, TEXT, "升级测试 · 2 款", timeout=40)):
        return
    watcher = WindowWatcher(run)
    try:
        update_all_while_one_runs(run)
        update_all_once_it_has_closed(run)
        import_a_list(run, svc)
    finally:
        shown = watcher.stop()
    run.check("no installer showed a window of its own", not shown, shown)
    background_start(run)
    run.click(*centre(category_row(2)))
    uninstall(run, DAWN)
    uninstall(run, SPRUCE)
    automatic_update(run, svc)
    clean_slate(run)
