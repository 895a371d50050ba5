import collections
import json
import os
import struct
import tempfile
import unittest

from support import Service

SAMPLE = os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "sample")
SIGNATURES = {"image/png": b"\x89PNG", "image/jpeg": b"\xff\xd8\xff", "image/x-icon": b"\0\0\1\0"}


class SampleCatalogueTest(unittest.TestCase):
    """The sample must load in the service; its packages are stood in for by placeholder files."""

    @classmethod
    def setUpClass(cls):
        with open(os.path.join(SAMPLE, "packages.json"), encoding="utf-8") as f:
            cls.recipes = json.load(f)
        cls.packages = tempfile.TemporaryDirectory()
        for rel in cls.recipes:
            path = os.path.join(cls.packages.name, rel)
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "wb") as f:
                f.write(b"MZ placeholder")
        cls.svc = Service(SAMPLE, None, "--packages", cls.packages.name)
        cls.data = json.loads(cls.svc.get("/api/client/bootstrap")[2])["data"]

    @classmethod
    def tearDownClass(cls):
        cls.svc.stop()
        cls.packages.cleanup()

    def test_size_and_variety(self):
        apps = self.data["apps"]
        self.assertGreaterEqual(len(self.data["categories"]), 12)
        self.assertGreaterEqual(len(apps), 40)
        self.assertTrue(any(not a["hasPackage"] for a in apps))
        kinds = collections.Counter(r["kind"] for r in self.recipes.values())
        self.assertEqual(set(kinds), {"installer", "nsis", "msi", "zip", "7z"})
        names = collections.Counter(os.path.basename(p) for p in self.recipes)
        self.assertGreaterEqual(names["setup.exe"], 2)
        with open(os.path.join(SAMPLE, "catalogue.json"), encoding="utf-8") as f:
            by_package = {a["package"]: a for a in json.load(f)["apps"] if "package" in a}
        for rel, recipe in self.recipes.items():
            if recipe["kind"] == "msi":
                self.assertTrue(by_package[rel]["name"].isascii(), "wixl loses non-ASCII names: %s" % rel)

    def test_icons_are_served_in_every_format(self):
        seen = collections.Counter()
        for app in self.data["apps"]:
            status, headers, body = self.svc.get(app["icon"])
            self.assertEqual(status, 200, app["icon"])
            ctype = headers["content-type"]
            self.assertTrue(body.startswith(SIGNATURES[ctype]), app["icon"])
            if ctype == "image/x-icon":
                self.assertGreaterEqual(struct.unpack_from("<H", body, 4)[0], 3, app["icon"])
            seen[ctype] += 1
        self.assertEqual(set(seen), set(SIGNATURES))


if __name__ == "__main__":
    unittest.main()
