#!/usr/bin/env python3
"""The settings window opens from the header pill; Escape and "取消" back out without writing
config.json, "保存" writes it and shows the toast. The user's real config.json is put back after."""
import argparse
import glob
import os
import subprocess
import sys
import time

from qbdrive import Program
from qbscreen import wait_for

failures = []


def check(what, ok, seen=""):
    print("%s %s %s" % ("ok  " if ok else "FAIL", what, seen))
    if not ok:
        failures.append(what)


def config_path(build):
    users = glob.glob(os.path.join(os.path.abspath(build), "wine", "prefix", "drive_c", "users", "*", "AppData",
                                   "Roaming"))
    users = [u for u in users if not u.split(os.sep)[-3].lower() == "public"]
    return os.path.join(users[0], "Tidewell", "config.json")


def wait_gone(program, window, timeout=10):
    return wait_for(lambda: window not in program.xdo("search", "--onlyvisible", "--name", "^下载设置$").split(),
                    timeout, interval=0.1)


# MSAA roles and the checked state (oleacc.h).
ROLE_PUSHBUTTON, ROLE_CHECKBUTTON, ROLE_SLIDER = 0x2B, 0x2C, 0x33
STATE_CHECKED = 0x10


def drawn_controls(program, probe, window_class="QBSettings"):
    """What an accessibility client in another process reads of a window's controls (the settings window's
    by default): name to (role, state, value)."""
    out = subprocess.run(["wine", probe, "controls", window_class], env=program.env, capture_output=True,
                         timeout=60).stdout.decode("utf-8", "replace")
    controls = {}
    for line in out.splitlines():
        parts = line.split("|")
        if len(parts) >= 8:
            controls[parts[3]] = (int(parts[1]), int(parts[2]), parts[6])
    return controls


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--build", required=True)
    ap.add_argument("--exe", required=True)
    ap.add_argument("--access-probe", required=True)
    args = ap.parse_args()

    program = Program(args.build, args.exe)
    path = config_path(args.build)
    saved = open(path, "rb").read() if os.path.exists(path) else None
    if saved is not None:
        os.remove(path)
    try:
        main_window = program.wait_window()
        g = program.wait_geometry(lambda g: g["width"] == 1180)
        pill = (g["x"] + g["width"] - 204, g["y"] + 32)  # the "下载设置" pill in the header

        def open_settings():
            program.click(*pill)
            window = program.wait_window("^下载设置$", timeout=20)
            program.window = main_window
            s = program.geometry(window)
            return window, s

        def button(s, client_x, client_y):
            # The window has no caption: its client area is the whole window.
            return s["x"] + client_x, s["y"] + client_y

        window, s = open_settings()
        check("opens centred on the main window", abs(s["x"] - (g["x"] + (1180 - 478) // 2)) <= 8, s)
        check("the settings window is 478 x 752 with no system caption", (s["width"], s["height"]) == (478, 752), s)
        program.drag(*button(s, 150, 25), *button(s, 190, 55))  # by its header strip
        moved = program.geometry(window)
        check("the header strip drags the window", (moved["x"] - s["x"], moved["y"] - s["y"]) == (40, 30), moved)
        s = moved
        program.click(*button(s, 195, 134))  # into the folder field, which takes the keyboard
        program.xdo("windowfocus", "--sync", window)
        time.sleep(0.3)  # Wine passes the X focus on to the field; only a blinking caret would show it
        program.xdo("key", "Escape")
        check("Escape closes the settings window", wait_gone(program, window))
        check("Escape writes no config.json", not os.path.exists(path))

        window, s = open_settings()
        controls = drawn_controls(program, args.access_probe)
        check("the drawn buttons are push buttons named by their text",
              all(controls.get(name, (0,))[0] == ROLE_PUSHBUTTON for name in ("浏览...", "保存", "取消")), controls)
        choice = controls.get("同时连接数", (0, 0, ""))
        check("the connections choice is a slider whose value is the number", choice[0] == ROLE_SLIDER
              and choice[2].isdigit(), choice)
        proxy = controls.get("代理", (0, 0, ""))
        check("the 代理 choice is a slider whose value is 系统", proxy[0] == ROLE_SLIDER and proxy[2] == "系统", proxy)
        switch = controls.get("静默安装", (0, 0, ""))
        check("the 静默安装 switch is a check button, checked", switch[0] == ROLE_CHECKBUTTON
              and switch[1] & STATE_CHECKED, switch)
        named = [controls.get(name, (0,))[0] for name in ("自动升级", "关闭时最小化到托盘", "开机启动")]
        check("the new switches are check buttons named by their labels", named == [ROLE_CHECKBUTTON] * 3, controls)
        program.click(*button(s, 312, 703))  # "取消"
        check("取消 closes the settings window", wait_gone(program, window))
        check("取消 writes no config.json", not os.path.exists(path))

        window, s = open_settings()
        program.click(*button(s, 406, 703))  # "保存"
        check("保存 closes the settings window", wait_gone(program, window))
        time.sleep(0.5)  # the toast is painted before this evidence shot, which nothing checks
        program.screenshot(os.path.join(os.path.abspath(args.build), "wine", "settings-saved.png"))
        text = open(path, "rb").read().decode("utf-8") if os.path.exists(path) else ""
        check("保存 writes config.json with the folder", '"downloadDir": "' in text and "Quillbox" in text, text)

        program.click(g["x"] + g["width"] - 23, g["y"] + 32)  # the close caption button
        code = program.wait_exit()
        check("the close button ends the program with code 0", code == 0, code)
    finally:
        program.kill()
        if saved is not None:
            with open(path, "wb") as f:
                f.write(saved)
        elif os.path.exists(path):
            os.remove(path)
    print("FAIL" if failures else "PASS")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
