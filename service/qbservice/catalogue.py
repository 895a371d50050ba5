"""The catalogue folder: catalogue.json with icons and packages beside it."""

import hashlib
import json
import os
import stat
import time
import threading
import urllib.parse

CATALOGUE_FILE = "catalogue.json"
ICON_PREFIX = "/media/"
FILE_PREFIX = "/files/"

# The program keeps app ids in 32 bits: a larger id would stand for another app there.
MIN_APP_ID, MAX_APP_ID = -2 ** 31, 2 ** 31 - 1

_APP_KEYS = {
    "id", "name", "version", "description", "categoryIds", "categoryId",
    "updatedAt", "downloads", "icon", "package", "md5", "sha256", "packageSize", "hasPackage", "silentArgs",
    "publisher",
    "mirrors",
}
_COMPOUND_FILE = b"\xd0\xcf\x11\xe0\xa1\xb1\x1a\xe1"
# Windows Installer switches and properties that name another package, product, patch or transform.
_HARMLESS_MSI_SWITCHES = {"passive", "promptrestart", "forcerestart"}


def silent_args_problem(args, msi):
    """Why a package's silent arguments cannot be used, or None."""
    if any(ord(c) < 0x20 or 0x7F <= ord(c) < 0xA0 for c in args):
        return "holds a control character"
    if not msi:
        return None
    for word in args.split():
        w = word.strip('"').lower()
        if w.startswith(("transforms=", "patch=")):
            return "names a transform or patch (%s)" % word
        option = w[1:] if w[:1] in ("/", "-") else None
        if not option or option in _HARMLESS_MSI_SWITCHES:
            continue
        if option.startswith(("package", "uninstall", "update")) or option[0] in "iaxpjf":
            return "names another package (%s)" % word
    return None


def _is_msi(path):
    with open(path, "rb") as f:
        return f.read(8) == _COMPOUND_FILE


class CatalogueError(Exception):
    """A catalogue folder that cannot be served; the text names the file and the problem."""


class Package:
    def __init__(self, app_id, path, rel):
        self.app_id = app_id
        self.path = path
        self.rel = rel
        self.name = os.path.basename(path)

    def url_path(self):
        return "%s%d/%s" % (FILE_PREFIX, self.app_id, urllib.parse.quote(self.name, safe=""))


class Digests:
    """A package file's size with its MD5 and SHA-256, in lower-case hexadecimal."""

    def __init__(self, size, md5, sha256):
        self.size = size
        self.md5 = md5
        self.sha256 = sha256


class UnsafeFile(OSError):
    """A name that no longer leads to a regular file inside its folder (a link swapped in, say)."""


def _open_path(fd, path, st):
    """The real path of the open file: what /proc says of it, or without /proc the real path of its name
    when that still names the open file; None when neither is known."""
    try:
        real = os.readlink("/proc/self/fd/%d" % fd)
        return real if os.path.isabs(real) else None
    except OSError:
        pass
    real = os.path.realpath(path)
    try:
        named = os.stat(real, follow_symlinks=False)
    except OSError:
        return None
    return real if (named.st_dev, named.st_ino) == (st.st_dev, st.st_ino) else None


def open_inside(root, path):
    """Opens path for reading: (binary file, its stat). The checks are made on the open file, so a name swapped
    for a link after any earlier check is refused all the same: it must be a regular file lying inside root
    (an absolute real path). Everything served or published is read or linked from the file returned."""
    # Not blocking, so a FIFO swapped in is refused instead of holding the caller.
    fd = os.open(path, os.O_RDONLY | getattr(os, "O_NONBLOCK", 0) | getattr(os, "O_CLOEXEC", 0))
    try:
        st = os.fstat(fd)
        if not stat.S_ISREG(st.st_mode):
            raise UnsafeFile("%s is not a regular file" % path)
        real = _open_path(fd, path, st)
        if real is None or os.path.commonpath([root, real]) != root:
            raise UnsafeFile("%s leads out of the folder %s" % (path, root))
        return os.fdopen(fd, "rb"), st
    except BaseException:
        os.close(fd)
        raise


