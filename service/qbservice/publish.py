"""quillbox-service publish: a catalogue folder as a static site (bootstrap, icons, packages) with an nginx
configuration for it. Each icon and package is published under a path naming its content, so a new or changed
file never takes the place of one a client may be fetching; the bootstrap switches to them last, and what only
an older bootstrap names goes once no client can hold that bootstrap any more."""

import argparse
import contextlib
import fcntl
import hashlib
import json
import os
import re
import shutil
import stat
import subprocess
import sys
import time
import urllib.parse

from .catalogue import Catalogue, CatalogueError, open_inside
from .nginx_conf import BOOTSTRAP_LIFETIME, nginx_conf
from .server import BOOTSTRAP_PATH, parse_app_id

BOOTSTRAP_FILE = BOOTSTRAP_PATH.lstrip("/")
CONF_FILE = "nginx.conf"
STATE_DIR = "nginx"          # nginx's pid, logs and temporary files, and publish's own; never served
LOCK_FILE = "publish.lock"    # in STATE_DIR: held by the publish writing the site
STATE_FILE = "published.json"  # in STATE_DIR: the files and routes of the recent bootstraps
MANAGED = ("media", "files")  # what publish owns below these and no recent bootstrap names goes
TAG_LENGTH = 16               # hex digits of a file's SHA-256 in its site path
# Printable ASCII without what nginx would read as syntax; matched whole, so no line feed slips through.
_BASE_URL = re.compile(r"https?://(?:(?![\"'$\\{};])[\x21-\x7e])+")
_ADDRESS = re.compile(r"[\w.:\[\]-]+", re.ASCII)


class Release:
    """What one publish puts on the site. Each icon and package is opened once and checked, hashed from the open
    file and, unless the site holds it already, linked or copied from that open file to a scratch name; then it is
    closed, so one file at a time is open however many the catalogue has. What is placed and what the bootstrap
    says of it are the same bytes. Icons go to media/<tag>/<path>, packages to files/<id>/<tag>/<file name>, the
    tag taken from the file's SHA-256 (see site_path). known: the site paths the site holds or a recent bootstrap
    names."""

    def __init__(self, catalogue, out, scratch, known):
        self.files = {}      # site path -> scratch name holding its file, or None when the site holds it already
        self.digests = {}    # app id -> Digests of its package
        self.icon_urls = {}  # icon path in the catalogue -> URL path on the site
        self.packages = {}   # app id -> site path of its package
        self._known = set(known)
        self._folded = {}    # case-folded site path -> the known paths that fold to it
        for known_path in self._known:
            self._folded.setdefault(known_path.casefold(), set()).add(known_path)
        for rel, full in sorted(catalogue.icons.items()):
            _, site = self._stage(catalogue, catalogue.icon_root, full, out, scratch,
                                  lambda tag: "media/%s/%s" % (tag, rel))
            self.icon_urls[rel] = "/" + urllib.parse.quote(site)
        for app_id, pkg in sorted(catalogue.packages.items()):
            self.digests[app_id], self.packages[app_id] = self._stage(
                catalogue, catalogue.package_root, pkg.path, out, scratch,
                lambda tag: "files/%d/%s/%s" % (app_id, tag, pkg.name))

    def site_path(self, digests, tagged):
        """Where a file of these digests goes, tagged(tag) being its path with a tag: the tag is the first digits of
        the file's SHA-256, unless that path differs only in letter case from one known or placed (nginx's maps,
        and some file systems and storage, would take them for one). The tag is then taken from the SHA-256 and
        the path, and kept while a recent bootstrap names the path, so the file's URL stays."""
        plain = tagged(digests.sha256[:TAG_LENGTH])
        named = tagged(hashlib.sha256((digests.sha256 + "/" + plain).encode("utf-8")).hexdigest()[:TAG_LENGTH])
        twins = self._folded.get(plain.casefold(), set()) - {plain}
        site = named if named in self._known or twins else plain
        self._known.add(site)
        self._folded.setdefault(site.casefold(), set()).add(site)
        return site

    def _stage(self, catalogue, root, path, out, scratch, tagged):
        """Opens, checks and hashes one file, and stages it for its site path: (digests, site path)."""
        try:
            f, st = open_inside(root, path)
        except OSError as e:
            raise CatalogueError("%s: %s" % (path, e.strerror or e))
        with f:
            digests = catalogue.digests.of_open(path, f, st)
            site = self.site_path(digests, tagged)
            self.files[site] = stage_file(f, st, os.path.join(out, site), scratch)
        return digests, site

    def generation(self):
        """The record of what the bootstrap of this release names: its files and the download routes."""
        return {"files": sorted(self.files), "downloads": {str(i): p for i, p in sorted(self.packages.items())},
                "replaced": None}


