"""The unfinished-download case: a large package served slowly, the program killed in the middle of its
transfer, started again; the download page lists the task as paused with its progress from the journal,
继续 finishes it byte-identical, and every resumed request starts at or after the bytes the journal had
recorded for its segment. The journal is written about once a second; the live record of each write adds
what came after its last write, so a restart fetches again at most one write of each connection: the bytes
really in the ".part" at the kill bound it.
Then the program is closed cleanly in the middle of the transfer: its journal holds every byte in the
".part", and the next start fetches nothing twice."""
import filecmp
import json
import os
import random
import time

from e2e_support import (DOWNLOADS, NEUTRAL, PRIMARY, SUCCESS, TERTIARY, TEXT, W, Service, card_button, centre,
                         format_size, row_base)
from qbscreen import FONT_BUTTON, FONT_CARD_TITLE, FONT_ROW_STATUS, FONT_SECTION_TITLE, near, rgb, wait_for

HEADING = (212, 78, W - 12, 118)
APP_ID = 1
NAME = "大文件续传"
PACKAGE = "resume-big.zip"
SIZE = 200 * 1024 * 1024 + 12345
RATE = 10 * 1024 * 1024  # bytes per second and request: about 20 s for the whole file on one connection
WRITE = 256 * 1024  # the most one write of a connection puts in the file


def make_catalogue(run):
    """A catalogue of one app whose package is SIZE fixed pseudo-random bytes that open as a zip; the
    package is made once and kept in the case's folder."""
    folder = os.path.join(run.work, "catalogue")
    package = os.path.join(folder, "packages", PACKAGE)
    os.makedirs(os.path.dirname(package), exist_ok=True)
    if not os.path.exists(package) or os.path.getsize(package) != SIZE:
        rng = random.Random(20240601)
        with open(package + ".tmp", "wb") as f:
            f.write(b"PK\x03\x04")
            left = SIZE - 4
            while left > 0:
                step = min(left, 1 << 20)
                f.write(rng.randbytes(step))
                left -= step
        os.replace(package + ".tmp", package)
    catalogue = {"categories": [{"id": "resume", "name": "续传测试"}],
                 "apps": [{"id": APP_ID, "name": NAME, "version": "1.0", "description": "断点续传测试",
                           "categoryIds": ["resume"], "updatedAt": 1733616000000, "downloads": 1,
                           "package": "packages/" + PACKAGE}]}
    with open(os.path.join(folder, "catalogue.json"), "w", encoding="utf-8") as f:
        json.dump(catalogue, f, ensure_ascii=False)
    return folder, package


def journal_entries(run):
    """The journal's entries, or None while it is missing or does not parse."""
    try:
        with open(run.journal_path(), encoding="utf-8") as f:
            return json.load(f)["downloads"]
    except (OSError, ValueError, KeyError):
        return None


def recorded_bytes(entry):
    return sum(s["written"] for s in entry["segments"])


def vouched_bytes_held(entry, part, package):
    """Whether the .part holds the package's bytes wherever the entry says they were written."""
    with open(part, "rb") as p, open(package, "rb") as q:
        for s in entry["segments"]:
            p.seek(s["start"])
            q.seek(s["start"])
            if p.read(s["written"]) != q.read(s["written"]):
                return False
    return True


def bytes_on_disk(part, package, segment):
    """How many bytes from the segment's start the ".part" really holds (the journal may lag behind)."""
    start, end = segment["start"], segment["end"]
    at = start + segment["written"]
    with open(part, "rb") as p, open(package, "rb") as q:
        p.seek(at)
        q.seek(at)
        while at <= end:
            a, b = p.read(min(1 << 20, end + 1 - at)), q.read(min(1 << 20, end + 1 - at))
            if a != b or not a:
                return at + next((i for i, (x, y) in enumerate(zip(a, b)) if x != y), min(len(a), len(b))) - start
            at += len(a)
    return end + 1 - start


def range_start(header):
    """The first byte a "bytes=a-b" header asks for, or None."""
    if not header or not header.startswith("bytes="):
        return None
    first = header[6:].split("-", 1)[0]
    return int(first) if first.isdigit() else None


