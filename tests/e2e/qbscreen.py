"""Screen probes for the end-to-end runs: grabs of the Xvfb screen, pixel colours, and finding a text
drawn with the program's own fonts (tests/programs/text_stamp.cpp draws the reference)."""
import collections
import os
import subprocess
import time

# The interface fonts, by their index in the program's font table.
FONT_CARD_TITLE, FONT_BODY, FONT_SMALL, FONT_BUTTON = 3, 4, 5, 6
FONT_SECTION_TITLE, FONT_CATEGORY, FONT_ROW_STATUS, FONT_TOAST = 7, 8, 9, 10
FONT_LABEL = 12


def rgb(value):
    return ((value >> 16) & 0xFF, (value >> 8) & 0xFF, value & 0xFF)


def blend(top_argb, below_rgb):
    """An 0xAARRGGBB colour laid over an opaque one, as the painters blend their fills."""
    a = ((top_argb >> 24) & 0xFF) / 255.0
    return tuple(round(t * a + b * (1 - a)) for t, b in zip(rgb(top_argb), below_rgb))


def near(c1, c2, tolerance=6):
    return all(abs(a - b) <= tolerance for a, b in zip(c1, c2))


class Shot:
    """One grab of the whole screen (8-bit RGB)."""

    def __init__(self, width, height, data):
        self.width, self.height, self.data = width, height, data

    @classmethod
    def grab(cls, env):
        raw = subprocess.run(["import", "-window", "root", "-depth", "8", "ppm:-"], env=env, check=True,
                             capture_output=True).stdout
        fields, pos = [], 0
        while len(fields) < 4:  # magic, width, height, maximum, separated by white space
            while raw[pos:pos + 1].isspace():
                pos += 1
            start = pos
            while not raw[pos:pos + 1].isspace():
                pos += 1
            fields.append(raw[start:pos])
        width, height = int(fields[1]), int(fields[2])
        return cls(width, height, raw[pos + 1:pos + 1 + width * height * 3])

    def pixel(self, x, y):
        i = (y * self.width + x) * 3
        return tuple(self.data[i:i + 3])

    def save(self, path):
        header = b"P6\n%d %d\n255\n" % (self.width, self.height)
        subprocess.run(["convert", "ppm:-", path], input=header + self.data, check=True)

    def common_colour(self, left, top, right, bottom):
        counts = collections.Counter(self.pixel(x, y) for y in range(top, bottom) for x in range(left, right))
        return counts.most_common(1)[0][0]

    def run_length(self, x0, x1, y, accept):
        """How many pixels from x0 towards x1 on row y in a row accept(colour) holds for."""
        n = 0
        for x in range(x0, x1):
            if not accept(self.pixel(x, y)):
                break
            n += 1
        return n

    def count(self, left, top, right, bottom, accept):
        return sum(1 for y in range(top, bottom) for x in range(left, right) if accept(self.pixel(x, y)))


class TextStamps:
    """Reference pictures of texts, drawn by text_stamp.exe in the same Wine prefix as the program."""

    def __init__(self, exe, env, dpi=96):
        """Texts are drawn with the fonts made for dpi, as a window at that DPI makes them."""
        self.proc = subprocess.Popen(["wine", exe, str(dpi)], env=env, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                     stderr=subprocess.DEVNULL)
        self.cache = {}

    def get(self, font, fg, bg, text):
        key = (font, fg, bg, text)
        if key not in self.cache:
            line = "%d %06x %02x%02x%02x %s\n" % (font, fg, bg[0], bg[1], bg[2], text)
            self.proc.stdin.write(line.encode("utf-8"))
            self.proc.stdin.flush()
            parts = self.proc.stdout.readline().decode().split()
            if len(parts) < 2:
                raise RuntimeError("text_stamp.exe gave no answer")
            w, h = int(parts[0]), int(parts[1])
            raw = bytes.fromhex(parts[2]) if w else b""
            self.cache[key] = (w, h, [tuple(raw[i:i + 3]) for i in range(0, len(raw), 3)])
        return self.cache[key]

    def close(self):
        if self.proc.poll() is None:
            self.proc.stdin.close()
            try:
                self.proc.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()


def find_text(shot, stamps, box, font, fg, text, bg=None, frame="both", tolerance=40, least=0.93):
    """Where text lies inside box (screen left, top, right, bottom), or None.
    bg is the background colour (the box's most common colour when None), or (x, left colour, right
    colour) for a background that changes at column x, as under a progress fill. Every pixel of the
    reference picture is compared, and a frame around it (4 pixels at the sides, 1 above and below, as
    far as it lies in the box) must be background, so a shorter text never matches inside a longer
    one; frame "right" checks only the right side (a text that ends a line), "none" none of it."""
    left, top, right, bottom = box
    if bg is None:
        bg = shot.common_colour(left, top, right, bottom)
    split, left_bg, right_bg = bg if len(bg) == 3 and isinstance(bg[1], tuple) else (None, bg, bg)
    w, h, pixels = stamps.get(font, fg, left_bg, text)
    if not w:
        return None
    right_pixels = pixels if right_bg == left_bg else stamps.get(font, fg, right_bg, text)[2]
    if len(right_pixels) != len(pixels):
        right_pixels = pixels
    sides = {"both": list(range(-4, 0)) + list(range(w, w + 4)), "right": list(range(w, w + 4)), "none": []}[frame]
    frame_cells = [(x, y) for y in range(h) for x in sides]
    if frame == "both":
        frame_cells += [(x, y) for x in range(-4, w + 4) for y in (-1, h)]
    data, width = shot.data, shot.width
    inner = [(x, y, pixels[y * w + x], right_pixels[y * w + x]) for y in range(h) for x in range(w)]
    edge = [(x, y, left_bg, right_bg) for x, y in frame_cells]

    def misses(cells, ox, oy, allowed, clip):
        n = 0
        for x, y, cl, cr in cells:
            sx, sy = ox + x, oy + y
            if clip and not (left <= sx < right and top <= sy < bottom):
                continue
            c = cr if split is not None and sx >= split else cl
            i = (sy * width + sx) * 3
            if (abs(data[i] - c[0]) > tolerance or abs(data[i + 1] - c[1]) > tolerance
                    or abs(data[i + 2] - c[2]) > tolerance):
                n += 1
                if n > allowed:
                    break
        return n

    allowed = int(w * h * (1 - least))
    for oy in range(top, bottom - h + 1):
        for ox in range(left, right - w + 1):
            if misses(inner, ox, oy, allowed, False) <= allowed and misses(edge, ox, oy, 2, True) <= 2:
                return ox, oy
    return None


def wait_for(probe, timeout, interval=0.3):
    """Calls probe() until it returns something true or timeout seconds pass; returns the last result."""
    deadline = time.time() + timeout
    while True:
        result = probe()
        if result or time.time() >= deadline:
            return result
        time.sleep(interval)


def stays(probe, seconds, interval=0.3):
    """True when probe() holds at every look for seconds: what must not happen is watched for, not slept through."""
    return not wait_for(lambda: not probe(), seconds, interval)


def wine_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")
