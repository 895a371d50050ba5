#!/usr/bin/env python3
"""End-to-end scenarios: the real Quillbox.exe in its own Wine prefix against the local catalogue service,
driven with xdotool and checked on the screen, in the registry and in the service's logs.

  e2e_suite.py --case NAME --prefix BUILD/e2e --exe Quillbox.exe --text-stamp text_stamp.exe --catalogue DIR

The prefix and the catalogue are made by e2e_prefix.py. Each case prints one line per check; a failed
check saves a screenshot under BUILD/e2e/runs/<case>/ and prints its path."""
import argparse
import os
import re
import subprocess
import urllib.parse
import socket
import sys
import threading
import time

import hostile
import hostile_service
import nginx_site
import proxy_login
import resume_journal
import update_uninstall
from tls_front import TlsFront
from e2e_support import (CARD_FILL, DOWNLOADS, ERROR, INSTALLED_FILL, NEUTRAL, PRIMARY, SECONDARY, SUCCESS,
                         TERTIARY, TEXT, WHITE, CHANNEL, H, W, SEARCH_CLEAR, SEARCH_EDIT, SEARCH_FIELD, Run, card_button,
                         category_row, centre, format_size, length, row_base, set_prefix_dpi)
from qbscreen import (FONT_BODY, FONT_BUTTON, FONT_CARD_TITLE, FONT_CATEGORY, FONT_LABEL, FONT_ROW_STATUS,
                      FONT_SECTION_TITLE, FONT_TOAST, TextStamps, blend, near, rgb, stays, wait_for)

NSIS_KEY = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\QbTestNsis"
MD5_KEY = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\QbTestHkcu"
HEADING = (212, 78, W - 12, 118)


def package(run, name):
    return os.path.join(run.catalogue, "packages", name)


def read(path):
    with open(path, "rb") as f:
        return f.read()


def show_catalogue(run, count=5):
    ok = run.wait_text(HEADING, FONT_SECTION_TITLE, TEXT, "常用软件 · %d 款" % count, timeout=40)
    return run.check("the catalogue loads: the heading reads 常用软件 · %d 款" % count, ok)


def show_downloads(run, tasks):
    run.click(W - 318, 32)  # the "下载管理" pill
    ok = run.wait_text((224, 82, W - 200, 116), FONT_SECTION_TITLE, TEXT, "下载管理 · %d 个任务" % tasks, timeout=15)
    return run.check("the download page shows 下载管理 · %d 个任务" % tasks, ok)


def button_label(run, shot, rect, label, fg, bg):
    return run.text(shot, rect, FONT_BUTTON, fg, label, bg=bg)


def wait_button(run, index, label, fg, bg, timeout):
    rect = card_button(index)
    return wait_for(lambda: button_label(run, run.shot(), rect, label, fg, bg), timeout, interval=0.2)


def visible_windows(run):
    out = run.program.xdo("search", "--onlyvisible", "--name", ".")
    return set(out.split())


def watch_card_progress(run, index, stop_after):
    """Samples card index while it downloads: (fill pixels on a row near the top, percent read from the
    label or None). Stops when the button leaves the neutral look or after stop_after samples past 40 %."""
    rect = card_button(index)
    bx, by = rect[0], rect[1]
    samples = []
    deadline = time.time() + 60
    while time.time() < deadline:
        shot = run.shot()
        if not near(run.pixel(shot, bx + 95, by + 16), NEUTRAL, 4):
            if samples:
                break
            time.sleep(0.1)
            continue
        sx, sy = run.screen(bx, by + 6)
        fill = shot.count(sx, sy, sx + 100, sy + 1, lambda c: near(c, CARD_FILL, 10))
        label = None
        guess = fill + 3  # the fill is the button's shape cut at the percent: its top row starts 3 px in
        for n in sorted(range(max(0, fill - 3), min(100, fill + 14) + 1), key=lambda n: abs(n - guess)):
            split = (run.screen(bx + n, 0)[0], CARD_FILL, NEUTRAL)
            if button_label(run, shot, rect, "下载中 %d%%" % n, PRIMARY, split):
                label = n
                break
        samples.append((fill, label))
        if len([s for s in samples if s[0] > 40]) >= stop_after:
            break
    return samples


