"""Hostile catalogues served as the bootstrap answer: the program must stay responsive, draw what it can
and never crash. Each bootstrap is scripted through the service's fault API and the program restarted."""
import base64
import json
import time

from e2e_support import PRIMARY, TEXT, W, card_button, category_row, centre
from qbscreen import FONT_BUTTON, FONT_CARD_TITLE, FONT_SECTION_TITLE, rgb, wait_for

HEADING = (212, 78, W - 12, 118)
FAILED = (200, 184, W, 214)
PILL = (W - 370, 14, W - 266, 50)


def app(i, name, category="c0", **extra):
    entry = {"id": i, "name": name, "version": "1.0", "description": "d", "icon": "", "categoryIds": [category],
             "packageSize": 1000, "md5": "", "hasPackage": True, "downloads": 0, "updatedAt": 1733616000000}
    entry.update(extra)
    return entry


def bootstrap(categories, apps):
    return json.dumps({"code": 0, "data": {"categories": categories, "apps": apps}}, ensure_ascii=False)


def many_apps(count, fat):
    """count apps in all, every one in the first category and the last two also in a small second one;
    fat ones carry long descriptions."""
    categories = [{"id": "c0", "name": "全部"}, {"id": "c1", "name": "小类"}]
    apps = []
    for i in range(1, count - 1):
        if fat:
            apps.append(app(i, "应用%d" % i, description="说明" * 20))
        else:
            apps.append({"id": i, "name": "应用%d" % i, "categoryIds": ["c0"], "hasPackage": True})
    apps += [app(count - 1, "小类应用甲", categoryIds=["c0", "c1"]),
             app(count, "小类应用乙", categoryIds=["c0", "c1"])]
    return bootstrap(categories, apps)


def odd_fields():
    """Names of 10 000 characters, NUL characters, icons that are not images, icon paths of 5 000
    characters, members nested 60 deep, values of the wrong types; one ordinary app among them."""
    nested = "x"
    for _ in range(60):
        nested = [nested]
    categories = [{"id": "c0", "name": "常用软件"}, {"id": "c1", "name": "长" * 10000}, {"id": "c2", "name": "空\u0000字"}]
    apps = [
        app(1, "正常应用"),
        app(2, "名" * 10000, description="述" * 10000, version="9" * 10000),
        app(3, "零\u0000字节", description="\u0000\u0000", icon="/media/icons/3.png"),
        app(4, "坏图标", icon="/media/not-an-image.png"),
        app(5, "长路径", icon="/media/" + "p" * 5000 + ".png"),
        app(6, "更长路径", icon="/" + "q" * 5000),
        app(7, "深嵌套", extra=nested, categoryIds=["c0", "c1", "c2"]),
        {"id": 8, "name": 12345, "categoryIds": "c0", "packageSize": "many", "hasPackage": "yes"},
        {"id": "nine", "name": ["数组"], "categoryIds": [["c0"]]},
        app(10, "长类别", "c1"),
    ]
    return bootstrap(categories, apps), 7  # apps 1-7 name c0 as their category


def deep_nesting(levels):
    return '{"code":0,"data":{"categories":[{"id":"c0","name":"x"}],"apps":[{"id":1,"extra":%s%s}]}}' % (
        "[" * levels, "]" * levels)


def region(shot, run, rect):
    x0, y0, x1, y1 = run.screen_box(rect)
    return b"".join(shot.data[(y * shot.width + x0) * 3:(y * shot.width + x1) * 3] for y in range(y0, y1))


def answers(run, point, rect, what, timeout=10):
    """Clicks point and checks that rect repaints differently within timeout seconds."""
    before = region(run.shot(), run, rect)
    started = time.time()
    run.click(*point)
    changed = wait_for(lambda: region(run.shot(), run, rect) != before, timeout, interval=0.2)
    return run.check("%s (%.1f s)" % (what, time.time() - started), bool(changed) and run.alive())


def hovers(run, what, timeout=10):
    """Moves the pointer onto the minimise button, whose cell lights up when the window is listening."""
    cell = (W - 138, 0, W - 92, 64)
    run.program.xdo("mousemove", *[str(v) for v in run.screen(W - 300, 300)])
    time.sleep(0.5)  # any earlier hover light goes out before the cell is grabbed unlit
    before = region(run.shot(), run, cell)
    started = time.time()
    run.program.xdo("mousemove", *[str(v) for v in run.screen(*centre(cell))])
    changed = wait_for(lambda: region(run.shot(), run, cell) != before, timeout, interval=0.2)
    run.program.xdo("mousemove", *[str(v) for v in run.screen(W - 300, 300)])
    return run.check("%s (%.1f s)" % (what, time.time() - started), bool(changed) and run.alive())


