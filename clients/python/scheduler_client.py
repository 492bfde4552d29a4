"""A small client for `scheduler-host serve` (standard library only).

It starts the host, sends requests as JSON lines, matches each reply to its request by id
and hands out the ticks as they arrive:

    with SchedulerClient() as scheduler:
        scheduler.request("RegisterTimeEvent",
                          timeEvent={"timespecification": "* * * * * ?", "utclocal": True},
                          userData={"job": "backup"})
        for tick in scheduler.ticks(timeout=5):
            print(tick["userData"])
            break

`request` waits for the reply and returns it (a dict, the host's output line); an error
reply, or an error line the host wrote for the request, raises SchedulerError. `submit`
sends without waiting and returns a Future. RegisterSleepEvent and UnregisterTimeEvent are
never answered: `send` them. docs/host-protocol.md describes every request and reply.
"""

import itertools
import json
import os
import queue
import shutil
import subprocess
import threading
from concurrent.futures import Future

# Requests that the scheduler never answers.
UNANSWERED = {"RegisterSleepEvent", 320, "UnregisterTimeEvent", 323}


class SchedulerError(Exception):
    """An error line: the scheduler's error reply, or the host's own ("HostError").

    `line` is the whole output line; `exception`, `code` and `text` are its fields."""

    def __init__(self, line):
        super().__init__(f'{line.get("exception")}: {line.get("text")}')
        self.line = line
        self.exception = line.get("exception")
        self.code = line.get("code")
        self.text = line.get("text")


def default_program():
    """The host named by $SCHEDULER_HOST, else scheduler-host on the PATH."""
    return os.environ.get("SCHEDULER_HOST") or shutil.which("scheduler-host") or "scheduler-host"


class SchedulerClient:
    """One `scheduler-host serve` process and the requests sent to it."""

    def __init__(self, program=None, options=(), stderr=subprocess.DEVNULL):
        self._process = subprocess.Popen(
            [program or default_program(), "serve", *options],
            stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=stderr,
            text=True, encoding="utf-8", bufsize=1)
        self._ids = itertools.count(1)
        self._lock = threading.Lock()
        self._waiting = {}  # request id -> Future
        self._ticks = queue.Queue()
        self._controls = queue.Queue()
        # Lines that answer nothing this client waits for (errors of unanswered requests,
        # lines the host could not read).
        self.unmatched = queue.Queue()
        self._reader = threading.Thread(target=self._read, daemon=True)
        self._reader.start()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def submit(self, type, **fields):
        """Sends one answered request; the Future gets its reply or SchedulerError."""
        reply = Future()
        with self._lock:
            request_id = next(self._ids)
            self._waiting[request_id] = reply
        self._write({"type": type, "id": request_id, **fields})
        return reply

    def request(self, type, timeout=10, **fields):
        """Sends one answered request and returns its reply; raises SchedulerError for an
        error reply and TimeoutError when none comes in `timeout` seconds."""
        return self.submit(type, **fields).result(timeout)

    def send(self, type, **fields):
        """Sends a request that gets no answer (320, 323); returns its id."""
        with self._lock:
            request_id = next(self._ids)
        self._write({"type": type, "id": request_id, **fields})
        return request_id

    def control(self, name, timeout=15, **fields):
        """Sends a control line ("start", "prepareShutdown", "stop", "quit") and returns
        its acknowledgement."""
        self._write({"control": name, **fields})
        return self._controls.get(timeout=timeout)

    def ticks(self, timeout=None):
        """Yields the ticks as they arrive; ends when none came for `timeout` seconds
        (None: waits for ever) or when the host has ended."""
        while True:
            try:
                tick = self._ticks.get(timeout=timeout)
            except queue.Empty:
                return
            if tick is None:
                self._ticks.put(None)
                return
            yield tick

    def close(self, timeout=30):
        """Ends the input; the host answers what it read, shuts down and exits. Returns its
        exit status."""
        if self._process.stdin and not self._process.stdin.closed:
            self._process.stdin.close()
        status = self._process.wait(timeout)
        self._reader.join(timeout)
        return status

    @property
    def process(self):
        return self._process

    def _write(self, line):
        self._process.stdin.write(json.dumps(line) + "\n")
        self._process.stdin.flush()

    def _read(self):
        for text in self._process.stdout:
            line = json.loads(text)
            kind = line.get("kind")
            if kind == "tick":
                self._ticks.put(line)
            elif kind == "control":
                self._controls.put(line)
            elif kind in ("response", "error") and not self._settle(line):
                self.unmatched.put(line)
        self._ticks.put(None)
        with self._lock:
            waiting, self._waiting = self._waiting, {}
        for reply in waiting.values():
            reply.set_exception(EOFError("scheduler-host ended without answering"))

    def _settle(self, line):
        with self._lock:
            reply = self._waiting.pop(line.get("id"), None)
        if reply is None:
            return False
        if line["kind"] == "error":
            reply.set_exception(SchedulerError(line))
        else:
            reply.set_result(line)
        return True
