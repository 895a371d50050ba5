"""The HTTP side: request handling, body sending with scripted faults, and the command line."""

import argparse
import email.utils
import io
import json
import re
import signal
import socket
import struct
import sys
import threading
import time
import urllib.parse
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

from . import testmode
from .catalogue import FILE_PREFIX, ICON_PREFIX, Catalogue, CatalogueError, open_inside, unwritable
from .reports import REPORT_LOG_KEEP, REPORT_LOG_SIZE, REPORTS_KEPT, Reports, StoreFailed
from .responses import JSON_TYPE, Answer, Body, content_type_for, entity_tag, file_answer, not_modified, text_answer

BOOTSTRAP_PATH = "/api/client/bootstrap"
DOWNLOAD_PREFIX = "/api/client/download/"
REPORT_PATH = "/api/client/report"
MAX_TEST_BODY = 64 * 1024 * 1024  # test mode: room for a scripted 100 000-app bootstrap
MAX_REPORT_BODY = 64 * 1024
# A report's event and channel are logged beside the body that holds them: short, so the body is stored once.
MAX_REPORT_FIELD = 256
# The program keeps at most 6 download requests in flight and fetches the icons of the cards in view;
# 64 leaves room for several programs at once while bounding the threads a flood can start.
DEFAULT_MAX_CONNECTIONS = 64
HEADER_TIMEOUT = 10.0  # seconds for a request line and its headers, idle keep-alive time included
BODY_TIMEOUT = 120     # seconds any one read or write of a body may wait once the headers are in

# Control characters (C0, DEL, C1) written as \xNN, and the backslash doubled, so a request line
# in the access log cannot drive the operator's terminal and an escape cannot be forged.
_LOG_ESCAPES = {c: "\\x%02x" % c for c in list(range(0x20)) + list(range(0x7F, 0xA0))}
_LOG_ESCAPES[ord("\\")] = "\\\\"


def log_safe(text):
    return text.translate(_LOG_ESCAPES)


def write_log(client, message):
    sys.stderr.write("%s - [%s] %s\n" % (log_safe(client), testmode.now_iso(), log_safe(message)))


class _HeadReader(socket.SocketIO):
    """Socket reads that give up at a deadline while one is set, however slowly the bytes trickle in."""

    deadline = None

    def readinto(self, b):
        if self.deadline is not None:
            left = self.deadline - time.monotonic()
            if left <= 0:
                self._timeout_occurred = True
                raise TimeoutError("no complete request head in time")
            self._sock.settimeout(left)
        return super().readinto(b)


def split_target(raw_path):
    """The parts of a request target, or None when it cannot be read (an absolute URL with a bad bracket, say)."""
    try:
        return urllib.parse.urlsplit(raw_path)
    except ValueError:
        return None


def url_path(split):
    """The decoded path of a split request target, without its query."""
    return urllib.parse.unquote(split.path)


class Request:
    def __init__(self, method, raw_path, split, headers, body, client):
        self.method = method
        self.raw_path = raw_path
        self.path = url_path(split)
        self.raw_query = split.query
        self.query = urllib.parse.parse_qs(split.query, keep_blank_values=True)
        self.headers = headers
        self.body = body
        self.client = client


_BODY_ERRORS = {
    400: "bad Content-Length\n",
    411: "chunked request bodies are not accepted; send a Content-Length\n",
    413: "request body too large for this route\n",
}


def json_error(status, message):
    return testmode.json_answer(status, {"code": status, "message": message})


def is_download_path(path):
    return path.startswith(DOWNLOAD_PREFIX) or path.startswith(FILE_PREFIX)


def parse_app_id(text):
    """An app id in decimal, negative ones with a leading "-"; None for anything else, a number of more digits
    than a 32-bit id has included."""
    digits = text[1:] if text.startswith("-") else text
    if not digits or len(digits) > 10 or not digits.isascii() or not digits.isdigit():
        return None
    return int(text)


