"""Drives Quillbox.exe under Wine and Xvfb for the end-to-end tests (xdotool, xwininfo, ImageMagick)."""
import os
import re
import subprocess
import time

from qbscreen import wait_for

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
WINE_RUN = os.path.join(ROOT, "scripts", "wine-run")


def wine_env(build):
    """Environment of the build folder's private prefix, with its display up (wine-run starts it)."""
    build = os.path.abspath(build)
    # The server a previous case left may still be ending when this one starts (once in CI the first
    # command then failed): a failed start is tried again, at most three times in all.
    for attempt in range(3):
        done = subprocess.run([WINE_RUN, build, "cmd", "/c", "exit"],
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        if done.returncode == 0:
            break
        if attempt == 2:
            done.check_returncode()
        time.sleep(1)
    root = os.path.join(build, "wine")
    with open(os.path.join(root, "display")) as f:
        display = f.read().split()[0]
    env = dict(os.environ)
    env.update(WINEPREFIX=os.path.join(root, "prefix"), WINEDEBUG="-all",
               WINEDLLOVERRIDES="mscoree=;mshtml=;winemenubuilder.exe=", DISPLAY=display)
    return env


class Program:
    """One running Quillbox.exe."""

    def __init__(self, build, exe, args=(), desktop=None):
        build = os.path.abspath(build)
        self.env = wine_env(build)
        cmd = ["wine"]
        if desktop:
            cmd += ["explorer", "/desktop=%s" % desktop]
        cmd += [exe, *args]
        self.log_path = os.path.join(build, "wine", "program.log")
        self.log = open(self.log_path, "w")
        self.proc = subprocess.Popen(cmd, env=self.env, stdin=subprocess.DEVNULL, stdout=self.log,
                                     stderr=subprocess.STDOUT)
        self.window = None
        # Without a virtual desktop the process started here is the program itself; its windows carry its pid.
        self.pid = None if desktop else self.proc.pid

    def xdo(self, *args, timeout=30):
        return subprocess.run(["xdotool", *args], env=self.env, capture_output=True, text=True,
                              timeout=timeout).stdout

    def wait_window(self, name="^Quillbox$", timeout=60):
        def search():
            where = ["--all", "--pid", str(self.pid)] if self.pid else []
            out = self.xdo("search", *where, "--onlyvisible", "--name", name).split()
            if not out and self.proc.poll() is not None:
                raise RuntimeError("Quillbox exited early with code %s; Wine said:\n%s"
                                   % (self.proc.returncode, open(self.log_path).read()[-3000:]))
            return out
        out = wait_for(search, timeout, interval=0.2)
        if out:
            self.window = out[0]
            return self.window
        # What was on the screen instead (a message box, a Wine dialog) and what Wine said.
        shown = [self.xdo("getwindowname", w).strip()
                 for w in self.xdo("search", "--onlyvisible", "--name", ".").split()[:20]]
        raise TimeoutError("no window named %s in %d s; windows shown: %s; Wine said:\n%s"
                           % (name, timeout, shown, open(self.log_path).read()[-3000:]))

    def geometry(self, window=None):
        out = subprocess.run(["xwininfo", "-id", window or self.window], env=self.env, capture_output=True,
                             text=True).stdout
        values = {}
        for key, label in (("x", "Absolute upper-left X"), ("y", "Absolute upper-left Y"),
                           ("width", "Width"), ("height", "Height")):
            m = re.search(r"%s:\s+(-?\d+)" % label, out)
            values[key] = int(m.group(1)) if m else None
        return values

    def wait_geometry(self, accept, timeout=10):
        """Polls the window's geometry until accept(geometry) holds; returns the last one seen."""
        seen = []
        wait_for(lambda: accept(seen.append(self.geometry()) or seen[-1]), timeout, interval=0.1)
        return seen[-1]

    def click(self, x, y, repeat=1):
        self.xdo("mousemove", str(x), str(y))
        time.sleep(0.2)
        if repeat == 1:
            # A held press, as a hand gives it: push buttons act on the release they see.
            self.xdo("mousedown", "1")
            time.sleep(0.1)
            self.xdo("mouseup", "1")
        else:
            self.xdo("click", "--repeat", str(repeat), "--delay", "80", "1")

    def drag(self, x0, y0, x1, y1, steps=10):
        """Presses the left button at (x0, y0), moves to (x1, y1) in steps and lets go."""
        # Pauses let the program enter (and leave) its move/size loop before the pointer goes on.
        self.xdo("mousemove", str(x0), str(y0))
        time.sleep(0.3)
        self.xdo("mousedown", "1")
        time.sleep(0.3)
        for i in range(1, steps + 1):
            self.xdo("mousemove", str(x0 + (x1 - x0) * i // steps), str(y0 + (y1 - y0) * i // steps))
            time.sleep(0.03)
        time.sleep(0.3)
        self.xdo("mouseup", "1")
        time.sleep(0.3)

    def screenshot(self, path):
        subprocess.run(["import", "-window", "root", path], env=self.env, check=True)

    def close(self):
        """Closes the window the keyboard way (Alt+F4)."""
        self.xdo("key", "--window", self.window, "alt+F4")

    def wait_exit(self, timeout=30):
        return self.proc.wait(timeout=timeout)

    def kill(self):
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()
