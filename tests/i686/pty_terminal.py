"""A scripted terminal on the master side of a pseudo-terminal pair.

The DLL's port (through the COM port stand-ins) is the slave; this terminal
reads the master on a thread of its own, records each byte with the slave's
line setting sampled right after the read that returned it, and answers by
script: after k more bytes heard, send these bytes after d ms. Steps with k = 0
are sent at once (`preload`), so a reply under a short fixed limit is waiting
in the port before the call.

The stand-ins' WriteFile returns only once this terminal has read (and
sampled) the bytes it wrote, as a serial write returns once its bytes are on
the line; so the DLL cannot change the setting before a byte has been sampled,
and every sample is the setting the byte was written under (the C++
PtyTerminal of the pty and wine tiers, with no such hand-shake, can only note
an address byte's sample).
"""

import os
import select
import termios
import threading
import time
from collections import deque
from dataclasses import dataclass

import pty_line


@dataclass
class HeardByte:
    value: int
    line: pty_line.LineSample
    at: float


class PtyTerminal:
    def __init__(self):
        self.master, self.slave = os.openpty()   # the slave stays open: no hang-ups
        self.port = os.ttyname(self.slave)
        for fd in (self.master, self.slave):
            pty_line.set(fd, pty_line.with_baud(pty_line.make_raw(pty_line.get(fd)), 9600))
        os.set_blocking(self.master, False)
        self.lock = threading.Condition()
        self.heard = []
        self.total_heard = 0           # never reset: the stand-ins count on it
        self.steps = deque()
        self.since_answer = 0
        self.outgoing = deque()        # (due, bytes)
        self.stop = False
        self.thread = threading.Thread(target=self._run, daemon=True)
        self.thread.start()

    def close(self):
        self.stop = True
        self.thread.join()
        os.close(self.master)
        os.close(self.slave)

    # -- script -------------------------------------------------------------

    def then(self, after_bytes, reply, delay_ms=1):
        with self.lock:
            self.steps.append((after_bytes, bytes(reply), delay_ms))

    def preload(self, reply, timeout_s=5):
        """Sends reply now and waits until it is readable on the slave."""
        before = self.unread()
        os.write(self.master, bytes(reply))
        deadline = time.monotonic() + timeout_s
        while self.unread() < before + len(reply):
            if time.monotonic() > deadline:
                raise TimeoutError("preloaded reply did not reach the slave")
            time.sleep(0.001)

    def unread(self):
        return int.from_bytes(__import__("fcntl").ioctl(
            self.slave, termios.FIONREAD, b"\0\0\0\0"), "little")

    def reset(self):
        """Forgets what was heard and any script left; drains both sides."""
        with self.lock:
            self.heard = []
            self.steps.clear()
            self.outgoing.clear()
            self.since_answer = 0
        termios.tcflush(self.slave, termios.TCIOFLUSH)

    # -- what the stand-ins and the tests ask -------------------------------

    def heard_count(self):
        """Bytes heard since the terminal started (reset() keeps counting)."""
        with self.lock:
            return self.total_heard

    def wait_heard(self, count, timeout_s):
        with self.lock:
            return self.lock.wait_for(lambda: self.total_heard >= count, timeout_s)

    def wait_answered(self, timeout_s):
        with self.lock:
            return self.lock.wait_for(lambda: not self.steps and not self.outgoing, timeout_s)

    def heard_bytes(self):
        with self.lock:
            return list(self.heard)

    # -- the thread -----------------------------------------------------------

    def _run(self):
        while not self.stop:
            readable, _, _ = select.select([self.master], [], [], self._poll_timeout())
            if readable:
                try:
                    data = os.read(self.master, 65536)
                except (BlockingIOError, OSError):
                    data = b""
                if data:
                    line = pty_line.sample(self.master)
                    self._take(data, line, time.monotonic())
            self._send_due()

    def _poll_timeout(self):
        with self.lock:
            self._fire_steps(time.monotonic())
            if self.outgoing:
                return max(0.0, min(0.001, self.outgoing[0][0] - time.monotonic()))
        return 0.005

    def _fire_steps(self, now):
        while self.steps and self.since_answer >= self.steps[0][0]:
            _, reply, delay_ms = self.steps.popleft()
            self.since_answer = 0
            self.outgoing.append((now + delay_ms / 1000, reply))

    def _take(self, data, line, at):
        with self.lock:
            for value in data:
                self.heard.append(HeardByte(value, line, at))
                self.total_heard += 1
                self.since_answer += 1
                self._fire_steps(at)
            self.lock.notify_all()

    def _send_due(self):
        with self.lock:
            while self.outgoing and self.outgoing[0][0] <= time.monotonic():
                _, reply = self.outgoing.popleft()
                os.write(self.master, reply)
            self.lock.notify_all()


def render(heard, default_baud=9600):
    """'M 05 | S C2 C7 02 4F': the bytes heard, grouped by the setting each
    was sampled under (S2 two stop bits, @19200 a baud other than the default)."""
    groups = []
    for byte in heard:
        label = byte.line.label(default_baud)
        if groups and groups[-1][0] == label:
            groups[-1][1].append(byte.value)
        else:
            groups.append((label, [byte.value]))
    return " | ".join(f"{label} {' '.join(f'{v:02X}' for v in values)}" for label, values in groups)