def case_resume(run):
    folder, package = make_catalogue(run)
    svc = Service(folder, run.work)
    run.service = svc
    svc.control("/test/reset", {})
    svc.fault({"app": APP_ID}, {"bytesPerSecond": RATE, "repeat": -1})
    run.write_config(svc.url)
    run.start_program()
    if not run.check("the catalogue loads: 续传测试 · 1 款",
                     run.wait_text(HEADING, FONT_SECTION_TITLE, TEXT, "续传测试 · 1 款", timeout=40)):
        return

    run.click(*centre(card_button(0)))
    x, y = card_button(0)[:2]
    wait_for(lambda: near(run.pixel(run.shot(), x + 95, y + 16), NEUTRAL, 4), 10)  # the card turns busy
    run.click(*centre(card_button(0)))  # a busy card's button opens the download page
    b = row_base(0)
    status = (298, b - 2, W - 260, b + 18)
    run.check("the download page lists the task",
              run.wait_text((298, b - 46, W - 260, b - 22), FONT_CARD_TITLE, TEXT, NAME, timeout=15))
    run.check("the row shows its progress: received / %s and a speed" % format_size(SIZE),
              run.wait_text(status, FONT_ROW_STATUS, TERTIARY, " / %s · " % format_size(SIZE), timeout=15,
                            frame="none"))

    def written_entry():
        entries = journal_entries(run) or []
        mine = [e for e in entries if e["appId"] == APP_ID]
        return mine[0] if mine and recorded_bytes(mine[0]) >= 8 * 1024 * 1024 else None

    seen = wait_for(written_entry, 30, interval=0.2)
    run.check("the journal holds the task with written bytes while it downloads", bool(seen), journal_entries(run))
    if not seen:
        return

    # No clean exit: the process is killed in the middle of the transfer.
    run.program.kill()
    killed_at = time.time()
    run.check("the killed program's window is gone",
              wait_for(lambda: not run.program.xdo("search", "--onlyvisible", "--name", "^Quillbox$").split(), 10))
    entries = journal_entries(run) or []
    entry = next((e for e in entries if e["appId"] == APP_ID), None)
    if not run.check("after the kill the journal still holds the task", entry is not None, entries):
        return
    recorded = recorded_bytes(entry)
    print("       journal at the kill:", entry["segments"], flush=True)
    run.check("the task was killed half-way (recorded %d of %d bytes)" % (recorded, SIZE), 0 < recorded < SIZE)
    part = os.path.join(run.host_path(DOWNLOADS), PACKAGE + ".part")
    run.check("every byte the journal vouches for is in the .part file", vouched_bytes_held(entry, part, package))
    on_disk = [bytes_on_disk(part, package, s) for s in entry["segments"]]
    print("       bytes in the .part at the kill:", on_disk, flush=True)
    # Slower after the restart, so that the program is closed in the middle once more.
    svc.control("/test/reset", {})
    svc.fault({"app": APP_ID}, {"bytesPerSecond": RATE // 4, "repeat": -1})

    # The start adds what the killed run's live record shows and writes the journal again.
    written_at = os.path.getmtime(run.journal_path())
    run.start_program(keep_cache=True)
    wait_for(lambda: os.path.getmtime(run.journal_path()) != written_at, 40, interval=0.2)
    restored = next((e for e in journal_entries(run) or [] if e["appId"] == APP_ID), None)
    if not run.check("the start keeps the task in the journal", restored is not None, journal_entries(run)):
        return
    print("       journal after the start:", restored["segments"], flush=True)
    short = [held - s["written"] for s, held in zip(restored["segments"], on_disk)]
    run.check("the start's journal vouches for the bytes on disk but at most one write of each connection "
              "(short by %s)" % short, all(0 <= n <= WRITE for n in short) and len(short) == len(on_disk))
    run.check("every byte it vouches for is in the .part file", vouched_bytes_held(restored, part, package))
    resume = open_paused_row(run, status, b, recorded_bytes(restored))
    if not resume:
        return
    run.click(*centre(resume))

    def grown_entry():
        """The entry once every segment's recorded bytes are past what the killed run had left on disk (so
        nothing the journal does not vouch for is left over from it), or None."""
        mine = [e for e in journal_entries(run) or [] if e["appId"] == APP_ID]
        if not mine:
            return None
        by_start = {s["start"]: s["written"] for s in mine[0]["segments"]}
        past = all(by_start.get(s["start"], 0) >= held + (1 << 20) for s, held in zip(entry["segments"], on_disk))
        return mine[0] if past else None

    run.check("继续 goes on: the journal grows past the bytes the kill left on disk",
              bool(wait_for(grown_entry, 30, interval=0.2)))
    # A clean close: the transfers stop and record exactly where they stand.
    run.close_program()
    closed_at = time.time()
    closed = next((e for e in journal_entries(run) or [] if e["appId"] == APP_ID), None)
    if not run.check("after closing the program the journal still holds the task", closed is not None,
                     journal_entries(run)):
        return
    print("       journal at the close:", closed["segments"], flush=True)
    beyond = [bytes_on_disk(part, package, s) - s["written"] for s in closed["segments"]]
    # A few bytes of leeway: the package may hold a zero byte where the .part was not written yet.
    run.check("the closed program's journal holds every byte in the .part (bytes beyond it: %s)" % beyond,
              all(0 <= n <= 8 for n in beyond))

    def transfers_since(t):
        """The requests for the package's file since t."""
        return [r for r in svc.requests() if r["path"].startswith("/files/%d/" % APP_ID) and r["time"] >= t]

    after_kill = transfers_since(killed_at)  # taken before the reset below empties the log
    svc.control("/test/reset", {})  # the rest comes at full speed
    run.start_program(keep_cache=True)
    resume = open_paused_row(run, status, b, recorded_bytes(closed))
    if not resume:
        return
    run.click(*centre(resume))
    finished = run.wait_text(status, FONT_ROW_STATUS, SUCCESS, "下载成功 · 压缩包已保存", timeout=60)
    run.check("继续 finishes the download: 下载成功 · 压缩包已保存", finished)
    saved = os.path.join(run.host_path(DOWNLOADS), PACKAGE)
    run.check("the file is byte-identical to the service's",
              os.path.exists(saved) and filecmp.cmp(saved, package, shallow=False))

    after_close = transfers_since(closed_at)
    for what, requests in (("kill", after_kill), ("close", after_close)):
        print("       requests after the %s:" % what, [(r["range"], r["status"], r.get("bytes")) for r in requests],
              flush=True)
    after_kill = [r for r in after_kill if r["range"] != "bytes=0-0"]  # the probe asks for one byte
    after_close = [r for r in after_close if r["range"] != "bytes=0-0"]
    run.check("every request after the kill starts at or after the bytes recorded for its segment",
              bool(after_kill) and all(from_recorded(r, restored["segments"]) for r in after_kill),
              [r["range"] for r in after_kill])
    again = [fetched_again(r, entry["segments"], on_disk) for r in after_kill]
    print("       fetched again per request after the kill:", again, flush=True)
    run.check("a restart after a kill fetches again at most one write of each connection (%d bytes at most, "
              "limit %d)" % (max(again, default=0), WRITE), max(again, default=0) <= WRITE)
    run.check("after the close nothing is fetched twice: every request starts at or after the recorded bytes",
              bool(after_close) and all(from_recorded(r, closed["segments"]) for r in after_close),
              [r["range"] for r in after_close])
    run.check("the finished task left the journal", journal_entries(run) == [], journal_entries(run))


def open_paused_row(run, status, b, recorded):
    """After a start: the download page lists the unfinished task as paused with its progress; returns
    the rectangle of its 继续 button, or None."""
    if not run.check("the program starts again with the catalogue",
                     run.wait_text(HEADING, FONT_SECTION_TITLE, TEXT, "续传测试 · 1 款", timeout=40)):
        return None
    run.click(W - 318, 32)  # the "下载管理" pill
    run.check("the download page lists the unfinished task: 下载管理 · 1 个任务",
              run.wait_text((224, 82, W - 200, 116), FONT_SECTION_TITLE, TEXT, "下载管理 · 1 个任务", timeout=15))
    paused_text = "%s / %s · 已暂停" % (format_size(recorded), format_size(SIZE))
    run.check("its row reads %s" % paused_text, run.wait_text(status, FONT_ROW_STATUS, TERTIARY, paused_text, timeout=10))
    shot = run.last_shot
    sx, sy = run.screen(301, b - 9)
    blue = shot.run_length(sx, sx + W - 561, sy, lambda c: near(c, rgb(PRIMARY), 12))
    expected = 298 + (W - 558) * (recorded * 100 // SIZE) // 100 - 301  # the fill ends at the whole percent
    run.check("its bar keeps the progress fill (%d pixels, about %d)" % (blue, expected), abs(blue - expected) <= 4)
    resume = (W - 198, b - 30, W - 122, b)  # beside 取消, where 暂停 was
    run.check("its button reads 继续 (white on blue)",
              bool(run.text(shot, resume, FONT_BUTTON, 0xFFFFFF, "继续", bg=rgb(PRIMARY))))
    return resume


def segment_of(start, segments):
    return next((s for s in segments if start is not None and s["start"] <= start <= s["end"]), None)


def from_recorded(r, segments):
    start = range_start(r["range"])
    segment = segment_of(start, segments)
    return segment is not None and start >= segment["start"] + segment["written"]


def fetched_again(r, segments, on_disk):
    """How many bytes the request asks for that were in the .part already."""
    start = range_start(r["range"])
    for s, held in zip(segments, on_disk):
        if start is not None and s["start"] <= start <= s["end"]:
            return max(0, s["start"] + held - start)
    return 0
