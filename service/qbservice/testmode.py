"""Test mode: scripted faults, the request log, and routes for HTTP client tests."""

import collections
import json
import threading
import time

from .faults import Fault, FaultError
from .responses import Answer, Body, status_page, text_answer

LOG_LIMIT = 100000


def json_answer(status, value):
    body = json.dumps(value, ensure_ascii=False).encode("utf-8")
    return Answer(status, [("Content-Type", "application/json; charset=utf-8")], Body(body))


def ok(**members):
    return json_answer(200, dict(code=0, **members))


def bad(message):
    return json_answer(400, {"code": 1, "message": message})


class TestState:
    """Everything a test can script or read back; guarded by one lock."""

    def __init__(self, enabled):
        self.enabled = enabled
        self.lock = threading.Lock()
        self.in_flight = 0
        self._reset_locked()

    def _reset_locked(self):
        self.faults = {}            # ("path", "/x") or ("app", 7) -> deque of Fault
        self.expiring = {}          # app id -> uses each redirect target allows
        self.tickets = {}           # ticket -> uses left
        self.next_ticket = 1
        self._clear_log_locked()
        # Waking the old event ends stalls in progress; their connections are dropped.
        old = getattr(self, "wake", None)
        self.wake = threading.Event()
        if old:
            old.set()

    def _clear_log_locked(self):
        self.log = []
        self.seq = 0
        self.max_in_flight = self.in_flight

    def reset(self):
        with self.lock:
            self._reset_locked()

    def add_faults(self, key, scripts):
        faults = [Fault(s) for s in scripts]
        with self.lock:
            self.faults.setdefault(key, collections.deque()).extend(faults)
        return len(faults)

    def _queue_locked(self, path, app_id):
        """The first non-empty fault queue for this request, the most specific target first; None if none."""
        keys = [("app", app_id), ("app", "*")] if app_id is not None else []
        keys.append(("path", path))
        keys += sorted((k for k in self.faults if k[0] == "prefix" and path.startswith(k[1])),
                       key=lambda k: -len(k[1]))
        return next((self.faults[k] for k in keys if self.faults.get(k)), None)

    def has_fault(self, path, app_id=None):
        if not self.enabled:
            return False
        with self.lock:
            return self._queue_locked(path, app_id) is not None

    def take_fault(self, path, app_id=None):
        """The next scripted fault for this request, consumed in order."""
        if not self.enabled:
            return None
        with self.lock:
            queue = self._queue_locked(path, app_id)
            if queue:
                fault = queue[0]
                if fault.remaining > 0:
                    fault.remaining -= 1
                    if fault.remaining == 0:
                        queue.popleft()
                return fault
        return None

    def new_ticket(self, app_id):
        with self.lock:
            uses = self.expiring.get(app_id)
            if uses is None:
                return None
            ticket = str(self.next_ticket)
            self.next_ticket += 1
            self.tickets[ticket] = uses
            return ticket

    def use_ticket(self, app_id, ticket):
        """True when the file may be served: the app has no expiring targets, or the ticket has uses left."""
        with self.lock:
            if app_id not in self.expiring:
                return True
            left = self.tickets.get(ticket or "", 0)
            if left <= 0:
                return False
            self.tickets[ticket] = left - 1
            return True

    def begin(self, entry, counted):
        with self.lock:
            if counted:
                self.in_flight += 1
                self.max_in_flight = max(self.max_in_flight, self.in_flight)
            if self.enabled and len(self.log) < LOG_LIMIT:
                entry["seq"] = self.seq
                self.seq += 1
                self.log.append(entry)

    def end(self, counted):
        with self.lock:
            if counted:
                self.in_flight -= 1


def control(state, reports, req):
    """The control API under /test/; None when the path is not a control route."""
    route = (req.method, req.path)
    if route == ("POST", "/test/reset"):
        state.reset()
        reports.clear()
        return ok()
    if route == ("POST", "/test/faults"):
        return _post_faults(state, req)
    if route == ("GET", "/test/faults"):
        with state.lock:
            queues = [{"target": {k[0]: k[1]}, "faults": [dict(f.script, remaining=f.remaining) for f in q]}
                      for k, q in state.faults.items() if q]
        return ok(queues=queues)
    if route == ("POST", "/test/expire"):
        return _post_expire(state, req)
    if route == ("GET", "/test/log"):
        since = _int_param(req.query, "since", 0)
        with state.lock:
            entries = [dict(e) for e in state.log[since:]]
            return ok(requests=entries, inFlight=state.in_flight, maxInFlight=state.max_in_flight)
    if route == ("POST", "/test/log/reset"):
        with state.lock:
            state._clear_log_locked()
        return ok()
    if route == ("GET", "/test/reports"):
        return ok(reports=reports.snapshot())
    return None


def _json_body(req):
    try:
        value = json.loads(req.body.decode("utf-8"))
    except (ValueError, RecursionError):
        return None
    return value if isinstance(value, dict) else None


