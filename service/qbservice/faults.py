"""Scripted faults: how one request is answered differently from normal."""

import base64

from .responses import Answer, Body, reason, status_page, text_answer

_PATTERN = (b"abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789-\n" * 1024)

# name -> (check, description); every field is optional.
_FIELDS = {
    "repeat": (lambda v: _int(v) and (v >= 1 or v == -1), "a positive integer or -1 (forever)"),
    "delayMs": (lambda v: _int(v) and v >= 0, "a non-negative integer"),
    "status": (lambda v: _int(v) and 100 <= v <= 599, "an HTTP status from 100 to 599"),
    "body": (lambda v: isinstance(v, str), "a string"),
    "bodyBase64": (lambda v: isinstance(v, str), "a base64 string"),
    "bodySize": (lambda v: _int(v) and v >= 0, "a non-negative integer"),
    "contentType": (lambda v: isinstance(v, str), "a string"),
    "html": (lambda v: isinstance(v, bool), "true or false"),
    "redirect": (lambda v: isinstance(v, str), "a string"),
    "headers": (lambda v: isinstance(v, dict) and all(
        isinstance(k, str) and (x is None or isinstance(x, str)) for k, x in v.items()),
        "an object of header names to strings or null"),
    "dropAfter": (lambda v: _int(v) and v >= 0, "a non-negative integer"),
    "resetAfter": (lambda v: _int(v) and v >= 0, "a non-negative integer"),
    "stallAfter": (lambda v: _int(v) and v >= 0, "a non-negative integer"),
    "stallMs": (lambda v: _int(v) and v >= 0, "a non-negative integer"),
    "bytesPerSecond": (lambda v: _int(v) and v >= 1, "a positive integer"),
    "contentLength": (lambda v: _int(v) and v >= 0, "a non-negative integer"),
    "ignoreRange": (lambda v: isinstance(v, bool), "true or false"),
    "rangeStart": (lambda v: _int(v) and v >= 0, "a non-negative integer"),
}


def _int(v):
    return isinstance(v, int) and not isinstance(v, bool)


def pattern_bytes(n):
    """n bytes of printable filler, the same for every call."""
    if n <= len(_PATTERN):
        return _PATTERN[:n]
    whole, rest = divmod(n, len(_PATTERN))
    return _PATTERN * whole + _PATTERN[:rest]


class FaultError(ValueError):
    pass


class Fault:
    """One scripted answer; `repeat` says for how many requests it holds."""

    def __init__(self, script):
        if not isinstance(script, dict):
            raise FaultError("a fault must be an object")
        for key, value in script.items():
            if key not in _FIELDS:
                raise FaultError("unknown fault member %r" % key)
            check, kind = _FIELDS[key]
            if not check(value):
                raise FaultError("fault member %r must be %s" % (key, kind))
        if "bodyBase64" in script:
            try:
                base64.b64decode(script["bodyBase64"], validate=True)
            except ValueError:
                raise FaultError("fault member 'bodyBase64' is not valid base64")
        self.script = dict(script)
        self.remaining = script.get("repeat", 1)

    def get(self, key, default=None):
        return self.script.get(key, default)

    def replaces_answer(self):
        return any(k in self.script for k in ("status", "body", "bodyBase64", "bodySize", "html", "redirect"))

    def _body(self):
        if "body" in self.script:
            return self.script["body"].encode("utf-8")
        if "bodyBase64" in self.script:
            return base64.b64decode(self.script["bodyBase64"])
        if "bodySize" in self.script:
            return pattern_bytes(self.script["bodySize"])
        return None

    def replacement(self):
        """The answer that takes the place of the normal one."""
        if self.script.get("html"):
            answer = status_page(self.script.get("status", 200))
            answer.status = self.script.get("status", 200)
            return answer
        if "redirect" in self.script:
            answer = text_answer(self.script.get("status", 302), "redirect\n")
            answer.set_header("Location", self.script["redirect"])
            return answer
        status = self.script.get("status", 200)
        body = self._body()
        if body is None:
            body = ("%d %s\n" % (status, reason(status))).encode("utf-8")
        ctype = self.script.get("contentType", "text/plain; charset=utf-8")
        return Answer(status, [("Content-Type", ctype)], Body(body))

    def shape(self, answer):
        """Applies the replacement and header overrides to a normal answer."""
        if self.replaces_answer():
            answer = self.replacement()
        elif "contentType" in self.script:
            answer.set_header("Content-Type", self.script["contentType"])
        for name, value in self.script.get("headers", {}).items():
            answer.set_header(name, value)
        return answer