def _valid_generation(g):
    def site_path(p):
        return isinstance(p, str) and p.split("/")[0] in MANAGED and ".." not in p.split("/")
    return (isinstance(g, dict) and isinstance(g.get("files"), list) and all(site_path(p) for p in g["files"])
            and isinstance(g.get("downloads"), dict)
            and all(parse_app_id(i) is not None and site_path(p) for i, p in g["downloads"].items())
            and (g.get("replaced") is None or isinstance(g["replaced"], (int, float))))


def read_generations(path):
    """The generations earlier publishes recorded, oldest first; none when the record is missing or unreadable
    (the files on the site are then kept as if their bootstrap had just been replaced)."""
    try:
        with open(path, encoding="utf-8") as f:
            generations = json.load(f)["generations"]
    except (OSError, ValueError, TypeError, KeyError):
        return []
    return generations if isinstance(generations, list) and all(map(_valid_generation, generations)) else []


def next_generations(generations, new, present, now):
    """The generations a publish at `now` records (oldest first, new last) and the site files it removes.

    The generation of the live bootstrap is replaced now, unless new names the same files and routes; files on
    the site that no generation names are kept as if replaced now. A generation replaced BOOTSTRAP_LIFETIME
    seconds ago or more is dropped, since no client can still hold its bootstrap, and its files go unless a kept
    generation names them."""
    older = [dict(g) for g in generations]
    if older and older[-1]["replaced"] is None:
        live = older.pop()
        if (live["files"], live["downloads"]) != (new["files"], new["downloads"]):
            older.append(dict(live, replaced=now))
    named = {p for g in generations for p in g["files"]} | set(new["files"])
    stray = sorted(set(present) - named)
    if stray:
        older.append({"files": stray, "downloads": {}, "replaced": now})
    kept = [g for g in older if g["replaced"] is not None and now - g["replaced"] < BOOTSTRAP_LIFETIME] + [new]
    named = {p for g in kept for p in g["files"]}
    return kept, sorted(set(present) - named)


def live_routes(kept):
    """What the configuration serves for the kept generations: {app id: site path of the package its download
    leads to} (from the newest generation naming the app) and the site paths of every package file."""
    downloads = {}
    for g in kept:
        downloads.update((int(i), p) for i, p in g["downloads"].items())
    return downloads, sorted({p for g in kept for p in g["files"] if p.startswith("files/")})


def url_of(site_path):
    return "/" + "/".join(urllib.parse.quote(part, safe="") for part in site_path.split("/"))


def managed_files(out):
    """The site paths of the files below the managed folders. A link found there (publish never places one)
    is removed at once, so nginx cannot follow it."""
    found = []
    for top in MANAGED:
        for folder, dirs, names in os.walk(os.path.join(out, top)):
            for name in dirs + names:
                path = os.path.join(folder, name)
                if os.path.islink(path):
                    os.remove(path)
                elif name in names:
                    found.append(os.path.relpath(path, out).replace(os.sep, "/"))
    return found


def remove_empty_folders(out):
    for top in MANAGED:
        base = os.path.join(out, top)
        for folder, _, _ in os.walk(base, topdown=False):
            if folder != base and not os.listdir(folder):
                os.rmdir(folder)