def case_install(run):
    """Catalogue and categories; an NSIS install from the card with progress on the card and on the download
    page, the uninstall registration and exactly one report; an archive opened in its folder; 清除已完成."""
    svc = run.start_service()
    run.write_config(svc.url)
    run.start_program()
    if not show_catalogue(run):
        return
    shot = run.last_shot
    run.check("an app with a package offers 安 装 (white on blue)",
              button_label(run, shot, card_button(0), "安 装", 0xFFFFFF, rgb(PRIMARY)))

    run.click(*centre(category_row(1)))
    ok = run.wait_text(HEADING, FONT_SECTION_TITLE, TEXT, "系统工具 · 2 款", timeout=10)
    run.check("a category click changes the grid: 系统工具 · 2 款", ok)
    run.check("an app without a package shows 敬请期待",
              button_label(run, run.last_shot, card_button(1), "敬请期待", 0xB2BAC6, NEUTRAL))
    run.click(*centre(category_row(0)))
    show_catalogue(run)

    # About ten seconds of transfer, so the fill can be watched growing.
    size = os.path.getsize(package(run, "qb-nsis-setup.exe"))
    svc.fault({"app": 1}, {}, {"bytesPerSecond": max(1, size // 10)})
    run.click(*centre(card_button(0)))
    samples = watch_card_progress(run, 0, stop_after=2)
    print("       card samples (fill pixels, label percent):", samples, flush=True)
    fills = [s[0] for s in samples]
    run.check("the card shows a progress fill that grows",
              len(samples) >= 3 and fills == sorted(fills) and fills[-1] - fills[0] >= 20, samples)
    labelled = [s for s in samples if s[1] is not None]
    run.check("the card reads 下载中 N% with N matching the fill",
              len(labelled) >= 2 and all(abs(n - (f + 3)) <= 9 for f, n in labelled), samples)

    # A busy card's button opens the download page.
    run.click(*centre(card_button(0)))
    b = row_base(0)
    ok = run.wait_text((298, b - 46, W - 260, b - 22), FONT_CARD_TITLE, TEXT, "Qb 星河笔记", timeout=10)
    run.check("the busy card's button opens the download page with the task's row", ok)
    total = " / %s · " % format_size(size)
    bars = []
    for _ in range(3):
        shot = run.shot()
        sx, sy = run.screen(301, b - 9)  # past the bar's rounded end
        bars.append(shot.run_length(sx, sx + W - 561, sy, lambda c: near(c, rgb(PRIMARY), 12)))
        status_box = (298, b - 2, W - 260, b + 18)
        sizes = run.text(shot, status_box, FONT_ROW_STATUS, TERTIARY, total, frame="none")
        speed = run.text(shot, status_box, FONT_ROW_STATUS, TERTIARY, "KB/s", frame="right")
        if sizes and speed:
            break
    print("       row progress (blue pixels):", bars, flush=True)
    run.check("the row's progress bar is partly blue", any(0 < x < W - 561 for x in bars), bars)
    run.check("the row's status shows received%s(total) and a speed in KB/s" % total, bool(sizes and speed),
              (sizes, speed))

    ok = run.wait_text((298, b - 2, W - 260, b + 18), FONT_ROW_STATUS, SUCCESS, "安装完成 · 未签名", timeout=90)
    run.check("the row ends in 安装完成 · 未签名 once the (unsigned) installer has registered", ok)
    shot = run.last_shot
    run.check("the finished row's bar is green", near(run.pixel(shot, 298 + 300, b - 9), rgb(SUCCESS), 12))
    run.check("the finished row offers 打开文件夹",
              bool(run.text(shot, (W - 136, b - 30, W - 36, b), FONT_BUTTON, SECONDARY, "打开文件夹", bg=WHITE)))

    run.click(*centre(category_row(0)))
    ok = wait_button(run, 0, "已安装", SUCCESS, INSTALLED_FILL, timeout=10)
    run.check("the card reads 已安装 in the green look", ok)
    name = run.registry_value(NSIS_KEY, "DisplayName")
    run.check("the registry holds the NSIS uninstall entry", name is not None, name)
    reports = svc.reports()
    run.check("the service logged exactly one install report, for app 1 and channel %r" % CHANNEL,
              len(reports) == 1 and reports[0]["appId"] == 1 and reports[0]["event"] == "install"
              and reports[0]["channel"] == CHANNEL, reports)

    # An archive: saved, never installed, its folder opened from the card.
    run.click(*centre(card_button(1)))
    ok = wait_button(run, 1, "打开文件夹", 0xFFFFFF, rgb(PRIMARY), timeout=30)
    run.check("the archive's card ends with 打开文件夹", ok)
    saved = os.path.join(run.host_path(DOWNLOADS), "方块压缩包_便携版.zip")
    run.check("the archive is saved byte for byte in the download folder",
              os.path.exists(saved) and read(saved) == read(package(run, "方块压缩包_便携版.zip")), saved)
    run.check("no install report for the archive", stays(lambda: len(svc.reports()) == 1, 1), svc.reports())
    before = visible_windows(run)
    run.click(*centre(card_button(1)))
    new = wait_for(lambda: visible_windows(run) - before, 20)
    names = [run.program.xdo("getwindowname", w).strip() for w in new]
    run.check("打开文件夹 opens a file-manager window on the download folder",
              any(n.lower() == "downloads" for n in names), names)
    for w in new:
        if run.program.xdo("getwindowname", w).strip().lower() == "downloads":
            g = run.program.geometry(w)
            run.program.click(g["x"] + g["width"] // 2, g["y"] + g["height"] // 2)
            run.program.xdo("key", "alt+F4")
    run.check("the file-manager window closes again", wait_for(lambda: not (visible_windows(run) & new), 10))
    run.check("no installer ran for the archive (one report, no new registration)", len(svc.reports()) == 1)

    if show_downloads(run, 2):
        b1 = row_base(1)
        run.check("the archive's row reads 下载成功 · 压缩包已保存",
                  bool(run.text(run.last_shot, (298, b1 - 2, W - 260, b1 + 18), FONT_ROW_STATUS, SUCCESS,
                                "下载成功 · 压缩包已保存")))
        run.click(W - 72, 99)  # "清除已完成"
        ok = run.wait_text((224, 82, W - 200, 116), FONT_SECTION_TITLE, TEXT, "下载管理 · 0 个任务", timeout=10)
        run.check("清除已完成 removes the finished rows", ok)
        run.check("the page then shows its empty message",
                  bool(run.text(run.last_shot, (200, 214, W, 284), 4, TERTIARY, "暂无下载任务，去首页挑几款软件吧")))
    run.delete_registry_key(NSIS_KEY)


def pinned_publisher(run, toast, banner):
    """Pinned to Qb Test Publisher: signed by another name or by a self-signed copy of the name, a package is refused
    as a wrong digest is and never started; signed by that name from the test CA, trusted in the prefix, it installs."""
    ca = TlsFront("", run.work, os.path.join(run.prefix_build, "tls"))
    ca.trust(run.env)  # before the program's first chain: a Wine process reads the root store once
    try:
        run.click(*centre(category_row(4)))
        for index in (0, 1):
            wait_for(lambda: not near(run.pixel(run.shot(), W // 2, 84), rgb(ERROR), 40), 10)  # the last toast went
            run.click(*centre(card_button(index)))
            run.check("pinned package %d is refused with the red toast and 重新下载, and never started" % index,
                      run.wait_text(toast, FONT_TOAST, 0xFFFFFF, "安装包发布者与目录不符，已禁止安装", 30, bg=banner)
                      and wait_button(run, index, "重新下载", 0xFFFFFF, rgb(PRIMARY), 10)
                      and stays(lambda: run.registry_value(NSIS_KEY, "DisplayName") is None, 2))
        run.click(*centre(card_button(2)))
        run.check("signed by the pinned name from the trusted test CA, the package installs",
                  wait_button(run, 2, "已安装", SUCCESS, INSTALLED_FILL, 90) and run.registry_value(NSIS_KEY, "DisplayName"))
    finally:
        ca.distrust()
        run.delete_registry_key(NSIS_KEY)
    run.click(*centre(category_row(0)))


def case_verify(run):
    """A wrong catalogue MD5 or publisher refuses the install; dropped and reset connections still give a
    byte-identical file; the settings window moves the download folder and the next download lands there."""
    svc = run.start_service()
    run.write_config(svc.url)
    run.start_program()
    if not show_catalogue(run):
        return
    toast = ((W - 360) // 2, 80, (W + 360) // 2, 122)
    banner = blend(0xE8000000 | ERROR, (0xF5, 0xF6, 0xF8))  # the warning's red, over the page

    run.click(*centre(card_button(3)))
    ok = run.wait_text(toast, FONT_TOAST, 0xFFFFFF, "下载完成，但 MD5 校验不一致，请谨慎安装", timeout=30, bg=banner)
    run.check("a wrong catalogue MD5 ends with the warning toast", ok)
    ok = wait_button(run, 3, "重新下载", 0xFFFFFF, rgb(PRIMARY), timeout=10)
    run.check("the card offers only a new download (重新下载)", ok)
    # The first warning's red banner goes, so that the one after 重新下载 is a new one.
    wait_for(lambda: not near(run.pixel(run.shot(), W // 2, 84), rgb(ERROR), 40), 10)
    run.click(*centre(card_button(3)))
    ok = run.wait_text(toast, FONT_TOAST, 0xFFFFFF, "下载完成，但 MD5 校验不一致，请谨慎安装", timeout=30, bg=banner)
    run.check("重新下载 downloads the package again, and it is refused again", ok)
    run.check("no installer ran: no install report", stays(lambda: svc.reports() == [], 2), svc.reports())
    run.check("no installer ran: no uninstall registration", run.registry_value(MD5_KEY, "DisplayName") is None)
    pinned_publisher(run, toast, banner)

    # Drops (FIN) and resets (RST) in the middle of the transfer.
    big = package(run, "big-portable.zip")
    size = os.path.getsize(big)
    svc.control("/test/log/reset", {})
    svc.fault({"app": 3}, {}, {"dropAfter": size // 5}, {"resetAfter": size // 4}, {"dropAfter": 100000},
              {"resetAfter": 1})
    run.click(*centre(card_button(2)))
    ok = wait_button(run, 2, "打开文件夹", 0xFFFFFF, rgb(PRIMARY), timeout=90)
    run.check("the large archive finishes despite four cut connections", ok)
    saved = os.path.join(run.host_path(DOWNLOADS), "big-portable.zip")
    run.check("the file is byte-identical to the service's", os.path.exists(saved) and read(saved) == read(big))
    files = [r for r in svc.requests() if r["path"].startswith("/files/3/")]
    cut = [r for r in files if r.get("dropped")]
    resumed = [r["range"] for r in files[2:]]
    print("       package requests:", [(r["range"], r["status"], r["bytes"], r["dropped"]) for r in files], flush=True)
    run.check("the service cut four transfers and the program resumed each with a Range from where it was",
              len(cut) == 4 and all(rg and rg.startswith("bytes=") and not rg.startswith("bytes=0-") for rg in resumed),
              resumed)

    # The settings window: a new folder, saved; the next download lands there.
    second = r"C:\qbe2e\second"
    os.makedirs(run.host_path(second), exist_ok=True)
    run.click(W - 204, 32)
    settings = run.program.wait_window("^下载设置$", timeout=20)
    s = run.program.geometry(settings)
    run.program.window = run.window
    run.program.click(s["x"] + 408, s["y"] + 134)  # "浏览..."
    picker = run.program.wait_window("^Browse for Folder$", timeout=20)
    run.program.window = run.window
    p = run.program.geometry(picker)
    # Keyboard through the folder tree, as a user would: My Computer, (C:), qbe2e, second.
    run.program.click(p["x"] + 90, p["y"] + 130)
    for keys in (("type", "My"), ("key", "Right"), ("key", "Down"), ("key", "Right"), ("type", "qbe2e"),
                 ("key", "Right"), ("key", "Right"), ("type", "second")):
        run.program.xdo(keys[0], "--delay", "120", keys[1]) if keys[0] == "type" else run.program.xdo(*keys)
        time.sleep(0.6)  # the tree opens a node per key; nothing else marks the step
    run.program.xdo("key", "Return")
    gone = wait_for(lambda: picker not in run.program.xdo("search", "--onlyvisible", "--name", ".").split(), 10)
    run.check("the folder picker closes with the chosen folder", gone)
    time.sleep(0.5)  # the settings window takes clicks again once the picker's modal loop has unwound
    run.program.click(s["x"] + 406, s["y"] + 703)  # "保存"
    ok = run.wait_text(toast, FONT_TOAST, 0xFFFFFF, "下载目录已保存", timeout=10)
    run.check("保存 confirms with 下载目录已保存", ok)
    text = read(run.config_path()).decode("utf-8")
    run.check("config.json now names the new folder", "second" in text, text)
    run.click(*centre(card_button(4)))
    ok = wait_button(run, 4, "打开文件夹", 0xFFFFFF, rgb(PRIMARY), timeout=30)
    landed = os.path.join(run.host_path(second), "second-folder.zip")
    run.check("the next download lands in the new folder", ok and os.path.exists(landed), landed)
    run.check("and not in the old one", not os.path.exists(os.path.join(run.host_path(DOWNLOADS), "second-folder.zip")))
    if show_downloads(run, 6):
        run.check("the download page shows the new folder",
                  bool(run.text(run.last_shot, (300, 122, W - 250, 146), 5, TERTIARY, second, bg=rgb(0xF5F6F8))))
        b = row_base(1)  # rows go by app id: 3, 4, 5, 11, 12, 13
        run.check("the MD5 row's title is red with (MD5 校验不一致)",
                  bool(run.text(run.last_shot, (298, b - 46, W - 260, b - 22), FONT_CARD_TITLE, ERROR,
                                "校验不符  (MD5 校验不一致)", bg=WHITE)))


def case_service_down(run):
    """The service away at start: 无法连接服务器 with 重新加载; still away: the screen stays; back on the
    same port: 重新加载 brings the catalogue."""
    svc = run.start_service()
    run.write_config(svc.url)
    svc.stop()
    run.start_program()
    failed = (200, 184, W, 214)
    ok = run.wait_text(failed, FONT_CARD_TITLE, TEXT, "无法连接服务器", timeout=40)
    run.check("with the service gone the program shows 无法连接服务器", ok)
    reload = ((W + 200) // 2 - 60, 294, (W + 200) // 2 + 60, 326)
    run.check("and the 重新加载 button",
              bool(run.text(run.last_shot, reload, FONT_BUTTON, 0xFFFFFF, "重新加载", bg=rgb(PRIMARY))))
    # Something on the port that hangs up at once: 重新加载 must try again, and fail again.
    listener = socket.socket()
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", svc.port))
    listener.listen(8)
    listener.settimeout(0.2)
    calls = []

    def hang_up():
        while not calls or calls[-1] is not None:
            try:
                conn, _ = listener.accept()
            except socket.timeout:
                continue
            except OSError:
                break
            calls.append(conn)
            conn.close()

    thread = threading.Thread(target=hang_up, daemon=True)
    thread.start()
    run.click(*centre(reload))
    tried = wait_for(lambda: len(calls) > 0, 20)
    run.check("重新加载 tries the service again", tried, len(calls))
    run.check("and, the service still away, shows 无法连接服务器 again",
              run.wait_text(failed, FONT_CARD_TITLE, TEXT, "无法连接服务器", timeout=20) and run.alive())
    calls.append(None)
    thread.join(5)
    listener.close()
    svc.start()
    run.click(*centre(reload))
    show_catalogue(run)


PLACEHOLDER = 0xC6DDFB


def header_gradient(x):
    t = (x + 0.5) / W
    return tuple(round(a + (b - a) * t) for a, b in zip(rgb(0x0EA5E9), rgb(0x2563EB)))


# What the field's translucent fill gives in the middle of the edit: the edit's own background.
FIELD_FILL = blend(0x2EFFFFFF, header_gradient((SEARCH_EDIT[0] + SEARCH_EDIT[2]) // 2))


def card_name(index):
    """Where card index's name line lies on an unscrolled grid."""
    x, y, right, _ = card_button(index)
    return x - 60, y - 84, right + 60, y - 60


def focus_ring_at(run, x, y):
    """The keyboard's 2-pixel ring in the brand colour passes through client pixel (x, y)."""
    return wait_for(lambda: near(run.pixel(run.shot(), x, y), rgb(PRIMARY), 40), 5)


def keyboard_alone(run, svc, keys, type_text, heading):
    """Ctrl+F, a pinyin query, Down into the results and Enter start a download; Esc clears the search;
    Tab reaches the sidebar (after the header's field and buttons), Down moves to the next category and
    Enter shows it. No pointer."""
    keys("ctrl+f")
    type_text("xitong")
    heading("搜索“xitong” · 1 款")
    keys("Down")
    run.check("Down from the field rings the first result in the brand colour", focus_ring_at(run, 224, 240))
    keys("Return")
    run.check("Enter presses its button: the package of 系统清理 is fetched",
              wait_for(lambda: [r for r in svc.requests() if r["path"].startswith("/files/6/")], 15))
    keys("Escape")
    run.check("Esc in the results clears the search", heading("系统工具 · 2 款"))
    keys("Tab", "Tab", "Tab")
    run.check("Tab past the search field and the header's buttons rings the selected category",
              focus_ring_at(run, 10, 155))
    keys("Down")
    run.check("Down moves the ring to the next category", focus_ring_at(run, 10, 209))
    keys("Return")
    run.check("Enter shows that category", heading("升级测试 · 2 款"))


def case_search(run):
    """The header's search field, typed into with the keyboard: full pinyin, pinyin initials and plain text
    find apps of every category; Esc, the clear button and a category click empty it; Ctrl+F on the download
    page; a query without a match shows 没有找到相关软件."""
    svc = run.start_service()
    run.write_config(svc.url)
    run.start_program()
    if not show_catalogue(run):
        return
    typing = SEARCH_EDIT[:1] + (14,) + SEARCH_EDIT[2:3] + (50,)

    def heading(text):
        return run.wait_text(HEADING, FONT_SECTION_TITLE, TEXT, text, timeout=10)

    def keys(*names):
        for name in names:
            run.program.xdo("key", name)
            time.sleep(0.3)  # paces the keys as a hand does

    def type_text(text):
        run.program.xdo("type", "--delay", "150", text)

    def placeholder():
        return run.text(run.shot(), typing, FONT_LABEL, PLACEHOLDER, "搜索软件", bg=FIELD_FILL)

    run.check("the idle field shows the placeholder 搜索软件", placeholder())
    run.click(SEARCH_FIELD[0] + 20, 32)  # on the magnifier
    wait_for(lambda: not placeholder(), 5)  # the focused field drops its placeholder
    type_text("xitong")
    run.check("full pinyin: xitong finds 系统清理 of the other category", heading("搜索“xitong” · 1 款")
              and run.text(run.last_shot, card_name(0), FONT_CARD_TITLE, TEXT, "系统清理", bg=WHITE))
    shot = run.last_shot
    # (The caret blinks right after the text: only the text's own pixels are compared.)
    run.check("the edit shows the typed text in white",
              run.text(shot, typing, FONT_LABEL, 0xFFFFFF, "xitong", bg=FIELD_FILL, frame="none"))
    inside, outside = run.pixel(shot, SEARCH_EDIT[2] - 3, 24), run.pixel(shot, SEARCH_EDIT[2] + 3, 24)
    run.check("no box shows round the edit: its background matches the field's fill", near(inside, outside, 6),
              (inside, outside))
    run.check("the sidebar keeps 常用软件 selected", near(run.pixel(shot, 180, 82), rgb(0xEFF6FF), 3))

    keys("Escape")
    run.check("Esc empties the field and shows the category again", heading("常用软件 · 5 款"))
    run.check("and the placeholder is back", wait_for(placeholder, 5))

    keys("ctrl+f")
    type_text("ysb")
    run.check("pinyin initials: Ctrl+F, then ysb finds the two 压缩包 apps", heading("搜索“ysb” · 2 款")
              and run.text(run.last_shot, card_name(0), FONT_CARD_TITLE, TEXT, "方块压缩包", bg=WHITE)
              and run.text(run.last_shot, card_name(1), FONT_CARD_TITLE, TEXT, "大号压缩包", bg=WHITE))

    run.click(*centre(SEARCH_CLEAR))
    run.check("the clear button empties the field", heading("常用软件 · 5 款"))
    type_text("Qb")
    run.check("plain text: Qb finds Qb 星河笔记, typed right after the clear button", heading("搜索“Qb” · 1 款")
              and run.text(run.last_shot, card_name(0), FONT_CARD_TITLE, TEXT, "Qb 星河笔记", bg=WHITE))
    type_text("zz")
    run.check("a query without a match: 搜索“Qbzz” · 0 款", heading("搜索“Qbzz” · 0 款"))
    run.check("and 没有找到相关软件 where the grid would be",
              run.text(run.last_shot, (200, 184, W, 214), FONT_BODY, TERTIARY, "没有找到相关软件"))

    run.click(*centre(category_row(1)))
    run.check("a category click empties the field and shows that category", heading("系统工具 · 2 款")
              and wait_for(placeholder, 5))
    keyboard_alone(run, svc, keys, type_text, heading)

    if show_downloads(run, 1):
        keys("ctrl+f")
        type_text("xhbj")
        run.check("typing on the download page shows the catalogue page with the results",
                  heading("搜索“xhbj” · 1 款")
                  and run.text(run.last_shot, card_name(0), FONT_CARD_TITLE, TEXT, "Qb 星河笔记", bg=WHITE))


def case_scaled(run):
    """The window at the prefix's DPI (run with --dpi 144 or 192): its size, the header, a card and the
    sidebar's text scaled by dpi / 96 on the screen, and a click on a card's button at its scaled place
    starting that app's download."""
    scale = run.dpi / 96.0
    svc = run.start_service()
    run.write_config(svc.url)
    run.start_program()  # checks the window's size: 1180 x 780 scaled
    # The heading's start only: matching a text costs four times as much at 200 %.
    if not run.check("the catalogue loads: the heading reads 常用软件 · 5 款",
                     run.wait_text((212, 78, 600, 118), FONT_SECTION_TITLE, TEXT, "常用软件 · 5 款", timeout=90)):
        return
    shot = run.last_shot

    def blue(c):
        return c[2] > c[0] + 60
    x, top = run.screen(688, 0)  # between the search field and the pills: the gradient alone
    header = sum(1 for y in range(top, top + length(100, run.dpi)) if blue(shot.pixel(x, y)))
    run.check("the header is %g x 64 pixels high" % scale, abs(header - length(64, run.dpi)) <= 1, header)

    left, y = run.screen(212, 126 + 8)  # across card 0, above its icon
    start = left + next(i for i in range(length(40, run.dpi)) if near(shot.pixel(left + i, y), WHITE, 4))
    card = shot.run_length(start, start + length(400, run.dpi), y, lambda c: near(c, WHITE, 4))
    run.check("a card is %g x 221 pixels wide" % scale, abs(card - length(221, run.dpi)) <= 3, card)

    reference = TextStamps(run.stamp_exe, run.env, 96)
    try:
        plain = reference.get(FONT_CATEGORY, TEXT, rgb(0xEFF6FF), "常用软件")[0]
    finally:
        reference.close()
    found = run.text(shot, category_row(0), FONT_CATEGORY, TEXT, "常用软件", bg=rgb(0xEFF6FF))
    scaled = run.stamps.get(FONT_CATEGORY, TEXT, rgb(0xEFF6FF), "常用软件")[0]
    print("       measured: header %d px, card %d px, 常用软件 %d px (%d px at 96 DPI)" % (header, card, scaled, plain),
          flush=True)
    run.check("the sidebar's 常用软件 shows %g x as wide as at 96 DPI" % scale,
              bool(found) and plain > 0 and abs(scaled / plain - scale) <= 0.12, (found, scaled, plain))

    # Slow enough that the download is still running when the case ends: nothing gets installed.
    svc.fault({"app": 1}, {}, {"bytesPerSecond": max(1, os.path.getsize(package(run, "qb-nsis-setup.exe")) // 60)})
    run.click(*centre(card_button(0)))
    started = wait_for(lambda: [r for r in svc.requests() if r["path"].startswith("/files/1/")], 20)
    run.check("a click at the scaled place of card 0's button starts its download", bool(started))
    run.check("its card leaves 安 装", wait_for(
        lambda: not button_label(run, run.shot(), card_button(0), "安 装", 0xFFFFFF, rgb(PRIMARY)), 10))


# MSAA roles and states the accessibility client reads (oleacc.h).
ROLE_LISTITEM, ROLE_PUSHBUTTON, ROLE_PROGRESSBAR = 0x22, 0x2B, 0x30
STATE_BUSY = 0x800


def probe(run, *args):
    """Runs the accessibility client tests/programs/access_probe.cpp in the prefix; its output lines."""
    args = [urllib.parse.quote(a) if i else a for i, a in enumerate(args)]
    out = subprocess.run(["wine", run.access_probe, *args], env=run.env, capture_output=True, timeout=90)
    return out.stdout.decode("utf-8", "replace").splitlines()


def access_tree(run):
    """The objects the client listed, each with its children."""
    nodes, stack = [], []
    for line in probe(run, "list"):
        parts = line.split("|")
        if len(parts) < 8:
            continue
        node = dict(depth=int(parts[0]), role=int(parts[1]), state=int(parts[2]), name=parts[3],
                    description=parts[4], action=parts[5], value=parts[6], children=[])
        del stack[node["depth"]:]
        if stack:
            stack[-1]["children"].append(node)
        stack.append(node)
        nodes.append(node)
    return nodes


def case_access(run):
    """A screen reader's view from another process: every shown card is a list item named by its app with
    a push button whose default action is its text; that action starts the download; the download row's
    progress bar is busy and gives its value."""
    svc = run.start_service()
    run.write_config(svc.url)
    run.start_program()
    if not show_catalogue(run):
        return
    nodes = access_tree(run)
    for name in ("Qb 星河笔记", "方块压缩包", "大号压缩包", "校验不符", "换目录测试"):
        items = [n for n in nodes if n["role"] == ROLE_LISTITEM and n["name"] == name]
        buttons = [c for i in items for c in i["children"]
                   if c["role"] == ROLE_PUSHBUTTON and c["name"] and c["action"] == c["name"] and c["description"] == name]
        run.check("the card of %s is a list item with a push button whose default action is its text" % name,
                  len(items) == 1 and len(buttons) == 1, [n for n in nodes if n["name"] == name])
    size = os.path.getsize(package(run, "big-portable.zip"))
    svc.fault({"app": 3}, {}, {"bytesPerSecond": max(1, size // 20)})
    said = probe(run, "press", "安 装", "大号压缩包")
    run.check("accDoDefaultAction on 安 装 of 大号压缩包 is accepted", said[-1:] == ["pressed"], said)
    run.check("and starts that download",
              wait_for(lambda: [r for r in svc.requests() if r["path"].startswith("/files/3/")], 15))
    probe(run, "press", "下载管理")

    def busy_bar():
        for row in access_tree(run):
            if row["role"] == ROLE_LISTITEM and row["name"] == "大号压缩包":
                return [c for c in row["children"] if c["role"] == ROLE_PROGRESSBAR and c["state"] & STATE_BUSY
                        and re.fullmatch(r"\d+%", c["value"])]
        return []
    bars = wait_for(busy_bar, 20)
    run.check("the download row's progress bar is reported busy with its value", bars, bars)


CASES = {"install": case_install, "access": case_access, "verify": case_verify, "service_down": case_service_down,
         "hostile": hostile.case_hostile, "hostile_service": hostile_service.case_hostile_service,
         "search": case_search, "nginx_site": nginx_site.case_nginx_site,
         "resume": resume_journal.case_resume,
         "update_uninstall": update_uninstall.case_update_uninstall, "scaled": case_scaled,
         "proxy": proxy_login.case_proxy}


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--case", required=True, choices=sorted(CASES))
    ap.add_argument("--prefix", required=True, help="the e2e build folder holding the Wine prefix")
    ap.add_argument("--exe", required=True)
    ap.add_argument("--text-stamp", required=True)
    ap.add_argument("--catalogue", required=True)
    ap.add_argument("--site-server", choices=("nginx", "python"), default="nginx",
                    help="nginx_site: serve the published site with nginx, or with http.server (no ranges: must fail)")
    ap.add_argument("--dpi", type=int, default=96, help="the prefix's LogPixels for this case (144, 192)")
    ap.add_argument("--access-probe", help="tests/programs/access_probe.exe, for the access case")
    args = ap.parse_args()
    if args.dpi != 96:
        set_prefix_dpi(args.prefix, args.dpi)
    run = Run(args, args.case if args.dpi == 96 else "%s_%d" % (args.case, args.dpi), args.dpi)
    run.site_server = args.site_server
    run.access_probe = args.access_probe
    try:
        CASES[args.case](run)
    except Exception as e:  # a broken step is a failed check with its screenshot, not a bare traceback
        import traceback
        traceback.print_exc()
        run.check("the scenario ran to its end", False, repr(e))
    finally:
        code = run.finish()
        if args.dpi != 96:
            set_prefix_dpi(args.prefix, 96)  # the next case finds the prefix as it was
    return code


if __name__ == "__main__":
    sys.exit(main())
