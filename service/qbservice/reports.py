"""Install reports as they are stored: appended to the report log, and kept in memory where something reads them."""

import collections
import errno
import json
import os
import threading

REPORTS_KEPT = 10000
_FULL = (errno.ENOSPC, errno.EDQUOT, errno.EFBIG)


class StoreFailed(Exception):
    """A report the log could not take; status is what its sender is answered (503 when storage is full)."""

    def __init__(self, error):
        super().__init__("%s: %s" % (error.filename or "report log", error.strerror or error))
        self.status = 503 if error.errno in _FULL else 500


class Reports:
    """Valid install reports: the most recent kept in memory, every one appended to the report log."""

    def __init__(self, log_path, limit=REPORTS_KEPT):
        self.log_path = log_path
        self.limit = limit
        self.lock = threading.Lock()
        self.items = collections.deque(maxlen=limit)

    def add(self, record):
        """Stores one report; StoreFailed when the log cannot take it, and then nothing of it is kept."""
        line = (json.dumps(record, ensure_ascii=False) + "\n").encode("utf-8")
        with self.lock:
            if self.log_path:
                self._append(line)
            self.items.append(record)

    def _append(self, line):
        try:
            fd = os.open(self.log_path, os.O_WRONLY | os.O_APPEND | os.O_CREAT | getattr(os, "O_CLOEXEC", 0), 0o644)
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