class Scratch:
    """Files being written, under short names in a folder of the site's state folder (on the site's file system),
    so no name a catalogue may use is taken and a long file name still fits. Emptied at the start of a publish."""

    def __init__(self, out):
        self.folder = os.path.join(out, STATE_DIR, "publishing")
        shutil.rmtree(self.folder, ignore_errors=True)
        os.makedirs(self.folder)
        self._count = 0

    def name(self):
        self._count += 1
        return os.path.join(self.folder, str(self._count))

    def close(self):
        """Removes what is left, such as the files staged by a publish that failed."""
        shutil.rmtree(self.folder, ignore_errors=True)


def _read(path):
    try:
        with open(path, "rb") as f:
            return f.read()
    except FileNotFoundError:
        return None


def _discard(path):
    try:
        os.remove(path)
    except FileNotFoundError:
        pass


def _current(f, st, dst):
    """Whether dst already holds the open file f (stat st): the same file (a hard link), or a regular file of the
    same bytes. A rebuilt package of the same size and time is not current; a link placed at dst never is."""
    try:
        fd = os.open(dst, os.O_RDONLY | os.O_NOFOLLOW | os.O_NONBLOCK)
    except OSError:
        return False
    with open(fd, "rb") as placed:
        b = os.fstat(fd)
        if not stat.S_ISREG(b.st_mode) or b.st_size != st.st_size:
            return False
        if (st.st_dev, st.st_ino) == (b.st_dev, b.st_ino):
            return True
        f.seek(0)
        while True:
            block = f.read(1 << 20)
            if block != placed.read(1 << 20):
                return False
            if not block:
                return True


def _link_open(f, st, temp):
    """Hard-links the very file f is open on at temp (never a link that may have taken its name); False when the
    file system or the system cannot, and a copy must do."""
    folder = os.open(os.path.dirname(temp), os.O_RDONLY)
    try:
        # linkat following /proc's link to the open file: the file itself, whatever its name leads to now.
        os.link("/proc/self/fd/%d" % f.fileno(), os.path.basename(temp), dst_dir_fd=folder, follow_symlinks=True)
    except OSError:
        return False
    finally:
        os.close(folder)
    linked = os.stat(temp, follow_symlinks=False)
    if stat.S_ISREG(linked.st_mode) and (linked.st_dev, linked.st_ino) == (st.st_dev, st.st_ino):
        return True
    os.remove(temp)
    return False


def stage_file(f, st, dst, scratch):
    """The scratch name of the open file f (stat st), staged to be renamed to dst: a hard link to it, or a copy of
    it on another file system. None when dst already holds it."""
    if _current(f, st, dst):
        return None
    temp = scratch.name()
    if not _link_open(f, st, temp):
        with open(os.open(temp, os.O_WRONLY | os.O_CREAT | os.O_EXCL, 0o644), "wb") as copy:
            f.seek(0)
            shutil.copyfileobj(f, copy, 1 << 20)
        os.utime(temp, ns=(st.st_atime_ns, st.st_mtime_ns))  # nginx's Last-Modified stays the package's
    return temp


def swap_bytes(path, data, scratch):
    """Writes data to path through a scratch name (readers see the old or the new file, never half of one);
    False when path already holds exactly data."""
    current = _read(path)
    if current == data:
        return False
    old = os.stat(path) if current is not None else None
    os.makedirs(os.path.dirname(path) or ".", exist_ok=True)
    temp = scratch.name()
    with open(os.open(temp, os.O_WRONLY | os.O_CREAT | os.O_EXCL, 0o644), "wb") as f:
        f.write(data)
        f.flush()
        os.fsync(f.fileno())
    if old is not None:
        # nginx's ETag is the modification second and the size: a new body of the old size written in the
        # same second would keep the old tag, and clients holding it would be told nothing changed.
        new = os.stat(temp)
        if new.st_size == old.st_size and int(new.st_mtime) <= int(old.st_mtime):
            os.utime(temp, (int(old.st_mtime) + 1, int(old.st_mtime) + 1))
    os.replace(temp, path)
    return True


