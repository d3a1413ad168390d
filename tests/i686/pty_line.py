"""The line setting of a Linux tty through termios2 (any baud rate, CMSPAR).

A pseudo-terminal carries no parity bit, but tcgetattr on the master returns
the slave's termios: the parity in force is read from CMSPAR and PARODD (this
kernel clears PARENB on a pty: MARK = both, SPACE = CMSPAR alone, NONE =
neither).
"""

import fcntl
import struct
from dataclasses import dataclass

# <asm-generic/termbits.h>, <asm-generic/ioctls.h> (x86_64 and i386 alike)
TCGETS2 = 0x802C542A
TCSETS2 = 0x402C542B
TERMIOS2 = struct.Struct("<IIIIB19sII")   # iflag oflag cflag lflag line cc[19] ispeed ospeed
CBAUD = 0o010017
BOTHER = 0o010000
IBSHIFT = 16
CSIZE = 0o000060
CS5, CS6, CS7, CS8 = 0o000000, 0o000020, 0o000040, 0o000060
CSTOPB = 0o000100
CREAD = 0o000200
PARENB = 0o000400
PARODD = 0o001000
CLOCAL = 0o004000
CRTSCTS = 0o20000000000
CMSPAR = 0o10000000000
IXON = 0o002000
IXOFF = 0o010000


@dataclass
class Termios2:
    iflag: int
    oflag: int
    cflag: int
    lflag: int
    line: int
    cc: bytes
    ispeed: int
    ospeed: int


def get(fd):
    raw = fcntl.ioctl(fd, TCGETS2, bytes(TERMIOS2.size))
    return Termios2(*TERMIOS2.unpack(raw))


def set(fd, t):  # noqa: A001 - the ioctl's name
    fcntl.ioctl(fd, TCSETS2, TERMIOS2.pack(t.iflag, t.oflag, t.cflag, t.lflag, t.line, t.cc,
                                           t.ispeed, t.ospeed))


def with_baud(t, baud):
    t.cflag = (t.cflag & ~(CBAUD | (CBAUD << IBSHIFT))) | BOTHER | (BOTHER << IBSHIFT)
    t.ispeed = t.ospeed = baud
    return t


def make_raw(t):
    """A binary port: no echo, no canonical input, no translation, no flow
    control, reads that never wait (VMIN = VTIME = 0)."""
    t.iflag = 0
    t.oflag = 0
    t.lflag = 0
    t.cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS)
    t.cflag |= CS8 | CREAD | CLOCAL
    cc = bytearray(t.cc)
    cc[5] = 0   # VTIME
    cc[6] = 0   # VMIN
    t.cc = bytes(cc)
    return t


@dataclass(frozen=True)
class LineSample:
    """The line setting as a terminal on the master sees it."""
    parity: str      # "M", "S", "O" (odd), or "N" (none; even looks the same on a pty)
    stop_bits: int
    baud: int

    def label(self, default_baud=9600):
        text = self.parity + ("2" if self.stop_bits == 2 else "")
        return text + (f"@{self.baud}" if self.baud != default_baud else "")


def sample(fd):
    t = get(fd)
    if t.cflag & CMSPAR:
        parity = "M" if t.cflag & PARODD else "S"
    else:
        parity = "O" if t.cflag & PARODD else "N"
    return LineSample(parity, 2 if t.cflag & CSTOPB else 1, t.ospeed)
