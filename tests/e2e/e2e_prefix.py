#!/usr/bin/env python3
"""Sets up and tears down the end-to-end runs' world in BUILD/e2e:
  e2e_prefix.py setup   --prefix BUILD/e2e --installers BUILD/tests/installers
  e2e_prefix.py cleanup --prefix BUILD/e2e
setup makes a fresh Wine prefix (with its own Xvfb display and wineserver), the download folder and
the test catalogue; cleanup ends the wineserver and the display."""
import argparse
import os
import shutil
import subprocess
import sys
import time

from qbdrive import ROOT

HERE = os.path.dirname(os.path.abspath(__file__))


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("action", choices=("setup", "cleanup"))
    ap.add_argument("--prefix", required=True)
    ap.add_argument("--installers")
    args = ap.parse_args()
    prefix = os.path.abspath(args.prefix)
    stop = os.path.join(ROOT, "scripts", "wine-stop")
    if args.action == "cleanup":
        subprocess.run([stop, prefix], check=False)
        return 0
    started = time.time()
    os.makedirs(prefix, exist_ok=True)
    subprocess.run([stop, prefix], check=False)
    for name in ("wine", "runs", "catalogue"):
        shutil.rmtree(os.path.join(prefix, name), ignore_errors=True)
    subprocess.run([sys.executable, os.path.join(HERE, "make_e2e_catalogue.py"), os.path.join(prefix, "catalogue"),
                    args.installers], check=True)
    subprocess.run([os.path.join(ROOT, "scripts", "wine-run"), prefix, "cmd", "/c", "exit"], check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.makedirs(os.path.join(prefix, "wine", "prefix", "drive_c", "qbe2e", "downloads"))
    print("e2e prefix ready in %.0f s: %s" % (time.time() - started, prefix))
    return 0


if __name__ == "__main__":
    sys.exit(main())