def parse_file_path(path):
    """(app id, file name) from /files/<id>/<name>, or None."""
    parts = path[len(FILE_PREFIX):].split("/")
    app_id = parse_app_id(parts[0]) if len(parts) == 2 else None
    if app_id is None:
        return None
    return app_id, parts[1]


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "QuillboxService/1.0"
    sys_version = ""
    timeout = BODY_TIMEOUT

    def setup(self):
        super().setup()
        self.rfile.close()
        self._reader = _HeadReader(self.connection, "rb")
        self.rfile = io.BufferedReader(self._reader)

    def handle_one_request(self):
        # The request line and headers must all arrive before the deadline; the wait for the next
        # request on a kept-alive connection counts too.
        self._reader.deadline = time.monotonic() + self.server.header_timeout
        super().handle_one_request()

    def parse_request(self):
        parsed = super().parse_request()
        self._reader.deadline = None
        self.connection.settimeout(self.timeout)
        return parsed

    def handle_expect_100(self):
        # A body that will be refused is not invited.
        split = split_target(self.path)
        if split is None or self._body_error(self._body_limit(self.command, url_path(split))):
            return True
        return super().handle_expect_100()

    def do_GET(self):
        self._dispatch()

    do_POST = do_HEAD = do_PUT = do_DELETE = do_PATCH = do_OPTIONS = do_GET

    def version_string(self):
        return self.server_version

    def log_message(self, fmt, *args):
        if not self.server.service.quiet:
            write_log(self.client_address[0], fmt % args)

    def send_response(self, code, message=None):
        self._status = code
        # The status goes into the log before the client can see the answer, so a test reading the
        # log right after its request returned never finds the entry without it.
        entry = getattr(self, "_entry", None)
        if entry is not None:
            with self.server.service.state.lock:
                entry["status"] = code
        super().send_response(code, message)

    def _body_limit(self, method, path):
        """The largest body this request may carry, decided from its method and (decoded) path alone."""
        svc = self.server.service
        if svc.test_mode and path.startswith("/test/"):
            return MAX_TEST_BODY
        if method == "POST" and path == REPORT_PATH:
            return MAX_REPORT_BODY
        if svc.test_mode and method not in ("GET", "HEAD"):
            # A scripted answer may stand in for a route that takes a body (a redirected report).
            file_ref = parse_file_path(path) if path.startswith(FILE_PREFIX) else None
            if svc.state.has_fault(path, file_ref[0] if file_ref else None):
                return MAX_REPORT_BODY
        return 0

    def _body_error(self, limit):
        """The status refusing the announced body (None when it may be read): chunked, unreadable or too large."""
        if self.headers.get("Transfer-Encoding"):
            return 411
        try:
            length = int(self.headers.get("Content-Length", "0"))
        except ValueError:
            return 400
        if length < 0:
            return 400
        return 413 if length > limit else None

    def _dispatch(self):
        svc = self.server.service
        self._status, self._sent, self._dropped, self._entry = 0, 0, False, None
        # A reset from now on ends this answer's stalls, even one that begins after the reset.
        self._wake = svc.state.wake
        split = split_target(self.path)
        if split is None:
            return self._refuse_unread(text_answer(400, "bad request target\n"))
        req = Request(self.command, self.path, split, self.headers, b"", self.client_address[0])
        # Checked before a single body byte is read; a refused body is never read, so the connection closes.
        error = self._body_error(self._body_limit(req.method, req.path))
        if error:
            return self._refuse_unread(text_answer(error, _BODY_ERRORS[error]))
        req.body = self.rfile.read(int(self.headers.get("Content-Length", "0")))
        if svc.test_mode and req.path.startswith("/test/"):
            answer = testmode.control(svc.state, svc.reports, req)
            if answer is not None:
                return self._send(answer, None)
        counted = is_download_path(req.path)
        started = time.time()
        entry = {"method": req.method, "path": req.raw_path, "range": self.headers.get("Range"),
                 "via": self.headers.get("Via"), "client": req.client, "time": round(started, 3)}
        entry["status"] = 0
        svc.state.begin(entry, counted)
        self._entry = entry
        try:
            self._handle(req, entry)
        finally:
            svc.state.end(counted)
            with svc.state.lock:
                entry.update(status=self._status, bytes=self._sent, dropped=self._dropped,
                             ms=round((time.time() - started) * 1000))
            self._entry = None

    def _refuse_unread(self, answer):
        """Sends answer without reading the request's body, and closes the connection."""
        self.close_connection = True
        answer.set_header("Connection", "close")
        self._send(answer, None)

    def _handle(self, req, entry):
        svc = self.server.service
        file_ref = parse_file_path(req.path) if req.path.startswith(FILE_PREFIX) else None
        fault = svc.state.take_fault(req.path, file_ref[0] if file_ref else None)
        if fault:
            entry["fault"] = fault.script
        answer, shaping = self._route(req, file_ref, fault)
        try:
            if fault:
                self._send(fault.shape(answer), fault)
            else:
                self._send(answer, shaping)
        finally:
            answer.body.close()

    def _route(self, req, file_ref, fault):
        svc = self.server.service
        path, method = req.path, req.method
        reading = method in ("GET", "HEAD")
        if path == BOOTSTRAP_PATH and reading:
            return self._bootstrap(), None
        if path == REPORT_PATH and method == "POST":
            return self._report(req), None
        if path.startswith(DOWNLOAD_PREFIX) and reading:
            return self._download(path[len(DOWNLOAD_PREFIX):]), None
        if path.startswith(ICON_PREFIX) and reading:
            icon = svc.catalogue.icon_file(path[len(ICON_PREFIX):])
            if icon:
                try:
                    f, st = open_inside(svc.catalogue.icon_root, icon)
                except OSError:
                    return json_error(404, "icon file is gone"), None
                return Answer(200, [("Content-Type", content_type_for(icon))], Body(file=f, length=st.st_size)), None
        if file_ref and reading:
            return self._package_file(req, file_ref, fault), None
        if svc.test_mode and path.startswith("/test/"):
            routed = testmode.generic(req, self._origin())
            if routed:
                return routed
        if path in (BOOTSTRAP_PATH, REPORT_PATH) or path.startswith(DOWNLOAD_PREFIX):
            return json_error(405, "method not allowed"), None
        return json_error(404, "not found"), None

    def _origin(self):
        host = self.headers.get("Host") or "%s:%d" % self.server.server_address[:2]
        return "http://" + host

    def _bootstrap(self):
        """The bootstrap with its ETag and Last-Modified; 304 without a body when the client's copy is current."""
        body = self.server.service.catalogue.bootstrap_body()
        answer = Answer(200, [("Content-Type", JSON_TYPE)], Body(body))
        etag = entity_tag(answer.body.data)
        changed = self.server.service.bootstrap_changed_at(etag)
        validators = [("ETag", etag), ("Last-Modified", email.utils.formatdate(changed, usegmt=True))]
        if not_modified(self.headers.get("If-None-Match"), self.headers.get("If-Modified-Since"), etag, changed):
            return Answer(304, validators)
        for name, value in validators:
            answer.set_header(name, value)
        return answer

    def _download(self, rest):
        svc = self.server.service
        app_id = parse_app_id(rest)
        pkg = svc.catalogue.package(app_id) if app_id is not None else None
        if not pkg:
            return json_error(404, "no package for app %s" % rest)
        location = pkg.url_path()
        ticket = svc.state.new_ticket(pkg.app_id)
        if ticket:
            location += "?ticket=" + ticket
        answer = text_answer(302, "redirect\n")
        answer.set_header("Location", location)
        return answer

    def _package_file(self, req, file_ref, fault):
        svc = self.server.service
        app_id, name = file_ref
        pkg = svc.catalogue.package(app_id)
        if not pkg or name != pkg.name:
            return json_error(404, "no such file")
        if not svc.state.use_ticket(app_id, req.query.get("ticket", [None])[0]):
            return text_answer(403, "link expired\n")
        get = fault.get if fault else (lambda k, d=None: d)
        try:
            f, st = open_inside(svc.catalogue.package_root, pkg.path)
        except OSError:
            return json_error(404, "package file is gone")
        return file_answer(f, st.st_size, pkg.name, self.headers.get("Range"),
                           ignore_range=get("ignoreRange", False), range_start=get("rangeStart"))

    def _report(self, req):
        try:
            doc = json.loads(req.body.decode("utf-8"))
            bad = unwritable(doc, "")  # a lone surrogate escape ("\\ud800"): no log line could hold it
        except (ValueError, RecursionError):  # not UTF-8, not JSON, a number too long, nested too deeply
            return json_error(400, "report is not JSON")
        if not isinstance(doc, dict):
            return json_error(400, "report must be an object")
        if bad:
            return json_error(400, "report holds text that cannot be written as UTF-8")
        app_id = doc.get("appId")
        if not isinstance(app_id, int) or isinstance(app_id, bool):
            return json_error(400, "appId must be an integer")
        for key in ("event", "channel"):
            if not isinstance(doc.get(key), str) or len(doc[key]) > MAX_REPORT_FIELD:
                return json_error(400, "%s must be a string of at most %d characters" % (key, MAX_REPORT_FIELD))
        try:
            self.server.service.reports.add({
                "time": testmode.now_iso(), "client": req.client, "appId": app_id,
                "event": doc["event"], "channel": doc["channel"], "body": req.body.decode("utf-8"),
            })
        except StoreFailed as e:
            # Never acknowledged: the sender may try again, and the operator is told.
            sys.stderr.write("quillbox-service: a report from %s was not stored: %s\n" % (log_safe(req.client),
                                                                                        log_safe(str(e))))
            return json_error(e.status, "the report could not be stored")
        return testmode.json_answer(200, {"code": 0})

    def _send(self, answer, shaping):
        """Writes the answer; shaping (a fault) may delay, stall, cut or mislabel the body."""
        get = shaping.get if shaping else (lambda k, d=None: d)
        try:
            if get("delayMs") and not self._stall(get("delayMs")):
                return self._drop(reset=False)
            body = answer.body
            given_length = any(n.lower() == "content-length" for n, _ in answer.headers)
            lie = get("contentLength")
            self.send_response(answer.status)
            for name, value in answer.headers:
                self.send_header(name, value)
            if not given_length and answer.status != 304:
                self.send_header("Content-Length", str(body.length if lie is None else lie))
            self.end_headers()
            if self.command == "HEAD":
                return
            limit, cut = body.length, None
            for key, reset in (("dropAfter", False), ("resetAfter", True)):
                if get(key) is not None and get(key) < limit:
                    limit, cut = get(key), reset
            rate = get("bytesPerSecond")
            stall_at = get("stallAfter", 0) if get("stallMs") is not None else None
            if stall_at is not None and stall_at <= limit:
                if not self._write(body, 0, stall_at, rate) or not self._stall(get("stallMs")):
                    return self._drop(reset=False)
                if not self._write(body, stall_at, limit, rate):
                    return self._drop(reset=False)
            elif not self._write(body, 0, limit, rate):
                return self._drop(reset=False)
            if cut is not None:
                self._drop(reset=cut)
            elif lie is not None or given_length:
                self.close_connection = True
        except OSError:
            self.close_connection = True
            self._dropped = self._dropped or "client"

    def _stall(self, ms):
        """Waits ms milliseconds; False when a reset since the request came in cut the wait short."""
        return not self._wake.wait(ms / 1000.0)

    def _write(self, body, start, end, rate=None):
        """Sends body[start:end], paced to rate bytes a second if given; False when a reset ended the pacing."""
        if rate:
            # Tenth-of-a-second slices, so progress arrives steadily.
            step = max(1, rate // 10)
            for at in range(start, end, step):
                stop = min(at + step, end)
                self._write(body, at, stop)
                if stop < end and not self._stall((stop - at) * 1000.0 / rate):
                    return False
            return True
        if end <= start:
            return True
        if body.file is None:
            self.wfile.write(body.data[start:end])
        else:
            self.connection.sendfile(body.file, body.offset + start, end - start)
        self._sent += end - start
        return True

    def _drop(self, reset):
        """Ends the connection mid-answer, with a FIN or (reset) an RST."""
        self.close_connection = True
        self._dropped = "reset" if reset else "closed"
        # Logged before the client can see the connection end, as with the status.
        if self._entry is not None:
            with self.server.service.state.lock:
                self._entry.update(dropped=self._dropped, bytes=self._sent)
        try:
            if reset:
                # Closing with a zero linger time sends an RST instead of a FIN.
                self.connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
                self.connection.close()
            else:
                self.connection.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass


class Service:
    def __init__(self, catalogue, test_mode, report_log, quiet, log_size=REPORT_LOG_SIZE, log_keep=REPORT_LOG_KEEP):
        self.catalogue = catalogue
        self.test_mode = test_mode
        self.state = testmode.TestState(test_mode)
        # Only test mode reads reports back (/test/reports); otherwise the log is their one place.
        self.reports = Reports(report_log, REPORTS_KEPT if test_mode else 0, log_size, log_keep)
        self.quiet = quiet
        self._bootstrap_lock = threading.Lock()
        self._bootstrap_etag = None
        self._bootstrap_changed = 0

    def bootstrap_changed_at(self, etag):
        """Whole seconds since 1970 at which the bootstrap last changed: the catalogue file's time for
        the first answer, the time of the answer that first carried a new tag after that."""
        with self._bootstrap_lock:
            if etag != self._bootstrap_etag:
                first = self._bootstrap_etag is None
                self._bootstrap_etag = etag
                self._bootstrap_changed = int(self.catalogue.changed_at() if first else time.time())
            return self._bootstrap_changed


class Server(ThreadingHTTPServer):
    """A thread per connection, at most max_connections at once; one more is refused at the door."""

    daemon_threads = True
    request_queue_size = 128

    def __init__(self, address, handler, service, max_connections=DEFAULT_MAX_CONNECTIONS,
                 header_timeout=HEADER_TIMEOUT):
        self.service = service
        self.header_timeout = header_timeout
        self.max_connections = max_connections
        self._slots = threading.BoundedSemaphore(max_connections)
        super().__init__(address, handler)

    def process_request(self, request, client_address):
        if not self._slots.acquire(blocking=False):
            return self._refuse(request, client_address)
        try:
            super().process_request(request, client_address)
        except RuntimeError:
            # No thread could be started, so none will give the slot back. (Anything raised once
            # the thread runs, a SIGTERM's SystemExit say, leaves the release to the thread.)
            self._slots.release()
            raise

    def process_request_thread(self, request, client_address):
        try:
            super().process_request_thread(request, client_address)
        finally:
            self._slots.release()

    def _refuse(self, sock, client_address):
        """Answers 503 from the listening thread and closes, so no thread is started to wait for a slot."""
        body = b'{"code":503,"message":"too many connections"}'
        head = ("HTTP/1.1 503 Service Unavailable\r\nServer: %s\r\nDate: %s\r\n"
                "Content-Type: application/json; charset=utf-8\r\nContent-Length: %d\r\n"
                "Retry-After: 1\r\nConnection: close\r\n\r\n"
                % (Handler.server_version, email.utils.formatdate(usegmt=True), len(body)))
        try:
            sock.setblocking(False)
            sock.send(head.encode("ascii") + body)
            sock.shutdown(socket.SHUT_WR)
            # What the client has already sent is read away, so the close is a FIN and not an RST
            # that could overtake the answer.
            for _ in range(16):
                if not sock.recv(65536):
                    break
        except OSError:
            pass
        sock.close()
        if not self.service.quiet:
            write_log(client_address[0], "503 refused: all %d connections are in use" % self.max_connections)

    def handle_error(self, request, client_address):
        if isinstance(sys.exc_info()[1], OSError):
            return
        super().handle_error(request, client_address)


def parse_args(argv):
    ap = argparse.ArgumentParser(prog="quillbox-service", description="Local Quillbox catalogue service.")
    ap.add_argument("--catalogue", required=True, metavar="DIR", help="folder holding catalogue.json")
    ap.add_argument("--packages", metavar="DIR", help="resolve package paths here instead of the catalogue folder")
    ap.add_argument("--host", default="127.0.0.1")
    ap.add_argument("--port", type=int, default=0, help="0 picks a free port")
    ap.add_argument("--report-log", metavar="FILE", help="append install reports here as JSON lines")
    add_report_log_limits(ap)
    ap.add_argument("--test-mode", action="store_true", help="enable the /test/ control API")
    ap.add_argument("--quiet", action="store_true", help="no access log on stderr")
    add_connection_limits(ap)
    return ap.parse_args(argv)


def add_connection_limits(ap):
    ap.add_argument("--max-connections", type=_positive(int), default=DEFAULT_MAX_CONNECTIONS, metavar="N",
                    help="connections served at once; one more is answered 503 (default %(default)s)")
    ap.add_argument("--header-timeout", type=_positive(float), default=HEADER_TIMEOUT, metavar="SECONDS",
                    help="close a connection whose request line and headers are not in within this time "
                         "(default %(default)s)")


def add_report_log_limits(ap):
    ap.add_argument("--report-log-size", type=_positive(int), default=REPORT_LOG_SIZE, metavar="BYTES",
                    help="rotate the report log once it would grow past this size (default %(default)s)")
    ap.add_argument("--report-log-keep", type=_non_negative, default=REPORT_LOG_KEEP, metavar="N",
                    help="rotated report logs kept, FILE.1 the newest (default %(default)s)")


def _non_negative(text):
    if not re.fullmatch(r"[0-9]+", text):
        raise argparse.ArgumentTypeError("must be a whole number: %r" % text)
    return int(text)


def _positive(kind):
    def parse(text):
        try:
            value = kind(text)
        except ValueError:
            value = 0
        if not 0 < value < float("inf"):
            raise argparse.ArgumentTypeError("must be a number above 0: %r" % text)
        return value
    return parse


def main(argv=None):
    args = parse_args(argv)
    try:
        catalogue = Catalogue(args.catalogue, args.packages)
    except CatalogueError as e:
        sys.stderr.write("quillbox-service: %s\n" % e)
        return 2
    if args.test_mode and args.host not in ("127.0.0.1", "localhost", "::1"):
        sys.stderr.write("quillbox-service: warning: test mode is reachable on %s\n" % args.host)
    return serve(args, Handler, Service(catalogue, args.test_mode, args.report_log, args.quiet,
                                        args.report_log_size, args.report_log_keep))


def serve(args, handler, service):
    """Listens on args.host and args.port, prints the base URL, and serves until SIGTERM or Ctrl+C."""
    Server.address_family = socket.AF_INET6 if ":" in args.host else socket.AF_INET
    try:
        server = Server((args.host, args.port), handler, service,
                        max_connections=args.max_connections, header_timeout=args.header_timeout)
    except OSError as e:
        sys.stderr.write("quillbox-service: cannot listen on %s:%d: %s\n" % (args.host, args.port, e.strerror))
        return 1
    host, port = server.server_address[:2]
    if host in ("0.0.0.0", "::"):
        host = "127.0.0.1" if host == "0.0.0.0" else "::1"
    sys.stdout.write("http://%s:%d\n" % ("[%s]" % host if ":" in host else host, port))
    sys.stdout.flush()
    # SIGTERM only asks the serving loop to stop (shutdown waits for it, hence the thread): an
    # exception raised by the handler could land in a finalizer, which drops it, and the service
    # would go on running.
    signal.signal(signal.SIGTERM, lambda *_: threading.Thread(target=server.shutdown, daemon=True).start())
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass
    finally:
        server.server_close()
    return 0