def _target_key(doc):
    """("path", p), ("prefix", p) for a path ending in "*", or ("app", id or "*")."""
    path, app = doc.get("path"), doc.get("app")
    if isinstance(path, str) and path.startswith("/") and "app" not in doc:
        return ("prefix", path[:-1]) if path.endswith("*") else ("path", path)
    if ((isinstance(app, int) and not isinstance(app, bool)) or app == "*") and "path" not in doc:
        return ("app", app)
    return None


def _post_faults(state, req):
    doc = _json_body(req)
    if doc is None:
        return bad("body must be a JSON object")
    key = _target_key(doc)
    if key is None:
        return bad("give exactly one target: \"path\" (starting with /) or \"app\" (an integer)")
    scripts = doc.get("faults")
    if not isinstance(scripts, list) or not scripts:
        return bad("\"faults\" must be a non-empty array")
    try:
        return ok(queued=state.add_faults(key, scripts))
    except FaultError as e:
        return bad(str(e))


def _post_expire(state, req):
    doc = _json_body(req)
    if doc is None or not isinstance(doc.get("app"), int) or isinstance(doc.get("app"), bool):
        return bad("body must be {\"app\": id, \"uses\": n}")
    uses = doc.get("uses", 1)
    if not isinstance(uses, int) or isinstance(uses, bool) or uses < 0:
        return bad("\"uses\" must be a non-negative integer")
    with state.lock:
        state.expiring[doc["app"]] = uses
    return ok()


def _int_param(query, name, default):
    try:
        return int(query.get(name, [default])[0])
    except ValueError:
        return default


def generic(req, origin):
    """Routes for HTTP client tests: (answer, fault shaping the body) or None when not one of them."""
    parts = req.path.split("/")  # "", "test", name, ...
    name = parts[2] if len(parts) > 2 else ""
    if name == "echo":
        return _echo(req), None
    if name == "redirect" and len(parts) == 4 and parts[3].isdigit():
        return _redirect_chain(req, origin, int(parts[3])), None
    if name == "self" and len(parts) == 3:
        location = _location(req.raw_path, req.query, origin)
        return _redirect(302, location), None
    if name == "bytes" and len(parts) == 4 and parts[3].isdigit():
        fault = Fault({"bodySize": int(parts[3]), "contentType": "application/octet-stream"})
        return fault.replacement(), fault
    if name == "status" and len(parts) == 4 and parts[3].isdigit() and 100 <= int(parts[3]) <= 599:
        status = int(parts[3])
        if req.query.get("body", ["1"])[0] == "0":
            return Answer(status, [("Content-Type", "text/html; charset=utf-8")]), None
        return status_page(status), None
    if name == "respond" and len(parts) == 3:
        return _respond(req)
    return None


def _echo(req):
    if "redirect" in req.query:
        return _redirect(_int_param(req.query, "status", 302), req.query["redirect"][0])
    return json_answer(200, {
        "method": req.method,
        "path": req.path,
        "query": req.raw_query,
        "headers": {k: v for k, v in req.headers.items()},
        "body": req.body.decode("utf-8", "replace"),
        "bodyLength": len(req.body),
    })


def _redirect(status, location):
    answer = text_answer(status, "redirect\n")
    answer.set_header("Location", location)
    return answer


def _location(target, query, origin):
    """Writes a Location in the form the test asked for: absolute URL, absolute path or relative."""
    form = query.get("form", ["path"])[0]
    if form == "absolute":
        return origin + target
    if form == "relative":
        return target.rsplit("/", 1)[1]
    return target


def _redirect_chain(req, origin, hops):
    if hops == 0:
        return text_answer(200, "end of redirect chain\n")
    target = "/test/redirect/%d" % (hops - 1)
    if req.raw_query:
        target += "?" + req.raw_query
    return _redirect(_int_param(req.query, "status", 302), _location(target, req.query, origin))


_RESPOND_PARAMS = {
    "status": "status", "body": "body", "size": "bodySize", "type": "contentType",
    "delayMs": "delayMs", "stallAfter": "stallAfter", "stallMs": "stallMs",
    "dropAfter": "dropAfter", "contentLength": "contentLength",
}


def _respond(req):
    script = {}
    for param, field in _RESPOND_PARAMS.items():
        if param in req.query:
            value = req.query[param][0]
            script[field] = value if field in ("body", "contentType") else _to_int(value)
    headers = {}
    for h in req.query.get("h", []):
        name, sep, value = h.partition(":")
        if not sep:
            return bad("h must be 'Name: value'"), None
        headers[name.strip()] = value.strip()
    if headers:
        script["headers"] = headers
    if not any(k in script for k in ("status", "body", "bodySize")):
        script["body"] = ""
    try:
        fault = Fault(script)
    except FaultError as e:
        return bad(str(e)), None
    return fault.shape(Answer(200)), fault


def _to_int(value):
    try:
        return int(value)
    except ValueError:
        return value  # left for the fault check to refuse


def now_iso():
    t = time.time()
    return time.strftime("%Y-%m-%dT%H:%M:%S", time.gmtime(t)) + ".%03dZ" % int((t % 1) * 1000)