def serve(run, svc, body=None, body_bytes=None):
    svc.control("/test/reset", {})
    fault = {"contentType": "application/json", "repeat": -1}
    if body_bytes is not None:
        fault["bodyBase64"] = base64.b64encode(body_bytes).decode("ascii")
    else:
        fault["body"] = body
    svc.fault({"path": "/api/client/bootstrap"}, fault)
    svc.fault({"path": "/media/*"}, {"body": "this is not an image", "contentType": "image/png", "repeat": -1})


def loaded_or_failed(run, heading, timeout=90):
    """Waits for the heading (catalogue drawn) or the connection-failed screen; returns which."""
    def probe():
        shot = run.shot()
        if heading and run.text(shot, HEADING, FONT_SECTION_TITLE, TEXT, heading):
            return "loaded"
        if run.text(shot, FAILED, FONT_CARD_TITLE, TEXT, "无法连接服务器"):
            return "failed"
        if heading and run.text(shot, (224, 82, W - 200, 116), FONT_SECTION_TITLE, TEXT, "下载管理 · 0 个任务"):
            run.click(*centre(category_row(0)))  # loaded before the pill was clicked: back to the grid
        return None
    return wait_for(probe, timeout, interval=0.5)


def variant(run, svc, title, expect, heading=None, body=None, body_bytes=None, then=None):
    print("--- %s" % title, flush=True)
    serve(run, svc, body, body_bytes)
    run.start_program()
    answers(run, centre(PILL), PILL, "%s: the window answers a click at once" % title)
    started = time.time()
    outcome = loaded_or_failed(run, heading)
    run.check("%s: %s (%s after %.1f s)" % (title, "the catalogue is drawn" if expect == "loaded"
                                            else "the connection-failed screen", outcome, time.time() - started),
              outcome == expect)
    if outcome == "failed":
        hovers(run, "%s: the failure screen answers the pointer" % title)
    if then and outcome == "loaded":
        then()
    run.check("%s: the process is alive" % title, run.alive())
    run.close_program()
    run.program.kill()
    run.program = None


def case_hostile(run):
    svc = run.start_service()
    run.write_config(svc.url)

    def switch_category(count_text):
        def then():
            run.click(*centre(category_row(1)))
            ok = run.wait_text(HEADING, FONT_SECTION_TITLE, TEXT, "小类 · 2 款", timeout=15)
            run.check("a category click answers with the small category's grid", ok)
            run.click(*centre(category_row(0)))
            ok = run.wait_text(HEADING, FONT_SECTION_TITLE, TEXT, count_text, timeout=15)
            run.check("and back to the big one", ok)
            # Deep in the grid: the wheel scrolls, painting keeps up.
            run.program.xdo("mousemove", *[str(v) for v in run.screen(700, 500)])
            before = region(run.shot(), run, (212, 126, W - 12, 700))
            run.program.xdo("click", "--repeat", "20", "--delay", "30", "5")
            moved = wait_for(lambda: region(run.shot(), run, (212, 126, W - 12, 700)) != before, 10)
            run.check("the wheel scrolls the big grid", bool(moved))
        return then

    big = many_apps(100000, fat=True)
    print("100 000 fat apps: %.1f MiB" % (len(big.encode()) / 1048576.0), flush=True)
    variant(run, svc, "100 000 apps above the 8 MiB limit", "failed", "全部 · 100000 款", body=big)
    small = many_apps(100000, fat=False)
    print("100 000 lean apps: %.1f MiB" % (len(small.encode()) / 1048576.0), flush=True)
    variant(run, svc, "100 000 apps below the 8 MiB limit", "loaded", "全部 · 100000 款", body=small,
            then=switch_category("全部 · 100000 款"))
    over = many_apps(100001, fat=False)
    print("100 001 lean apps: %.1f MiB" % (len(over.encode()) / 1048576.0), flush=True)
    variant(run, svc, "100 001 apps, one more than the catalogue takes", "failed", "全部 · 100001 款", body=over)

    body, count = odd_fields()

    def odd_checks():
        shot = run.last_shot
        run.check("the ordinary app among odd ones is drawn",
                  bool(run.text(shot, (226, 230, 226 + 221, 254), FONT_CARD_TITLE, TEXT, "正常应用")))
        buttons = [i for i in range(4) if run.text(shot, card_button(i), FONT_BUTTON, 0xFFFFFF, "安 装",
                                                     bg=rgb(PRIMARY))]
        run.check("the cards of the first row all have their 安 装 button", buttons == [0, 1, 2, 3], buttons)
        answers(run, centre(category_row(1)), HEADING, "a click on the 10 000-character category answers")
    variant(run, svc, "names of 10 000 characters, NUL characters, bad icons, 5 000-character icon paths",
            "loaded", "常用软件 · %d 款" % count, body=body, then=odd_checks)
    variant(run, svc, "raw NUL bytes in the body", "failed",
            body_bytes=b'{"code":0,"data":{"categories":[{"id":"c0","name":"a\x00b"}],"apps":[]}}\x00\x00')
    variant(run, svc, "100 000 levels of nesting", "failed", body=deep_nesting(100000))
