"""Building answers: byte ranges, file names for Content-Disposition, status pages."""

import email.utils
import hashlib
import http
import os
import re
import urllib.parse

_RANGE_RE = re.compile(r"^\s*bytes\s*=\s*(\d*)\s*-\s*(\d*)\s*$", re.IGNORECASE)
UNSATISFIABLE = "unsatisfiable"
# Digits of a byte position beyond any file: more cannot change an answer, and may be more than int() converts.
_POSITION_DIGITS = 19
JSON_TYPE = "application/json; charset=utf-8"

CONTENT_TYPES = {
    ".png": "image/png", ".jpg": "image/jpeg", ".jpeg": "image/jpeg", ".ico": "image/x-icon",
    ".bmp": "image/bmp", ".gif": "image/gif", ".svg": "image/svg+xml", ".webp": "image/webp",
}


class Body:
    """A response body: bytes in memory or a region of an open file (closed once the answer is sent)."""

    def __init__(self, data=b"", file=None, offset=0, length=None):
        self.data = data
        self.file = file
        self.offset = offset
        self.length = len(data) if file is None else length

    def close(self):
        if self.file is not None:
            self.file.close()


class Answer:
    def __init__(self, status, headers=None, body=None):
        self.status = status
        self.headers = list(headers or [])
        self.body = body or Body()

    def set_header(self, name, value):
        self.headers = [(n, v) for n, v in self.headers if n.lower() != name.lower()]
        if value is not None:
            self.headers.append((name, value))


def reason(status):
    try:
        return http.HTTPStatus(status).phrase
    except ValueError:
        return "Status"


def _position(digits):
    """A byte position from its decimal digits; one past any file when they are too many."""
    digits = digits.lstrip("0") or "0"
    return int(digits) if len(digits) <= _POSITION_DIGITS else 10 ** _POSITION_DIGITS


def parse_range(value, total):
    """(first, last) inclusive for one satisfiable range, UNSATISFIABLE, or None to send it all.

    Malformed and multi-range headers are ignored, as HTTP allows; the whole file is sent."""
    if value is None:
        return None
    m = _RANGE_RE.match(value)
    if not m or (m.group(1) == "" and m.group(2) == ""):
        return None
    first, last = m.group(1), m.group(2)
    if first == "":
        suffix = _position(last)
        if suffix == 0 or total == 0:
            return UNSATISFIABLE
        return max(0, total - suffix), total - 1
    first = _position(first)
    if last != "" and _position(last) < first:
        return None
    if first >= total:
        return UNSATISFIABLE
    last = total - 1 if last == "" else _position(last)
    return first, min(last, total - 1)


def ascii_fallback_name(name):
    """An ASCII stand-in for a file name, for clients that ignore filename*."""
    stem, ext = os.path.splitext(name)
    if not ext.isascii():
        stem, ext = name, ""
    stem = re.sub(r"[^\x20-\x7e]+", "_", stem).replace('"', "_").replace("\\", "_")
    if not stem.strip("_ "):
        stem = "package"
    return stem + ext


def content_disposition(name):
    # filename* last: a reader that takes filename* to the end of the header still gets a clean name.
    encoded = urllib.parse.quote(name, safe="!#$&+-.^_`|~")
    return "attachment; filename=\"%s\"; filename*=UTF-8''%s" % (ascii_fallback_name(name), encoded)


def content_type_for(path):
    return CONTENT_TYPES.get(os.path.splitext(path)[1].lower(), "application/octet-stream")


def text_answer(status, text, content_type="text/plain; charset=utf-8"):
    return Answer(status, [("Content-Type", content_type)], Body(text.encode("utf-8")))


def status_page(status):
    phrase = reason(status)
    html = ("<!DOCTYPE html>\n<html><head><title>%d %s</title></head>"
            "<body><h1>%d %s</h1></body></html>\n" % (status, phrase, status, phrase))
    return text_answer(status, html, "text/html; charset=utf-8")


def file_answer(file, total, name, range_header, ignore_range=False, range_start=None):
    """The answer for a package file (open, of total bytes), honouring one byte range; the file is the
    answer's to close."""
    rng = None if ignore_range else parse_range(range_header, total)
    if rng == UNSATISFIABLE:
        file.close()
        answer = text_answer(416, "Range Not Satisfiable\n")
        answer.set_header("Content-Range", "bytes */%d" % total)
        return answer
    headers = [
        ("Content-Type", "application/octet-stream"),
        ("Accept-Ranges", "bytes"),
        ("Content-Disposition", content_disposition(name)),
    ]
    if rng is None:
        return Answer(200, headers, Body(file=file, offset=0, length=total))
    first, last = rng
    if range_start is not None:
        # A misbehaving server: a consistent 206 for a different place than asked.
        first, last = min(range_start, total - 1), min(range_start + (last - first), total - 1)
    headers.append(("Content-Range", "bytes %d-%d/%d" % (first, last, total)))
    return Answer(206, headers, Body(file=file, offset=first, length=last - first + 1))


def entity_tag(data):
    """A strong validator for a body: the same bytes give the same tag."""
    return '"%s"' % hashlib.sha256(data).hexdigest()[:32]


def not_modified(if_none_match, if_modified_since, etag, last_modified):
    """Whether a GET with these conditions gets 304: If-None-Match decides when present (a listed tag
    or "*"); otherwise If-Modified-Since when the body did not change after that date."""
    if if_none_match is not None:
        tags = [t.strip() for t in if_none_match.split(",")]
        return "*" in tags or etag in tags or ("W/" + etag) in tags
    if if_modified_since is None:
        return False
    try:
        since = email.utils.parsedate_to_datetime(if_modified_since)
    except (TypeError, ValueError, IndexError):
        return False
    if since is None or since.tzinfo is None:
        return False
    return int(last_modified) <= since.timestamp()