class ReloadFailed(Exception):
    pass


class Refused(Exception):
    """A site folder publish will not write to; nothing was written."""


class Busy(Exception):
    """Another publish holds the site."""


@contextlib.contextmanager
def site_lock(out):
    """Holds the site's lock for one publish; Busy at once when another publish holds it."""
    folder = os.path.join(out, STATE_DIR)
    os.makedirs(folder, exist_ok=True)
    fd = os.open(os.path.join(folder, LOCK_FILE), os.O_RDWR | os.O_CREAT, 0o644)
    try:
        try:
            fcntl.flock(fd, fcntl.LOCK_EX | fcntl.LOCK_NB)
        except BlockingIOError:
            raise Busy("another publish is writing %s; publish again once it has ended" % out)
        yield
    finally:
        os.close(fd)


def overlapping(a, b):
    """Whether two folders (absolute real paths) are one, or one lies inside the other."""
    return os.path.commonpath([a, b]) in (a, b)


def check_site(catalogue, out):
    """Refuses a site folder that shares files with the catalogue's folders (the sweep of the site would delete
    the catalogue's files, or publish its own output) or whose path nginx's configuration cannot hold."""
    try:
        out.encode("utf-8")
    except UnicodeEncodeError:
        raise Refused("the site folder %r is not a UTF-8 path" % out)
    site = os.path.realpath(out)
    for name, folder in (("catalogue", catalogue.folder), ("packages", catalogue.packages_dir)):
        if overlapping(site, os.path.realpath(folder)):
            raise Refused("the site folder %s and the %s folder %s overlap: give a folder of its own to --out"
                          % (out, name, folder))


def publish(catalogue, out, listen, collector, base_url="", reload_command=None, say=print, now=None):
    """Brings the site at out up to date with catalogue: new files first, then the configuration (and the reload,
    when it changed), then the bootstrap, then the removal of files only bootstraps replaced at least
    BOOTSTRAP_LIFETIME seconds before `now` named. Returns the site paths written and removed."""
    out = os.path.abspath(out)
    check_site(catalogue, out)
    with site_lock(out):
        scratch = Scratch(out)
        try:
            present = managed_files(out)
            generations = read_generations(os.path.join(out, STATE_DIR, STATE_FILE))
            release = Release(catalogue, out, scratch, {p for g in generations for p in g["files"]} | set(present))
            return _publish(catalogue, out, listen, collector, base_url, reload_command, say, release, scratch,
                            present, generations, now)
        finally:
            scratch.close()


def _publish(catalogue, out, listen, collector, base_url, reload_command, say, release, scratch, present,
             generations, now):
    written = []
    for rel, staged in sorted(release.files.items()):
        if staged:
            os.makedirs(os.path.dirname(os.path.join(out, rel)), exist_ok=True)
            os.replace(staged, os.path.join(out, rel))
            written.append(rel)
            say("wrote %s" % rel)
    state_path = os.path.join(out, STATE_DIR, STATE_FILE)
    kept, gone = next_generations(generations, release.generation(), present,
                                  time.time() if now is None else now)
    downloads, packages = live_routes(kept)
    conf = nginx_conf(out, os.path.join(out, STATE_DIR), listen, collector,
                      {i: base_url + url_of(p) for i, p in downloads.items()}, packages)
    conf_path = os.path.join(out, CONF_FILE)
    old_conf = _read(conf_path)
    if swap_bytes(conf_path, conf.encode("utf-8"), scratch):
        written.append(CONF_FILE)
        say("wrote %s" % CONF_FILE)
        if not reload_command and old_conf is not None:
            sys.stderr.write("quillbox-service: warning: %s changed without --reload; nginx serves the new routes only "
                             "once it is reloaded\n" % conf_path)
        if reload_command and old_conf is None:
            # There was no configuration for nginx to run with, so none to reload (and reloading an nginx that is
            # not running fails).
            print("not reloading nginx: %s is new; start nginx with it" % conf_path)
        elif reload_command:
            # The new routes must be live before a client can read a bootstrap that names them.
            done = subprocess.run(reload_command, shell=True)
            if done.returncode != 0:
                # The old configuration goes back, so the next publish sees the change and reloads again, and
                # the files placed for the new bootstrap go: the site is as it was.
                swap_bytes(conf_path, old_conf, scratch)
                for rel in set(written) - set(present) - {CONF_FILE}:
                    _discard(os.path.join(out, rel))
                remove_empty_folders(out)
                raise ReloadFailed("%r exited with %d; the site was left as it was"
                                   % (reload_command, done.returncode))
    if swap_bytes(os.path.join(out, BOOTSTRAP_FILE), catalogue.bootstrap_body(release.digests, release.icon_urls),
                  scratch):
        written.append(BOOTSTRAP_FILE)
        say("wrote %s" % BOOTSTRAP_FILE)
    swap_bytes(state_path, json.dumps({"generations": kept}, ensure_ascii=False).encode("utf-8"), scratch)
    for rel in gone:
        _discard(os.path.join(out, rel))
        say("removed %s" % rel)
    remove_empty_folders(out)
    return written, gone


