"""Install reports as they are stored: appended to the report log (rotated by size), kept in memory only where
something reads them, and limited per client address."""

import collections
import errno
import json
import os
import stat
import threading
import time

REPORTS_KEPT = 10000            # in memory, for /test/reports
REPORT_LOG_SIZE = 64 * 1024 * 1024  # bytes a report log file grows to before it is rotated
REPORT_LOG_KEEP = 9             # rotated files kept besides the log: FILE.1 (newest) to FILE.9
REPORTS_PER_SECOND = 1          # from one client address, after a burst of
REPORT_BURST = 20
_ADDRESSES_KEPT = 100000        # client addresses the limit remembers
_FULL = (errno.ENOSPC, errno.EDQUOT, errno.EFBIG)


class StoreFailed(Exception):
    """A report the log could not take; status is what its sender is answered (503 when storage is full)."""

    def __init__(self, error):
        super().__init__("%s: %s" % (error.filename or "report log", error.strerror or error))
        self.status = 503 if error.errno in _FULL else 500


class Reports:
    """Valid install reports: every one appended to the report log, the most recent `limit` kept in memory. The log
    is rotated once it would grow past max_bytes, keeping `keep` older files."""

    def __init__(self, log_path, limit=REPORTS_KEPT, max_bytes=REPORT_LOG_SIZE, keep=REPORT_LOG_KEEP):
        self.log_path = log_path
        self.limit = limit
        self.max_bytes = max_bytes
        self.keep = keep
        self.lock = threading.Lock()
        self.items = collections.deque(maxlen=limit)

    def add(self, record):
        """Stores one report; StoreFailed when the log cannot take it, and then nothing of it is kept."""
        line = (json.dumps(record, ensure_ascii=False) + "\n").encode("utf-8")
        with self.lock:
            if self.log_path:
                self._append(line)
            self.items.append(record)

    def _open(self):
        return os.open(self.log_path, os.O_WRONLY | os.O_APPEND | os.O_CREAT | getattr(os, "O_CLOEXEC", 0), 0o644)

    def _open_for(self, size):
        """The log opened for appending size bytes, rotated first when they would take it past max_bytes."""
        fd = self._open()
        try:
            st = os.fstat(fd)
        except OSError:
            os.close(fd)
            raise
        if stat.S_ISREG(st.st_mode) and st.st_size and st.st_size + size > self.max_bytes:
            os.close(fd)
            self._rotate()
            fd = self._open()
        return fd

    def _rotate(self):
        """FILE becomes FILE.1, FILE.1 becomes FILE.2 and so on; what would pass FILE.<keep> goes."""
        for n in range(self.keep, 0, -1):
            newer = self.log_path if n == 1 else "%s.%d" % (self.log_path, n - 1)
            if os.path.exists(newer):
                os.replace(newer, "%s.%d" % (self.log_path, n))
        if not self.keep:
            os.remove(self.log_path)

    def _append(self, line):
        try:
            fd = self._open_for(len(line))
        except OSError as e:
            raise StoreFailed(e)
        try:
            start = os.lseek(fd, 0, os.SEEK_END)
            try:
                rest = memoryview(line)
                while rest:
                    rest = rest[os.write(fd, rest):]
            except OSError as e:
                try:
                    os.ftruncate(fd, start)  # no half line for the next report to follow
                except OSError:
                    pass
                raise StoreFailed(e)
        finally:
            os.close(fd)

    def snapshot(self):
        with self.lock:
            return list(self.items)

    def clear(self):
        with self.lock:
            self.items.clear()


def take_token(tokens, last, now, rate, burst):
    """One request against a token bucket holding `tokens` at time `last`, refilled at `rate` a second up to
    `burst`: (allowed, tokens left at now)."""
    tokens = min(burst, tokens + max(0.0, now - last) * rate)
    return (True, tokens - 1) if tokens >= 1 else (False, tokens)


class RateLimit:
    """Reports per client address: a burst at once, then a steady rate. The addresses seen least recently are
    forgotten beyond a bound, so a flood of addresses cannot fill the memory."""

    def __init__(self, rate=REPORTS_PER_SECOND, burst=REPORT_BURST, addresses=_ADDRESSES_KEPT):
        self.rate, self.burst, self.addresses = rate, burst, addresses
        self._lock = threading.Lock()
        self._buckets = collections.OrderedDict()  # address -> (tokens, when)

    def allow(self, address, now=None):
        now = time.monotonic() if now is None else now
        with self._lock:
            tokens, last = self._buckets.pop(address, (self.burst, now))
            allowed, tokens = take_token(tokens, last, now, self.rate, self.burst)
            self._buckets[address] = (tokens, now)
            if len(self._buckets) > self.addresses:
                self._buckets.popitem(last=False)
            return allowed
