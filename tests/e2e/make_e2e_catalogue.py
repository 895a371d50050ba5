#!/usr/bin/env python3
"""Writes the catalogue folder the end-to-end runs serve, reusing the test installers of the CMake build.

Usage: tests/e2e/make_e2e_catalogue.py OUTDIR INSTALLERS_DIR

Everything is deterministic: the installers come from INSTALLERS_DIR (build/tests/installers), where the
build made them once, the archives and the large package are made here from fixed bytes. APPS below is
what the runs rely on.
"""
import hashlib
import io
import json
import os
import shutil
import struct
import subprocess
import sys
import zipfile
import zlib

from tls_front import ensure_certificates

# The wrong digest the catalogue gives app 4 (the real one of its file differs).
WRONG_MD5 = "0123456789abcdef0123456789abcdef"
BIG_SIZE = 6 * 1024 * 1024 + 4321
MAKE_INSTALLER = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "installers", "make-installer")

# (id, name, version, category ids, package file, how it is made)
APPS = [
    (1, "Qb 星河笔记", "2.1.0", ["common"], "qb-nsis-setup.exe", "copy"),
    (2, "方块压缩包", "1.0", ["common"], "方块压缩包_便携版.zip", "zip"),
    (3, "大号压缩包", "3.0", ["common"], "big-portable.zip", "big"),
    (4, "校验不符", "1.0", ["common"], "md5-mismatch-setup.exe", "copy:qbti-hkcu.exe"),
    (5, "换目录测试", "1.0", ["common"], "second-folder.zip", "zip"),
    (6, "系统清理", "4.2", ["tools"], "tools-cleaner.zip", "zip"),
    (7, "暂无安装包", "0.1", ["tools"], None, None),
    # Installed at 1.0 before the program starts (PREINSTALLED), offered at 2.0, then uninstalled.
    (8, "Qb 晨光日历", "2.0", ["upgrade"], "qb-dawn-2.0-setup.exe", "copy"),
    (9, "Qb Spruce Ledger", "2.0.0", ["upgrade"], "qb-spruce-2.0.msi", "copy"),
    # Installed by an imported list.
    (10, "清风便签", "1.0", ["lists"], "qb-breeze-setup.exe", "copy"),
    # Pinned to Qb Test Publisher: the NSIS package signed by a certificate of that or another name from the test CA
    # (tls_front.py's, which the verify case trusts), or self-signed.
    (11, "他人签名", "1.0", ["pinned"], "pin-other-setup.exe", "sign:Qb Other Publisher:ca"),
    (12, "自签冒名", "1.0", ["pinned"], "pin-self-setup.exe", "sign:Qb Test Publisher:self"),
    (13, "可信签名", "1.0", ["pinned"], "pin-trusted-setup.exe", "sign:Qb Test Publisher:ca"),
]
CATEGORIES = [{"id": "common", "name": "常用软件"}, {"id": "tools", "name": "系统工具"},
              {"id": "upgrade", "name": "升级测试"}, {"id": "lists", "name": "清单测试"},
              {"id": "pinned", "name": "签名测试"}]
# The older versions the update case installs first, copied to OUTDIR/preinstall (not served).
PREINSTALLED = ["qb-dawn-1.0-setup.exe", "qb-spruce-1.0.msi"]


def stream(seed, size, head=b""):
    out = bytearray(head)
    counter = 0
    while len(out) < size:
        out += hashlib.sha256(b"%s:%d" % (seed.encode(), counter)).digest()
        counter += 1
    return bytes(out[:size])


def small_zip(name):
    data = io.BytesIO()
    with zipfile.ZipFile(data, "w", zipfile.ZIP_DEFLATED) as z:
        info = zipfile.ZipInfo(name + "/说明.txt", date_time=(2024, 1, 1, 0, 0, 0))
        z.writestr(info, ("%s\r\n解压后即可使用。\r\n" % name).encode("utf-8"))
    return data.getvalue()


def png(rgba):
    def chunk(kind, body):
        return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body) & 0xFFFFFFFF)
    row = b"\0" + bytes(rgba) * 32
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", 32, 32, 8, 6, 0, 0, 0)) +
            chunk(b"IDAT", zlib.compress(row * 32)) + chunk(b"IEND", b""))


def main(argv):
    if len(argv) != 2:
        sys.stderr.write(__doc__)
        return 2
    out, installers = (os.path.abspath(a) for a in argv)
    if os.path.exists(out):
        shutil.rmtree(out)
    os.makedirs(os.path.join(out, "packages"))
    os.makedirs(os.path.join(out, "icons"))
    os.makedirs(os.path.join(out, "preinstall"))
    for name in PREINSTALLED:
        shutil.copyfile(os.path.join(installers, name), os.path.join(out, "preinstall", name))
    apps = []
    for app_id, name, version, categories, package, how in APPS:
        entry = {"id": app_id, "name": name, "version": version, "description": "端到端测试用的应用 %d" % app_id,
                 "categoryIds": categories, "updatedAt": 1733616000000, "downloads": app_id}
        if app_id % 2:
            entry["icon"] = "icons/%d.png" % app_id
            with open(os.path.join(out, entry["icon"]), "wb") as f:
                f.write(png((40 * app_id % 256, 120, 200, 255)))
        if package:
            path = os.path.join(out, "packages", package)
            if how.startswith("copy"):
                shutil.copyfile(os.path.join(installers, how.partition(":")[2] or package), path)
            elif how.startswith("sign"):  # the key and certificate are made now, beside the package, and never served
                _, signer, issuer = how.split(":")
                ca = ensure_certificates(os.path.join(os.path.dirname(out), "tls"))
                subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-subj", "/CN=" + signer,
                                "-addext", "extendedKeyUsage=codeSigning", "-keyout", path + ".key", "-out", path + ".pem"]
                               + (["-CA", ca + "/ca.crt", "-CAkey", ca + "/ca.key"] if issuer == "ca" else []), check=True,
                               capture_output=True)
                subprocess.run([sys.executable, MAKE_INSTALLER, "sign", os.path.join(installers, "qb-nsis-setup.exe"), path,
                                "--cert", path + ".pem", "--key", path + ".key"], check=True)
                entry["publisher"] = "Qb Test Publisher"
            else:
                with open(path, "wb") as f:
                    f.write(stream("e2e-big", BIG_SIZE, b"PK\x03\x04") if how == "big" else small_zip(name))
            entry["package"] = "packages/" + package
        if app_id == 4:
            entry["md5"] = WRONG_MD5
        apps.append(entry)
    with open(os.path.join(out, "catalogue.json"), "w", encoding="utf-8") as f:
        json.dump({"categories": CATEGORIES, "apps": apps}, f, ensure_ascii=False, indent=1)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
