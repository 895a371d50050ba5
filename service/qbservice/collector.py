"""quillbox-service collect: the install reports of a published catalogue, taken behind nginx with the
service's own checks and limits, and appended to the report log."""

import argparse
import ipaddress
import re

from .reports import RateLimit
from .server import REPORT_PATH, Handler, Service, add_connection_limits, add_report_log_limits, json_error, serve

MAX_ADDRESS = 45  # characters of the longest IPv6 address written out (with an IPv4 tail)


def valid_address(text):
    """text as a normalised IPv4 or IPv6 address, or None: at most 45 characters, digits, dots and colons only
    (no zone, nothing a log reader could trip over)."""
    if len(text) > MAX_ADDRESS or not re.fullmatch(r"[0-9A-Fa-f.:]+", text):
        return None
    try:
        return str(ipaddress.ip_address(text))
    except ValueError:
        return None


def _within(peer, networks):
    try:
        address = ipaddress.ip_address(peer)
    except ValueError:
        return False
    address = getattr(address, "ipv4_mapped", None) or address  # a dual-stack socket's IPv4 peer
    return any(address in network for network in networks)


def client_address(peer, forwarded, trusted):
    """The address a report is logged under: the one X-Real-IP names when the peer is a trusted proxy and
    the header holds a valid address, the peer's own otherwise."""
    if forwarded is None or not _within(peer, trusted):
        return peer
    return valid_address(forwarded.strip()) or peer


class CollectorHandler(Handler):
    """The service's handler with one route: reports. Body limits, time-outs and the log are the service's."""

    def _route(self, req, file_ref, fault):
        if req.path != REPORT_PATH:
            return json_error(404, "not found"), None
        if req.method != "POST":
            return json_error(405, "method not allowed"), None
        svc = self.server.service
        req.client = client_address(req.client, self.headers.get("X-Real-IP"), svc.trusted)
        if not svc.limit.allow(req.client):
            answer = json_error(429, "too many reports from %s; try again later" % req.client)
            answer.set_header("Retry-After", "1")
            return answer, None
        return self._report(req), None


def _network(text):
    try:
        return ipaddress.ip_network(text, strict=False)
    except ValueError:
        raise argparse.ArgumentTypeError("must be an IP address or network: %r" % text)


def parse_args(argv):
    ap = argparse.ArgumentParser(prog="quillbox-service collect",
                                 description="Take install reports (POST /api/client/report) and append them to a log.")
    ap.add_argument("--host", default="127.0.0.1")
    ap.add_argument("--port", type=int, required=True, help="0 picks a free port")
    ap.add_argument("--report-log", required=True, metavar="FILE", help="append each valid report here as a JSON line")
    add_report_log_limits(ap)
    ap.add_argument("--trusted-proxy", type=_network, action="append", default=[], metavar="ADDRESS",
                    help="a proxy (address or network) whose X-Real-IP header names the client; repeatable, "
                         "none by default")
    ap.add_argument("--quiet", action="store_true", help="no access log on stderr")
    add_connection_limits(ap)
    return ap.parse_args(argv)


def main(argv):
    args = parse_args(argv)
    service = Service(None, False, args.report_log, args.quiet, args.report_log_size, args.report_log_keep)
    service.trusted = args.trusted_proxy
    service.limit = RateLimit()
    return serve(args, CollectorHandler, service)
