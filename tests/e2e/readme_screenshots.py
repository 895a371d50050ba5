#!/usr/bin/env python3
"""Takes the README's screenshots from the running program with the sample catalogue and its real
packages: the card grid with a download in progress, the download page with tasks in several
states (downloading slowly, installed, failed, archive saved), the grid again with the success
toast and the completion notice of a finished download, the updates page with four apps installed at
older versions, one of them updating, the summary of 全部升级 for the other three, a search typed in
pinyin, and the settings window.

  readme_screenshots.py --prefix BUILD/shots --exe Quillbox.exe --text-stamp text_stamp.exe
                        --catalogue service/sample --packages BUILD/sample-packages --out docs [--dpi 144]

With --dpi the prefix runs at that DPI (144 is 150 %) and the pictures are named screenshot-<page>-150.png.

scripts/screenshots builds what it needs and runs it."""
import argparse
import os
import subprocess
import sys
import time

from e2e_support import (PRIMARY, SEARCH_FIELD, TEXT, WHITE, W, H, Run, Service, card_button, category_row, centre,
                         pixel, row_base, set_prefix_dpi)
from qbdrive import Program
from qbscreen import FONT_BUTTON, FONT_CARD_TITLE, FONT_ROW_STATUS, FONT_SECTION_TITLE, FONT_TOAST, near, rgb, wait_for

HEADING = (212, 78, W - 12, 118)
# Four apps the sample installers would register, at versions older than the catalogue's.
OLDER_APPS = {"QuillboxSample05": ("铁壁杀毒", "2023.4"), "QuillboxSample08": ("映月播放器", "3.9.0"),
              "QuillboxSample09": ("墨鱼办公", "11.2"), "QuillboxSample26": ("画境设计", "5.0")}
SUCCESS = 0x00B42A
UPDATE = 0xFF7D00


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--prefix", required=True)
    ap.add_argument("--exe", required=True)
    ap.add_argument("--text-stamp", required=True)
    ap.add_argument("--catalogue", required=True)
    ap.add_argument("--packages", required=True)
    ap.add_argument("--out", required=True)
    ap.add_argument("--dpi", type=int, default=96)
    args = ap.parse_args()
    if args.dpi != 96:
        set_prefix_dpi(args.prefix, args.dpi)
    run = Run(args, "screenshots", args.dpi)
    try:
        take(run, args)
    except Exception as e:
        import traceback
        traceback.print_exc()
        run.check("the screenshots were taken", False, repr(e))
    return run.finish()