def parse_args(argv):
    ap = argparse.ArgumentParser(prog="quillbox-service publish",
                                 description="Write a catalogue folder as a static site with its nginx configuration.")
    ap.add_argument("--catalogue", required=True, metavar="DIR", help="folder holding catalogue.json")
    ap.add_argument("--packages", metavar="DIR", help="resolve package paths here instead of the catalogue folder")
    ap.add_argument("--out", required=True, metavar="SITE", help="the site folder (made when missing)")
    ap.add_argument("--base-url", default="", metavar="URL",
                    help="where the files/ tree is served from (a CDN), when not from nginx itself")
    ap.add_argument("--listen", default="127.0.0.1:8080", metavar="ADDR:PORT", help="nginx's listen address")
    ap.add_argument("--collector", default="127.0.0.1:8081", metavar="HOST:PORT",
                    help="where `quillbox-service collect` takes the install reports")
    ap.add_argument("--reload", metavar="COMMAND",
                    help="shell command run when nginx.conf changed, before the new bootstrap is put in place")
    ap.add_argument("--quiet", action="store_true", help="no line per file written or removed")
    return ap.parse_args(argv)


def main(argv):
    args = parse_args(argv)
    if args.base_url and not _BASE_URL.fullmatch(args.base_url):
        sys.stderr.write("quillbox-service: --base-url must be an http:// or https:// URL without quotes, "
                         "blanks, '$', '\\', braces or ';': %r\n" % args.base_url)
        return 2
    for name in ("listen", "collector"):
        if not _ADDRESS.fullmatch(getattr(args, name)):
            sys.stderr.write("quillbox-service: --%s must be ADDR:PORT or PORT: %r\n" % (name, getattr(args, name)))
            return 2
    try:
        catalogue = Catalogue(args.catalogue, args.packages)
    except CatalogueError as e:
        sys.stderr.write("quillbox-service: %s\n" % e)
        return 2
    say = (lambda _: None) if args.quiet else print
    try:
        written, removed = publish(catalogue, args.out, args.listen, args.collector, args.base_url.rstrip("/"),
                                   args.reload, say)
    except (Refused, CatalogueError) as e:
        sys.stderr.write("quillbox-service: %s\n" % e)
        return 2
    except ReloadFailed as e:
        sys.stderr.write("quillbox-service: reload failed: %s\n" % e)
        return 1
    except Busy as e:
        sys.stderr.write("quillbox-service: %s\n" % e)
        return 1
    except OSError as e:
        sys.stderr.write("quillbox-service: cannot write %s: %s\n" % (e.filename or args.out, e.strerror))
        return 1
    print("published %d apps to %s: %d written, %d removed" % (len(catalogue.apps), os.path.abspath(args.out),
                                                                len(written), len(removed)))
    return 0

