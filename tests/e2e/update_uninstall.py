"""The update and uninstall case: real NSIS and Windows Installer packages, version 1.0 installed in the
prefix before the program starts, 2.0 offered by the catalogue; 升 级 from the card, then 卸载 from the
card's right-click menu, checked on the screen and in the prefix's registry."""
import os
import subprocess
import time

from e2e_support import INSTALLED_FILL, PRIMARY, SUCCESS, TEXT, WHITE, card_button, category_row, centre
from hostile_service import answer_box
from qbscreen import FONT_BODY, FONT_BUTTON, FONT_SECTION_TITLE, FONT_TOAST, blend, rgb, wait_for, wine_path

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
    time.sleep(0.2)
    run.program.xdo("click", "3")


def open_menu(run, index):
    """Right-clicks the card's middle; the menu opens there: 卸载 is its first item, 打开下载目录 the second."""
    bx0, by0, bx1, _ = card_button(index)
    x, y = (bx0 + bx1) // 2, by0 - 80
    right_click(run, x, y)
    first = (x + 6, y + 6, x + 130, y + 40)
    return run.wait_text(first, FONT_BODY, TEXT, "卸载", timeout=10, bg=WHITE) and (x + 60, y + 23)


def update_then_uninstall(run, app):
    index, name, _ = app
    run.check("%s: the card of the 1.0 install offers 升 级" % name,
              button_shows(run, index, "升 级", 0xFFFFFF, rgb(UPDATE), timeout=30))
    run.click(*centre(card_button(index)))
    run.check("%s: the update installs and the card turns 已安装" % name,
              button_shows(run, index, "已安装", SUCCESS, INSTALLED_FILL, timeout=90))
    version = wait_for(lambda: registered_version(run, app) in ("2.0", "2.0.0") and registered_version(run, app), 20)
    run.check("%s: Windows lists version 2.0, and only it" % name, version in ("2.0", "2.0.0"),
              registered_version(run, app))

    if app is DAWN:
        # The question's default button is No: Return keeps the app.
        item = open_menu(run, index)
        run.check("%s: a right-click on the installed card opens the menu with 卸载" % name, bool(item))
        run.click(*item)
        run.check("%s: 卸载 asks first, and Return answers No" % name, answer_box(run, "卸载软件", "Return"))
        time.sleep(2)
        run.check("%s: after No it stays installed" % name,
                  registered_version(run, app) == "2.0" and button_shows(run, index, "已安装", SUCCESS,
                                                                          INSTALLED_FILL, timeout=5))
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
    for app in (DAWN, SPRUCE):
        code = preinstall(run, app)
        run.check("%s 1.0 is installed in the prefix before the program starts" % app[1],
                  code == 0 and registered_version(run, app) in ("1.0", "1.0.0"), (code, registered_version(run, app)))
    svc = run.start_service()
    run.write_config(svc.url)
    run.start_program()
    run.click(*centre(category_row(2)))
    if not run.check("the 升级测试 category shows its two apps",
                     run.wait_text(HEADING, FONT_SECTION_TITLE, TEXT, "升级测试 · 2 款", timeout=40)):
        return
    update_then_uninstall(run, DAWN)
    update_then_uninstall(run, SPRUCE)
    clean_slate(run)
