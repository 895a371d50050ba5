import json
import os
import tempfile
import unittest

from support import Service, run_publish, run_refused, write_folder

GOOD_APP = {"id": 1, "name": "甲", "categoryIds": ["c"], "icon": "i.png", "package": "p/setup.exe"}
FILES = {"i.png": b"png", "p/setup.exe": b"MZ", "p/setup.msi": b"\xd0\xcf\x11\xe0\xa1\xb1\x1a\xe1"}


def catalogue(**app_changes):
    app = dict(GOOD_APP, **app_changes)
    return {"categories": [{"id": "c", "name": "常用"}], "apps": [app]}


class BrokenFolderTest(unittest.TestCase):
    def test_broken_folders_are_refused_with_the_file_and_the_problem_by_serve_and_publish(self):
        outside = tempfile.NamedTemporaryFile(suffix=".exe")
        cases = [
            ("no catalogue.json", None, "file not found"),
            ("not JSON", "{\"apps\": [", "invalid JSON at line 1"),
            ("not an object", "[]", "top level must be an object"),
            ("apps not an array", {"categories": [], "apps": {}}, "'apps' must be an array"),
            ("category id a number", {"categories": [{"id": 5, "name": "x"}], "apps": []}, "'id' must be"),
            ("duplicate category", {"categories": [{"id": "c", "name": "x"}] * 2, "apps": []}, "duplicate category"),
            ("app id a string", catalogue(id="1"), "'id' must be an integer"),
            ("app id beyond 32 bits", catalogue(id=2 ** 32 + 1), "'id' must be an integer from -2147483648 to"),
            ("lone surrogate", json.dumps(catalogue(name="\ud800")), "apps[0].name holds text that cannot be"),
            ("file name not UTF-8", json.dumps(catalogue(package="p/\udcff.exe")), "apps[0].package holds text"),
            ("duplicate app id", {"categories": [{"id": "c", "name": "x"}], "apps": [GOOD_APP, GOOD_APP]},
             "duplicate app id 1"),
            ("name a number", catalogue(name=3), "'name' must be a string"),
            ("categoryIds a string", catalogue(categoryIds="c"), "'categoryIds' must be an array"),
            ("unknown category", catalogue(categoryIds=["zz"]), "category 'zz' is not listed"),
            ("negative size", catalogue(packageSize=-1), "'packageSize' must be a non-negative"),
            ("sha256 a number", catalogue(sha256=256), "'sha256' must be a string"),
            ("hasPackage a string", catalogue(hasPackage="yes"), "'hasPackage' must be true or false"),
            ("silentArgs a number", catalogue(silentArgs=1), "'silentArgs' must be a string"),
            ("publisher with a trailing blank", catalogue(publisher="Qb "), "'publisher' must be a signer's name"),
            ("mirrors a string", catalogue(mirrors="https://m/x.exe"), "'mirrors' must be an array of strings"),
            ("silentArgs with a line break", catalogue(silentArgs="/S\r\nx"), "'silentArgs' holds a control"),
            ("MSI silentArgs naming another package", catalogue(package="p/setup.msi", silentArgs="/qn /i b.msi"),
             "'silentArgs' names another package (/i)"),
            ("typo in a member", catalogue(pakage="p/setup.exe"), "unknown member 'pakage'"),
            ("parent path", catalogue(package="../x.exe"), "escapes the folder"),
            ("absolute path", catalogue(package=outside.name), "escapes the folder"),
            ("backslashes", catalogue(package="p\\setup.exe"), "must use '/'"),
            ("missing package", catalogue(package="p/none.exe"), "package file 'p/none.exe' does not exist"),
            ("missing icon", catalogue(icon="none.png"), "icon file 'none.png' does not exist"),
            ("symlink out", catalogue(package="link.exe"), "escapes the folder"),
        ]
        for label, doc, problem in cases:
            with self.subTest(label), tempfile.TemporaryDirectory() as folder:
                if doc is not None:
                    write_folder(folder, doc, FILES)
                    os.symlink(outside.name, os.path.join(folder, "link.exe"))
                    open(os.path.join(os.fsencode(folder), b"p/\xff.exe"), "wb").close()
                code, err = run_refused(folder)
                self.assertNotEqual(code, 0)
                self.assertIn("catalogue.json", err)
                self.assertIn(problem, err)
                # publish refuses it the same way, before writing anything
                site = os.path.join(folder, "site")
                published = run_publish(folder, site)
                self.assertEqual((published[0], published[2]), (code, err))
                self.assertFalse(os.path.exists(site))
        outside.close()

    def test_packages_folder_outside_the_catalogue(self):
        with tempfile.TemporaryDirectory() as folder, tempfile.TemporaryDirectory() as packages:
            write_folder(folder, catalogue(), {"i.png": b"png"})
            code, err = run_refused(folder)
            self.assertIn("does not exist", err)
            write_folder(packages, catalogue(), {"p/setup.exe": b"MZ outside"})
            svc = Service(catalogue(), {"i.png": b"png"}, "--packages", packages)
            try:
                _, headers, _ = svc.get("/api/client/download/1")
                self.assertEqual(svc.get(headers["location"])[2], b"MZ outside")
            finally:
                svc.stop()


if __name__ == "__main__":
    unittest.main()