class DigestCache:
    """File digests keyed by path, recomputed when the file (device, inode), its size or its times change: a
    write in place changes the change time even when the modification time is set back."""

    def __init__(self):
        self._lock = threading.Lock()
        self._entries = {}

    def digests(self, root, path):
        f, st = open_inside(root, path)
        with f:
            return self.of_open(path, f, st)

    def of_open(self, path, f, st):
        """The digests of the open file f (with its stat st) that was opened as path."""
        key = (st.st_dev, st.st_ino, st.st_size, st.st_mtime_ns, st.st_ctime_ns)
        with self._lock:
            hit = self._entries.get(path)
        if hit and hit[0] == key:
            return hit[1]
        # Both digests in one pass, so a large package is read once.
        md5, sha256 = hashlib.md5(), hashlib.sha256()
        f.seek(0)
        while True:
            block = f.read(1 << 20)
            if not block:
                break
            md5.update(block)
            sha256.update(block)
        value = Digests(st.st_size, md5.hexdigest(), sha256.hexdigest())
        with self._lock:
            self._entries[path] = (key, value)
        return value


def _is_int(v):
    return isinstance(v, int) and not isinstance(v, bool)


def unwritable(value, where):
    """Where the first text in a parsed JSON value lies that cannot be written as UTF-8 (a lone surrogate,
    or a file name that is not UTF-8), or None when every string and member name can be."""
    if isinstance(value, str):
        try:
            value.encode("utf-8")
        except UnicodeEncodeError:
            return where
    elif isinstance(value, list):
        for i, item in enumerate(value):
            found = unwritable(item, "%s[%d]" % (where, i))
            if found:
                return found
    elif isinstance(value, dict):
        for key, item in value.items():
            inner = "%s.%s" % (where, key) if where else key
            found = unwritable(key, "a member name in %s" % (where or "the top level")) or unwritable(item, inner)
            if found:
                return found
    return None


def _resolve_inside(root, rel, where, what):
    """Turns a folder-relative path into an absolute one that must stay inside root."""
    if not isinstance(rel, str) or not rel:
        raise CatalogueError("%s: %s must be a non-empty string" % (where, what))
    if "\\" in rel or "\0" in rel:
        raise CatalogueError("%s: %s %r must use '/' as separator" % (where, what, rel))
    if rel.startswith("/") or ".." in rel.split("/"):
        raise CatalogueError("%s: %s %r escapes the folder %s" % (where, what, rel, root))
    real_root = os.path.realpath(root)
    full = os.path.realpath(os.path.join(real_root, rel))
    if os.path.commonpath([real_root, full]) != real_root:
        raise CatalogueError("%s: %s %r escapes the folder %s" % (where, what, rel, root))
    try:
        open_inside(real_root, full)[0].close()
    except UnsafeFile as e:
        raise CatalogueError("%s: %s %r: %s" % (where, what, rel, e))
    except OSError:
        raise CatalogueError("%s: %s file %r does not exist in %s" % (where, what, rel, root))
    return full


