"""quillbox-service collect: the install reports of a published catalogue, taken behind nginx with the
service's own checks and limits, and appended to the report log."""

import argparse
import ipaddress

from .server import REPORT_PATH, Handler, Service, add_connection_limits, json_error, serve


def _is_loopback(address):
    try:
        return ipaddress.ip_address(address).is_loopback
    except ValueError:
        return False


class CollectorHandler(Handler):
    """The service's handler with one route: reports. Body limits, time-outs and the log are the service's."""

    def _route(self, req, file_ref, fault):
        if req.path != REPORT_PATH:
            return json_error(404, "not found"), None
        if req.method != "POST":
            return json_error(405, "method not allowed"), None
        # Behind nginx on this machine, the client is the address nginx saw.
        forwarded = (self.headers.get("X-Real-IP") or "").strip()
        if _is_loopback(req.client) and forwarded:
            try:
                req.client = str(ipaddress.ip_address(forwarded))
            except ValueError:
                pass
        return self._report(req), None


def parse_args(argv):
    ap = argparse.ArgumentParser(prog="quillbox-service collect",
                                 description="Take install reports (POST /api/client/report) and append them to a log.")
    ap.add_argument("--host", default="127.0.0.1")
    ap.add_argument("--port", type=int, required=True, help="0 picks a free port")
    ap.add_argument("--report-log", required=True, metavar="FILE", help="append each valid report here as a JSON line")
    ap.add_argument("--quiet", action="store_true", help="no access log on stderr")
    add_connection_limits(ap)
    return ap.parse_args(argv)


def main(argv):
    args = parse_args(argv)
    return serve(args, CollectorHandler, Service(None, False, args.report_log, args.quiet))
