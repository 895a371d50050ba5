#!/usr/bin/env python3
"""Starts Quillbox on the build folder's Xvfb display, waits for the catalogue and saves a screenshot."""
import argparse
import sys
import time

from qbdrive import Program


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--build", required=True)
    ap.add_argument("--exe", required=True)
    ap.add_argument("--out", required=True)
    ap.add_argument("--settle", type=float, default=6.0, help="seconds to let the catalogue and icons arrive")
    args = ap.parse_args()
    program = Program(args.build, args.exe)
    try:
        program.wait_window()
        time.sleep(args.settle)
        program.screenshot(args.out)
        program.close()
        program.wait_exit()
        return 0
    finally:
        program.kill()


if __name__ == "__main__":
    sys.exit(main())