class Catalogue:
    """A validated catalogue folder, ready to answer bootstrap, icon and package requests."""

    def __init__(self, folder, packages_dir=None):
        self.folder = folder
        self.packages_dir = packages_dir or folder
        self.icon_root = os.path.realpath(folder)
        self.package_root = os.path.realpath(self.packages_dir)
        self.digests = DigestCache()
        self.categories = []
        self.apps = []
        self.icons = {}      # decoded URL path below ICON_PREFIX -> absolute file path
        self.packages = {}   # app id -> Package
        self._load()

    def _load(self):
        path = os.path.join(self.folder, CATALOGUE_FILE)
        try:
            with open(path, "rb") as f:
                raw = f.read()
        except FileNotFoundError:
            raise CatalogueError("%s: file not found" % path)
        except OSError as e:
            raise CatalogueError("%s: cannot be read (%s)" % (path, e.strerror))
        try:
            doc = json.loads(raw.decode("utf-8-sig"))
            bad = unwritable(doc, "")
        except UnicodeDecodeError:
            raise CatalogueError("%s: not UTF-8 text" % path)
        except json.JSONDecodeError as e:
            raise CatalogueError("%s: invalid JSON at line %d column %d: %s" % (path, e.lineno, e.colno, e.msg))
        except (ValueError, RecursionError) as e:
            raise CatalogueError("%s: invalid JSON: %s" % (path, "nested too deeply" if isinstance(e, RecursionError)
                                                          else e))
        if bad:
            raise CatalogueError("%s: %s holds text that cannot be written as UTF-8 (a lone surrogate)" % (path, bad))
        if not isinstance(doc, dict):
            raise CatalogueError("%s: the top level must be an object" % path)
        for key in ("categories", "apps"):
            if not isinstance(doc.get(key), list):
                raise CatalogueError("%s: member %r must be an array" % (path, key))
        self._load_categories(path, doc["categories"])
        self._load_apps(path, doc["apps"])

    def _load_categories(self, path, items):
        seen = set()
        for i, c in enumerate(items):
            where = "%s: categories[%d]" % (path, i)
            if not isinstance(c, dict):
                raise CatalogueError("%s must be an object" % where)
            if not isinstance(c.get("id"), str) or not c["id"]:
                raise CatalogueError("%s: 'id' must be a non-empty string" % where)
            if not isinstance(c.get("name"), str):
                raise CatalogueError("%s: 'name' must be a string" % where)
            if c["id"] in seen:
                raise CatalogueError("%s: duplicate category id %r" % (where, c["id"]))
            seen.add(c["id"])
            self.categories.append({"id": c["id"], "name": c["name"]})

    def _load_apps(self, path, items):
        category_ids = {c["id"] for c in self.categories}
        seen = set()
        for i, a in enumerate(items):
            where = "%s: apps[%d]" % (path, i)
            if not isinstance(a, dict):
                raise CatalogueError("%s must be an object" % where)
            if not _is_int(a.get("id")):
                raise CatalogueError("%s: 'id' must be an integer" % where)
            if not MIN_APP_ID <= a["id"] <= MAX_APP_ID:
                raise CatalogueError("%s: 'id' must be an integer from %d to %d, not %d"
                                     % (where, MIN_APP_ID, MAX_APP_ID, a["id"]))
            where = "%s (id %d)" % (where, a["id"])
            if a["id"] in seen:
                raise CatalogueError("%s: duplicate app id %d" % (where, a["id"]))
            seen.add(a["id"])
            unknown = sorted(set(a) - _APP_KEYS)
            if unknown:
                raise CatalogueError("%s: unknown member %r" % (where, unknown[0]))
            self.apps.append(self._load_app(where, a, category_ids))

    def _load_app(self, where, a, category_ids):
        def check(key, ok, kind):
            if key in a and not ok(a[key]):
                raise CatalogueError("%s: %r must be %s" % (where, key, kind))

        check("name", lambda v: isinstance(v, str), "a string")
        if "name" not in a:
            raise CatalogueError("%s: 'name' is missing" % where)
        for key in ("version", "description", "categoryId"):
            check(key, lambda v: isinstance(v, str), "a string")
        check("categoryIds", lambda v: isinstance(v, list) and all(isinstance(x, str) for x in v),
              "an array of strings")
        for key in ("updatedAt", "downloads", "packageSize"):
            check(key, lambda v: _is_int(v) and v >= 0, "a non-negative integer")
        for key in ("md5", "sha256"):
            check(key, lambda v: isinstance(v, str), "a string")
        check("hasPackage", lambda v: isinstance(v, bool), "true or false")
        check("silentArgs", lambda v: isinstance(v, str), "a string")
        # The program compares the signer's name exactly: a stray blank would refuse every install.
        check("publisher", lambda v: isinstance(v, str) and v and v == v.strip() and v.isprintable(),
              "a signer's name without surrounding blanks or control characters")
        check("mirrors", lambda v: isinstance(v, list) and all(isinstance(x, str) for x in v), "an array of strings")
        for cid in a.get("categoryIds", []) + ([a["categoryId"]] if "categoryId" in a else []):
            if cid not in category_ids:
                raise CatalogueError("%s: category %r is not listed in 'categories'" % (where, cid))

        app = {k: a[k] for k in a if k not in ("icon", "package")}
        app["iconRel"] = None
        if "icon" in a:
            full = _resolve_inside(self.folder, a["icon"], where, "icon")
            app["iconRel"] = os.path.normpath(a["icon"])
            self.icons[app["iconRel"]] = full
        if "package" in a:
            full = _resolve_inside(self.packages_dir, a["package"], where, "package")
            if unwritable(os.path.basename(full), "package"):
                raise CatalogueError("%s: package file %r is named by a link to a file whose name is not UTF-8"
                                     % (where, a["package"]))
            self.packages[a["id"]] = Package(a["id"], full, a["package"])
            self.digests.digests(self.package_root, full)
        if "silentArgs" in a:
            problem = silent_args_problem(a["silentArgs"], "package" in a and _is_msi(full))
            if problem:
                raise CatalogueError("%s: 'silentArgs' %s" % (where, problem))
        return app

    def changed_at(self):
        """When the catalogue file was last written, seconds since 1970."""
        try:
            return os.path.getmtime(os.path.join(self.folder, CATALOGUE_FILE))
        except OSError:
            return time.time()

    def package(self, app_id):
        return self.packages.get(app_id)

    def icon_file(self, rel):
        return self.icons.get(os.path.normpath(rel)) if rel else None

    def bootstrap(self, digests=None, icon_urls=None):
        """The bootstrap answer; package sizes and digests follow the files as they are now. Publish gives the
        digests of the files it opened ({app id: Digests}) and the paths it puts the icons under ({icon: URL})."""
        apps = []
        for a in self.apps:
            found = Digests(0, "", "")
            pkg = self.packages.get(a["id"])
            icon = a["iconRel"]
            if icon is not None:
                icon = icon_urls[icon] if icon_urls is not None else ICON_PREFIX + urllib.parse.quote(icon)
            if pkg and digests is not None:
                found = digests[a["id"]]
            elif pkg:
                try:
                    found = self.digests.digests(self.package_root, pkg.path)
                except OSError:
                    pkg = None
            out = {
                "id": a["id"],
                "name": a["name"],
                "version": a.get("version", ""),
                "description": a.get("description", ""),
                "icon": icon or "",
                "categoryIds": a.get("categoryIds", []),
                "packageSize": a.get("packageSize", found.size),
                "md5": a.get("md5", found.md5),
                "sha256": a.get("sha256", found.sha256),
                "hasPackage": a.get("hasPackage", pkg is not None),
                "downloads": a.get("downloads", 0),
                "updatedAt": a.get("updatedAt", 0),
            }
            if "categoryId" in a:
                out["categoryId"] = a["categoryId"]
            if "silentArgs" in a:
                out["silentArgs"] = a["silentArgs"]
            if "publisher" in a:
                out["publisher"] = a["publisher"]
            if "mirrors" in a:
                out["mirrors"] = a["mirrors"]  # as listed; the program keeps the absolute http(s) ones
            apps.append(out)
        return {"code": 0, "data": {"categories": self.categories, "apps": apps}}

    def bootstrap_body(self, digests=None, icon_urls=None):
        """The bootstrap as the bytes sent to clients (and written by publish)."""
        return json.dumps(self.bootstrap(digests, icon_urls), ensure_ascii=False).encode("utf-8")
