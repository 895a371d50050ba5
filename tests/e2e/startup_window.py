#!/usr/bin/env python3
"""Quillbox opens its 1180 x 780 window at (110, 60) on a 1400 x 900 screen and exits with 0 when its close button is clicked."""
import argparse
import sys

from qbdrive import Program


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--build", required=True)
    ap.add_argument("--exe", required=True)
    args = ap.parse_args()

    program = Program(args.build, args.exe)
    try:
        program.wait_window()
        geometry = program.geometry()
        print("window geometry:", geometry)
        expected = {"x": 110, "y": 60, "width": 1180, "height": 780}
        if geometry != expected:
            print("FAIL: expected", expected)
            return 1
        program.click(geometry["x"] + geometry["width"] - 23, geometry["y"] + 32)  # the close caption button
        code = program.wait_exit()
        print("exit code:", code)
        if code != 0:
            print("FAIL: expected exit code 0")
            return 1
        print("PASS")
        return 0
    finally:
        program.kill()


if __name__ == "__main__":
    sys.exit(main())