def save_window(run, path):
    """The window's pixels as path; at another DPI than 96 the name ends in -<percent> (…-150.png)."""
    if run.dpi != 96:
        path = "%s-%d.png" % (path[:-len(".png")], run.dpi * 100 // 96)
    x, y = run.origin
    width, height = run.window_size()
    shot = run.shot()
    with open(path + ".ppm", "wb") as f:
        f.write(b"P6\n%d %d\n255\n" % (shot.width, shot.height) + shot.data)
    subprocess.run(["convert", path + ".ppm", "-crop", "%dx%d+%d+%d" % (width, height, x, y), "+repage", "-strip",
                    path], check=True)
    os.remove(path + ".ppm")
    print("saved", path, flush=True)


def dismiss_message_box(run):
    """The "下载失败" message box of a failed download: Return on it, as a user would."""
    box = run.program.wait_window("^下载失败$", timeout=30)
    run.program.window = run.window
    g = run.program.geometry(box)
    run.program.click(g["x"] + g["width"] // 2, g["y"] + 10)
    run.program.xdo("key", "Return")
    wait_for(lambda: box not in run.program.xdo("search", "--onlyvisible", "--name", ".").split(), 10)


def take(run, args):
    svc = Service(os.path.abspath(args.catalogue), run.work, packages=os.path.abspath(args.packages))
    run.service = svc
    folder = r"C:\Downloads\Quillbox"
    os.makedirs(run.host_path(folder), exist_ok=True)
    run.write_config(svc.url, folder)
    run.register_installed(OLDER_APPS)
    run.start_program()
    run.check("the sample catalogue loads",
              run.wait_text(HEADING, FONT_SECTION_TITLE, TEXT, "常用软件 · 11 款", timeout=60))

    # 星河笔记 (card 1): the real NSIS installer, to 已安装.
    run.click(*centre(card_button(1)))
    run.check("星河笔记 installs", wait_for(lambda: run.text(run.shot(), card_button(1), FONT_BUTTON, SUCCESS, "已安装",
                                                             bg=None), 90))
    # 青鸟聊天 (card 2): the service answers its package with an HTML error page; the program gives up.
    svc.fault({"app": 3}, {"html": True, "status": 502, "repeat": -1})
    run.click(*centre(card_button(2)))
    dismiss_message_box(run)
    # 方块五笔 (输入法, card 1): a zip archive, saved.
    run.click(*centre(category_row(6)))
    run.wait_text(HEADING, FONT_SECTION_TITLE, TEXT, "输入法 · 2 款", timeout=10)
    run.click(*centre(card_button(1)))
    run.check("方块五笔 is saved as an archive",
              wait_for(lambda: run.text(run.shot(), card_button(1), FONT_BUTTON, 0xFFFFFF, "打开文件夹",
                                        bg=rgb(PRIMARY)), 30))
    run.click(*centre(category_row(0)))
    run.wait_text(HEADING, FONT_SECTION_TITLE, TEXT, "常用软件 · 11 款", timeout=10)
    time.sleep(3)  # the toasts of the earlier steps fade

    # 霁光浏览器 (card 0): slowly, so both pictures catch it on the way.
    size = os.path.getsize(os.path.join(args.packages, "packages", "1", "setup.exe"))
    svc.fault({"app": 1}, {}, {"bytesPerSecond": max(1, size // 40)})
    run.click(*centre(card_button(0)))
    time.sleep(6)
    run.program.xdo("mousemove", *[str(v) for v in run.screen(*centre(card_button(3)))])  # a hovered button
    time.sleep(1)
    save_window(run, os.path.join(args.out, "screenshot-catalogue.png"))

    run.click(W - 318, 32)
    run.wait_text((224, 82, W - 200, 116), FONT_SECTION_TITLE, TEXT, "下载管理 · 4 个任务", timeout=10)
    run.program.xdo("mousemove", *[str(v) for v in run.screen(W - 250, H - 100)])
    time.sleep(3)
    b = row_base(0)
    run.check("霁光浏览器 is still downloading",
              bool(run.text(run.shot(), (W - 198, b - 30, W - 122, b), FONT_BUTTON, 0x4E5969, "暂停", bg=(255, 255, 255))))
    save_window(run, os.path.join(args.out, "screenshot-downloads.png"))

    # Back on the grid, 磐石安全卫士 (card 3) downloads at full speed: the success toast and the
    # completion notice show together for a moment.
    run.click(*centre(category_row(0)))
    run.wait_text(HEADING, FONT_SECTION_TITLE, TEXT, "常用软件 · 11 款", timeout=10)
    run.click(*centre(card_button(3)))
    run.program.xdo("mousemove", *[str(v) for v in run.screen(W - 250, 100)])
    toast = ((W - 360) // 2, 80, (W + 360) // 2, 122)
    run.check("the completion toast shows",
              run.wait_text(toast, FONT_TOAST, 0xFFFFFF, "「磐石安全卫士」下载完成，正在打开安装向导", timeout=30))
    save_window(run, os.path.join(args.out, "screenshot-notice.png"))

    # The updates page: 映月播放器 (row 1) updates slowly, the others offer 升 级.
    time.sleep(5)  # the notice fades
    run.click(W - 432, 32)
    run.check("the updates page lists the four older apps",
              run.wait_text((224, 82, W - 200, 116), FONT_SECTION_TITLE, TEXT, "软件升级 · 4 款", timeout=10))
    size = os.path.getsize(os.path.join(args.packages, "packages", "yingyue_player.exe"))
    svc.fault({"app": 8}, {}, {"bytesPerSecond": max(1, size // 40)})
    b = row_base(1)
    run.click(W - 86, b - 15)
    run.program.xdo("mousemove", *[str(v) for v in run.screen(W - 250, H - 40)])
    time.sleep(6)
    shot = run.shot()
    run.check("映月播放器's row shows its download instead of 升 级",
              bool(run.text(shot, (298, b - 44, W - 152, b - 20), FONT_CARD_TITLE, TEXT, "映月播放器", bg=WHITE))
              and not near(run.pixel(shot, W - 130, b - 15), rgb(UPDATE), 20), run.pixel(shot, W - 130, b - 15))
    save_window(run, os.path.join(args.out, "screenshot-updates.png"))
    # 全部升级 installs the other three without a window, one after another, and ends in one summary.
    run.click(W - 72, 99)
    run.check("the batch ends in its summary",
              run.wait_text((W - 286, H - 91, W - 34, H - 67), FONT_CARD_TITLE, TEXT, "已升级 3 款", timeout=90))
    run.program.xdo("mousemove", *[str(v) for v in run.screen(W - 250, H - 200)])
    save_window(run, os.path.join(args.out, "screenshot-batch.png"))
    # A search from the header's field, typed in pinyin: apps of several categories.
    time.sleep(5)  # the toast and the notice fade
    run.click(SEARCH_FIELD[0] + 20, 32)
    run.program.xdo("type", "--delay", "150", "yin")
    run.check("the search shows its results",
              run.wait_text(HEADING, FONT_SECTION_TITLE, TEXT, "搜索“yin” · 4 款", timeout=10))
    run.program.xdo("mousemove", *[str(v) for v in run.screen(W - 250, H - 100)])
    time.sleep(1)
    save_window(run, os.path.join(args.out, "screenshot-search.png"))
    # The settings window over the main window, the pointer on "保存".
    run.program.xdo("key", "Escape")
    run.click(W - 204, 32)
    settings = run.program.wait_window("^下载设置$", timeout=20)
    run.program.window = run.window
    s = run.program.geometry(settings)
    run.program.xdo("mousemove", str(s["x"] + pixel(406, run.dpi)), str(s["y"] + pixel(703, run.dpi)))
    time.sleep(1)
    save_window(run, os.path.join(args.out, "screenshot-settings.png"))
    # "取消": the main window is usable again.
    run.program.click(s["x"] + pixel(312, run.dpi), s["y"] + pixel(703, run.dpi))
    time.sleep(1)
    run.close_program()
    take_tray_notice(run, args)


def take_tray_notice(run, args):
    """A start in the background on a Wine desktop with a taskbar: the tray's notice of the four
    updatable apps, cut from the screen's lower right corner. The shell's own fonts stand in for the
    Chinese system font, as the program's does."""
    for face in ("Tahoma", "MS Shell Dlg", "MS Shell Dlg 2"):
        subprocess.run(["wine", "reg", "add", r"HKCU\Software\Wine\Fonts\Replacements", "/v", face, "/t", "REG_SZ",
                        "/d", "WenQuanYi Micro Hei", "/f"], env=run.env, capture_output=True)
    # The four apps at their older versions again: the batch above brought three of them up to date,
    # some registered for the machine.
    for key in OLDER_APPS:
        for root in (r"HKLM\Software", r"HKLM\Software\WOW6432Node"):
            run.delete_registry_key(root + "\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + key)
    run.register_installed(OLDER_APPS)
    announced = run.user_folder("AppData", "Local", "Tidewell", "cache", "announced-updates.json")
    if os.path.exists(announced):
        os.remove(announced)  # a notice of an earlier run in this prefix named them already
    screen = run.shot()
    width, height = pixel(460, run.dpi), pixel(140, run.dpi)
    corner = (screen.width - width, screen.height - height)
    notice = Program(run.prefix_build, run.exe, ["--background"], desktop="shell,%dx%d" % (screen.width, screen.height))
    try:
        def balloon():
            shot = run.shot()
            white = sum(shot.pixel(x, y) == (255, 255, 255)
                        for x in range(corner[0], screen.width, 4) for y in range(corner[1], screen.height - 40, 4))
            return shot if white > 300 * run.dpi // 96 else None
        shot = wait_for(balloon, 60, interval=0.5)
        run.check("the tray's notice names the updatable apps", shot is not None)
        if shot:
            path = os.path.join(args.out, "screenshot-tray-notice.png")
            if run.dpi != 96:
                path = "%s-%d.png" % (path[:-len(".png")], run.dpi * 100 // 96)
            shot.save(path + ".ppm")
            subprocess.run(["convert", path + ".ppm", "-crop", "%dx%d+%d+%d" % (width, height, *corner), "+repage",
                            "-strip", path], check=True)
            os.remove(path + ".ppm")
            print("saved", path, flush=True)
    finally:
        notice.kill()


if __name__ == "__main__":
    sys.exit(main())
