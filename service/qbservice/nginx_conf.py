"""The nginx configuration for a published catalogue: the same routes and headers as the service, with
nothing but nginx running per request."""

from .reports import REPORT_BURST, REPORTS_PER_SECOND
from .responses import CONTENT_TYPES, JSON_TYPE, content_disposition
from .server import BOOTSTRAP_PATH, DOWNLOAD_PREFIX, MAX_REPORT_BODY, REPORT_PATH

# A new catalogue reaches clients (and a CDN) within a minute; what only an older bootstrap names is kept as long.
BOOTSTRAP_LIFETIME = 60
BOOTSTRAP_MAX_AGE = "%ds" % BOOTSTRAP_LIFETIME
ICON_MAX_AGE = "7d"
PACKAGE_MAX_AGE = "30d"
# nginx's own files, in the state folder.
_STATE_FILES = {"nginx": "nginx.pid", "error": "error.log", "access": "access.log", "body": "body",
                "proxy": "proxy", "fastcgi": "fastcgi", "uwsgi": "uwsgi", "scgi": "scgi"}

_TEMPLATE = """# Written by quillbox-service publish for this folder; publishing again rewrites it.
# Unprivileged: nginx -p {site} -c nginx.conf   (reload: add -s reload; stop: -s quit)
worker_processes auto;
pid {p[nginx]};
error_log {p[error]} warn;
events {{ worker_connections 4096; }}

http {{
  server_tokens off;
  sendfile on;
  tcp_nopush on;
  keepalive_timeout 30s;
  client_body_temp_path {p[body]};
  proxy_temp_path {p[proxy]};
  fastcgi_temp_path {p[fastcgi]};
  uwsgi_temp_path {p[uwsgi]};
  scgi_temp_path {p[scgi]};
  log_format quillbox '$remote_addr [$time_local] "$request" $status $body_bytes_sent "$http_range" $request_time';
  access_log {p[access]} quillbox;
  types {{ }}
  default_type application/octet-stream;
  # One range per request, as the service answers; several are answered with the whole file.
  max_ranges 1;
  # Locations as written: a path stays a path, so the site works under any host name and port.
  absolute_redirect off;
  # No link below the site is followed, wherever it came from.
  disable_symlinks on from=$document_root;
  map_hash_max_size {hash_size};
  map_hash_bucket_size {bucket_size};

  # Install reports per client address: a burst, then a steady rate, as the collector allows them.
  limit_req_zone $binary_remote_addr zone=qb_reports:1m rate={report_rate}r/s;
  limit_req_status 429;

  # A literal dollar sign for the values below (nginx would read "$..." as a variable).
  geo $qb_dollar {{ default "$"; }}

  # GET /api/client/download/<id>: where each app's package lies.
  map $uri $qb_package {{
    default "";
{package_map}
  }}

  # The file name each package is saved under, in the ASCII and the filename*= form.
  map $uri $qb_disposition {{
    default "";
{disposition_map}
  }}

  server {{
    listen {listen};
    root {root};
    charset off;

    location = {bootstrap} {{
      default_type "{json_type}";
      expires {bootstrap_age};
    }}

    location /media/ {{
      types {{
{icon_types}
      }}
      expires {icon_age};
    }}

    location /files/ {{
      expires {package_age};
      add_header Content-Disposition $qb_disposition;
    }}

    location {download} {{
      default_type "{json_type}";
      if ($qb_package = "") {{
        return 404 '{{"code":404,"message":"no such package"}}';
      }}
      return 302 $qb_package;
    }}

    location = {report} {{
      client_max_body_size {report_limit};
      limit_req zone=qb_reports burst={report_burst} nodelay;
      proxy_pass http://{collector};
      proxy_set_header Host $http_host;
      proxy_set_header X-Real-IP $remote_addr;
    }}

    location / {{
      default_type "{json_type}";
      return 404 '{{"code":404,"message":"not found"}}';
    }}
  }}
}}
"""


def quoted(text):
    """text as an nginx string: quoted, with quotes, backslashes and line breaks escaped."""
    for raw, escaped in (("\\", "\\\\"), ('"', '\\"'), ("\n", "\\n"), ("\r", "\\r"), ("\t", "\\t")):
        text = text.replace(raw, escaped)
    return '"%s"' % text


def value(text):
    """A map value that nginx sends as written: quoted, and every "$" taken from $qb_dollar."""
    return quoted(text).replace("$", "${qb_dollar}")


def _bucket_size(keys):
    longest = max((len(k.encode("utf-8")) for k in keys), default=0)
    size = 64
    while size < longest + 32:
        size *= 2
    return size


def nginx_conf(root, state, listen, collector, downloads, packages):
    """The configuration text for the site at root (absolute), nginx's own files in state: downloads maps each
    app id to where its download redirects, packages lists the site paths of the package files served."""
    routes = [(DOWNLOAD_PREFIX + str(app_id), downloads[app_id]) for app_id in sorted(downloads)]
    # $uri is the decoded path
    dispositions = [("/" + path, content_disposition(path.rsplit("/", 1)[1])) for path in sorted(packages)]
    keys = [k for k, _ in routes + dispositions]
    icon_types = {}
    for ext, kind in CONTENT_TYPES.items():
        icon_types.setdefault(kind, []).append(ext.lstrip("."))
    return _TEMPLATE.format(
        site=root, root=quoted(root),
        p={n: quoted(state + "/" + f) for n, f in _STATE_FILES.items()}, listen=listen, collector=collector,
        hash_size=max(2048, 4 * len(keys)), bucket_size=_bucket_size(keys),
        package_map="\n".join("    %s %s;" % (quoted(k), value(v)) for k, v in routes),
        disposition_map="\n".join("    %s %s;" % (quoted(k), value(v)) for k, v in dispositions),
        icon_types="\n".join("        %s %s;" % (kind, " ".join(exts)) for kind, exts in icon_types.items()),
        bootstrap=BOOTSTRAP_PATH, download=DOWNLOAD_PREFIX, report=REPORT_PATH, json_type=JSON_TYPE,
        bootstrap_age=BOOTSTRAP_MAX_AGE, icon_age=ICON_MAX_AGE, package_age=PACKAGE_MAX_AGE,
        report_limit="%dk" % (MAX_REPORT_BODY // 1024), report_rate=REPORTS_PER_SECOND, report_burst=REPORT_BURST)
