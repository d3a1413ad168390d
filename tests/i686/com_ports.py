"""The KERNEL32 serial calls, bridged to pseudo-terminals.

A COM port name ("COM5") maps to the slave of a pseudo-terminal whose master
a terminal serves (pty_terminal.py); the stand-ins do to the slave what a
Windows serial driver does to a UART:

- CreateFileA: asks each opener in process.state["openers"]; the ports' opener
  takes COM names ("COM5", "\\\\.\\COM5") and opens the slave (raw, binary, like a
  COM port), exclusively: a second open of a port that is open fails with
  ERROR_ACCESS_DENIED, an unknown name with ERROR_FILE_NOT_FOUND, both
  returning INVALID_HANDLE_VALUE. A group for files (a log file) adds its own
  opener, and objects with write_file/read_file (WriteFile, ReadFile) and close
  (CloseHandle): the stand-ins below dispatch on the handle's object.
- GetCommState / SetCommState: the real 28-byte DCB (DCBlength, BaudRate, the
  bit fields fBinary, fParity, fOutxCtsFlow, fOutxDsrFlow, fDtrControl:2,
  fDsrSensitivity, fTXContinueOnXoff, fOutX, fInX, fErrorChar, fNull,
  fRtsControl:2, fAbortOnError, fDummy2:17, then wReserved, XonLim, XoffLim,
  ByteSize, Parity, StopBits, XonChar, XoffChar, ErrorChar, EofChar, EvtChar,
  wReserved1). The device keeps its DCB across handles, as a driver does; a
  pty clears PARENB, so GetCommState reports the DCB last applied, never the
  termios read back. SetCommState maps ByteSize, Parity (MARK 3, SPACE 4, ODD
  1, EVEN 2, NONE 0), StopBits (ONESTOPBIT 0, TWOSTOPBITS 2), BaudRate (any
  rate, termios2), fOutxCtsFlow, fOutX and fInX onto the slave's termios, so
  the terminal sees the parity; a DCB the device cannot take (ByteSize outside
  5-8, Parity above 4, StopBits above 2, BaudRate 0) fails with
  ERROR_INVALID_PARAMETER and nothing is applied. A device's `driver` may lack
  mark/space parity: "refuses-mark-space" fails MARK and SPACE that way,
  "odd-even" applies them as ODD and EVEN and reports those.
- SetCommTimeouts: the five COMMTIMEOUTS fields, which ReadFile and WriteFile
  then follow as Windows does (total = multiplier x bytes + constant; an
  interval timeout between bytes; MAXDWORD, 0, 0 returns at once).
- WriteFile: synchronous; writes the bytes to the slave within the write
  timeout and returns once the terminal has read them, as a serial write
  returns once its bytes are on the line; reports the count written.
- ReadFile: synchronous, within the read timeouts; reports the count read.
- ClearCommError: a COMSTAT (the flag bits, cbInQue, cbOutQue): cbInQue the
  bytes waiting on the slave, cbOutQue the bytes written that the terminal has
  not yet read; no line errors.
- PurgeComm: PURGE_RXCLEAR and PURGE_TXCLEAR flush the slave's queues.
- CloseHandle (standins.py): closes the port like any handle.

Calls on a handle that is not an open port fail with ERROR_INVALID_HANDLE, as
they do on Windows: a DLL that uses INVALID_HANDLE_VALUE after a failed open
meets this.

Besides serving the calls, the ports check the library's contract with its
port (how it opens, sets and uses one) and record every departure in
`violations`: CreateFileA's arguments (GENERIC_READ | GENERIC_WRITE, share 0,
no security attributes, OPEN_EXISTING, flags 0, no template), a DCB given to
SetCommState that differs from the device's in anything but BaudRate,
fParity, ByteSize, Parity and StopBits, or with DCBlength other than 28,
fParity not set or ByteSize not 8, overlapped I/O, a ReadFile of other than
one byte, a purge of the output.
`log` records each call with its tick.
"""

import errno
import fcntl
import os
import re
import select
import struct
import termios
import time

import pty_line
from standins import ERROR_INVALID_HANDLE, ERROR_INVALID_PARAMETER
from win32_executor import StandIns

table = StandIns()

INVALID_HANDLE_VALUE = 0xFFFFFFFF
GENERIC_READ_WRITE = 0xC0000000
OPEN_EXISTING = 3
ERROR_FILE_NOT_FOUND = 2
ERROR_ACCESS_DENIED = 5
ERROR_GEN_FAILURE = 31
ERROR_INVALID_USER_BUFFER = 1784
MAXDWORD = 0xFFFFFFFF
PURGE_TXABORT, PURGE_RXABORT, PURGE_TXCLEAR, PURGE_RXCLEAR = 1, 2, 4, 8

DCB = struct.Struct("<IIIHHHBBBBBBBBH")
DCB_FIELDS = ("DCBlength", "BaudRate", "flags", "wReserved", "XonLim", "XoffLim", "ByteSize",
              "Parity", "StopBits", "XonChar", "XoffChar", "ErrorChar", "EofChar", "EvtChar",
              "wReserved1")
assert DCB.size == 28
# The bit fields of DCB.flags: name -> (first bit, width).
DCB_BITS = {"fBinary": (0, 1), "fParity": (1, 1), "fOutxCtsFlow": (2, 1), "fOutxDsrFlow": (3, 1),
            "fDtrControl": (4, 2), "fDsrSensitivity": (6, 1), "fTXContinueOnXoff": (7, 1),
            "fOutX": (8, 1), "fInX": (9, 1), "fErrorChar": (10, 1), "fNull": (11, 1),
            "fRtsControl": (12, 2), "fAbortOnError": (14, 1), "fDummy2": (15, 17)}
COMSTAT = struct.Struct("<III")        # flag bits, cbInQue, cbOutQue
COMMTIMEOUTS = struct.Struct("<IIIII")
TIMEOUT_FIELDS = ("ReadIntervalTimeout", "ReadTotalTimeoutMultiplier", "ReadTotalTimeoutConstant",
                  "WriteTotalTimeoutMultiplier", "WriteTotalTimeoutConstant")
STANDARD_TIMEOUTS = (0xFFFF, 5, 10, 5, 10)
REOPEN_TIMEOUTS = (0, 5, 10, 5, 10)
PARITY_NAMES = {0: "NONE", 1: "ODD", 2: "EVEN", 3: "MARK", 4: "SPACE"}


def dcb_bits(flags):
    return {name: (flags >> first) & ((1 << width) - 1)
            for name, (first, width) in DCB_BITS.items()}


def pack_dcb(**fields):
    flags = 0
    for name, (first, width) in DCB_BITS.items():
        flags |= (fields.pop(name, 0) & ((1 << width) - 1)) << first
    values = {"DCBlength": DCB.size, "flags": flags, **fields}
    return DCB.pack(*[values.get(name, 0) for name in DCB_FIELDS])


# What a USB serial adapter reports before anyone set it: 9600 8N1, binary,
# DTR and RTS on, XON/XOFF characters and limits set but off. Distinct values
# in the fields the library must leave alone make a DCB it mangles show.
DEVICE_DCB = pack_dcb(BaudRate=9600, fBinary=1, fDtrControl=1, fTXContinueOnXoff=1, fRtsControl=1,
                      XonLim=2048, XoffLim=512, ByteSize=8, Parity=0, StopBits=0, XonChar=0x11,
                      XoffChar=0x13, EofChar=0x1A)
def _without_setting(dcb):
    """The DCB's fields with those a line setting may change cleared."""
    values = dict(zip(DCB_FIELDS, DCB.unpack(dcb)))
    for name in ("DCBlength", "BaudRate", "ByteSize", "Parity", "StopBits"):
        values[name] = 0
    values["flags"] &= ~(1 << DCB_BITS["fParity"][0])
    return values


class Device:
    """A COM port: its name, the terminal on the other end, the DCB and the
    timeouts the driver keeps, and the handle that has it open."""

    def __init__(self, name, terminal):
        self.name = name
        self.terminal = terminal
        self.dcb = DEVICE_DCB
        self.driver = "applies"    # or "refuses-mark-space", "odd-even" (SetCommState)
        self.timeouts = (0, 0, 0, 0, 0)
        self.open_handle = None
        self.fd = None
        self.on_line_until = 0     # the terminal's byte count once the last write is read

    def replace_driver(self, driver):
        """Another driver, fresh: the DCB as it reports before anyone set it."""
        self.driver = driver
        self.dcb = DEVICE_DCB


class Port:
    """What an open port's handle stands for."""

    def __init__(self, device, ports):
        self.device = device
        self.ports = ports

    def write_file(self, data, overlapped):
        """Within the write timeouts; returns once the terminal has the bytes."""
        ports, device = self.ports, self.device
        if overlapped:
            ports.violation("WriteFile with an OVERLAPPED: the library writes synchronously")
        _, _, _, multiplier, constant = device.timeouts
        limit = (multiplier * len(data) + constant) / 1000 if multiplier or constant else None
        start = time.monotonic()
        heard_before = device.terminal.heard_count()
        written = 0
        while written < len(data):
            remaining = None if limit is None else limit - (time.monotonic() - start)
            if remaining is not None and remaining <= 0:
                break
            _, writable, _ = select.select([], [device.fd], [], remaining)
            if not writable:
                break
            try:
                written += os.write(device.fd, data[written:])
            except BlockingIOError:
                continue
            except OSError:
                break
        # The write returns once its bytes are on the line: the terminal has them.
        device.on_line_until = heard_before + written
        device.terminal.wait_heard(device.on_line_until, 5.0)
        ports.note("WriteFile", device.name,
                   f"{written} of {len(data)}: {data[:written].hex(' ').upper()}")
        return written

    def read_file(self, count, overlapped):
        ports, device = self.ports, self.device
        if overlapped:
            ports.violation("ReadFile with an OVERLAPPED: the library reads synchronously")
        if count != 1:
            ports.violation(f"ReadFile of {count} bytes: the library reads one byte at a time")
        interval, multiplier, constant, _, _ = device.timeouts
        data = _read(device.fd, count, interval, multiplier, constant)
        if data is None:
            ports.process.last_error = ERROR_GEN_FAILURE
        return data

    def close(self):
        device = self.device
        self.ports.note("CloseHandle", device.name)
        os.close(device.fd)
        device.fd = None
        device.open_handle = None


class ComPorts:
    """The ports of one process: process.state["com_ports"]."""

    def __init__(self, process, terminals):
        self.process = process
        self.devices = {name.upper(): Device(name, terminal)
                        for name, terminal in terminals.items()}
        self.violations = []
        self.log = []
        process.state["com_ports"] = self
        process.state.setdefault("openers", []).append(self.open)

    def open(self, name, access, share, security, disposition, flags, template):
        """CreateFileA of a COM port ("COM5", "\\\\.\\COM5"); None for any other name."""
        bare = name[4:] if name.startswith("\\\\.\\") else name
        if not re.fullmatch(r"COM\d+", bare, re.IGNORECASE):
            return None
        process = self.process
        expected = (GENERIC_READ_WRITE, 0, 0, OPEN_EXISTING, 0, 0)
        if (access, share, security, disposition, flags, template) != expected:
            self.violation(f"CreateFileA({name!r}, 0x{access:X}, {share}, 0x{security:X}, "
                           f"{disposition}, 0x{flags:X}, 0x{template:X}): the library opens with "
                           f"GENERIC_READ|GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL")
        device = self.devices.get(bare.upper())
        if device is None or device.open_handle is not None:
            self.note("CreateFileA", name, "not found" if device is None else "busy")
            process.last_error = ERROR_FILE_NOT_FOUND if device is None else ERROR_ACCESS_DENIED
            return INVALID_HANDLE_VALUE
        device.fd = os.open(device.terminal.port, os.O_RDWR | os.O_NOCTTY | os.O_NONBLOCK)
        pty_line.set(device.fd, pty_line.make_raw(pty_line.get(device.fd)))
        _apply(device, device.dcb)
        handle = process.new_handle(Port(device, self))
        device.open_handle = handle
        self.note("CreateFileA", device.name, f"handle 0x{handle:X}")
        return handle

    def note(self, call, port, detail=""):
        self.log.append((self.process.tick(), call, port, detail))

    def violation(self, text):
        self.violations.append(f"{self.process.current_call}: {text}")

    def open_handles(self):
        return [d.name for d in self.devices.values() if d.open_handle is not None]

    def port(self, handle):
        return self.process.object_of(handle, Port)


def _ports(process):
    return process.state["com_ports"]


def _port_or_fail(process, handle):
    port = _ports(process).port(handle)
    if port is None:
        process.last_error = ERROR_INVALID_HANDLE
    return port


# ---- the stand-ins ---------------------------------------------------------

@table.winapi(7)
def CreateFileA(process, name_address, access, share, security, disposition, flags, template):
    """Asks each opener in process.state["openers"] (the COM ports; a file
    group would add its own) in turn; a name none of them takes is not found."""
    name = process.cstring(name_address).decode("latin-1")
    for opener in process.state.get("openers", []):
        handle = opener(name, access, share, security, disposition, flags, template)
        if handle is not None:
            return handle
    process.last_error = ERROR_FILE_NOT_FOUND
    return INVALID_HANDLE_VALUE


@table.winapi(2)
def SetCommTimeouts(process, handle, timeouts_address):
    port = _port_or_fail(process, handle)
    if port is None:
        return 0
    port.device.timeouts = COMMTIMEOUTS.unpack(process.read(timeouts_address, COMMTIMEOUTS.size))
    name = {STANDARD_TIMEOUTS: "standard", REOPEN_TIMEOUTS: "re-open"}.get(port.device.timeouts)
    _ports(process).note("SetCommTimeouts", port.device.name, name or str(port.device.timeouts))
    return 1


@table.winapi(2)
def GetCommState(process, handle, dcb_address):
    port = _port_or_fail(process, handle)
    if port is None:
        return 0
    process.write(dcb_address, port.device.dcb)
    return 1


@table.winapi(2)
def SetCommState(process, handle, dcb_address):
    port = _port_or_fail(process, handle)
    if port is None:
        return 0
    ports = _ports(process)
    device = port.device
    dcb = process.read(dcb_address, DCB.size)
    values = dict(zip(DCB_FIELDS, DCB.unpack(dcb)))
    bits = dcb_bits(values["flags"])
    if values["DCBlength"] != DCB.size:
        ports.violation(f"SetCommState: DCBlength {values['DCBlength']}, not {DCB.size}")
    if bits["fParity"] != 1 or values["ByteSize"] != 8:
        ports.violation(f"SetCommState: fParity {bits['fParity']}, ByteSize {values['ByteSize']} "
                        f"(a line setting has fParity 1 and ByteSize 8)")
    before, after = _without_setting(device.dcb), _without_setting(dcb)
    changed = [name for name in DCB_FIELDS if before[name] != after[name]]
    if changed:
        detail = ", ".join(changed)
        if "flags" in changed:
            old, new = dcb_bits(before["flags"]), dcb_bits(after["flags"])
            bits = [f"{k} {old[k]}->{new[k]}" for k in old if old[k] != new[k]]
            detail += " (" + ", ".join(bits) + ")"
        ports.violation(f"SetCommState changes {detail}: a line setting changes only BaudRate, "
                        f"fParity, ByteSize, Parity and StopBits")
    stick = values["Parity"] in (3, 4)
    if stick and device.driver == "odd-even":
        dcb = DCB.pack(*{**values, "Parity": values["Parity"] - 2}.values())
    if not (5 <= values["ByteSize"] <= 8 and values["Parity"] <= 4 and values["StopBits"] <= 2
            and values["BaudRate"]) or (stick and device.driver == "refuses-mark-space"):
        ports.note("SetCommState", device.name, "rejected")
        process.last_error = ERROR_INVALID_PARAMETER
        return 0
    _apply(device, dcb)
    device.dcb = dcb
    ports.note("SetCommState", device.name, f"{PARITY_NAMES[values['Parity']]} "
               f"{'2' if values['StopBits'] == 2 else '1'} {values['BaudRate']}")
    return 1


def _apply(device, dcb):
    values = dict(zip(DCB_FIELDS, DCB.unpack(dcb)))
    bits = dcb_bits(values["flags"])
    t = pty_line.get(device.fd)
    cflag = t.cflag & ~(pty_line.CSIZE | pty_line.PARENB | pty_line.PARODD | pty_line.CMSPAR
                        | pty_line.CSTOPB | pty_line.CRTSCTS)
    sizes = {5: pty_line.CS5, 6: pty_line.CS6, 7: pty_line.CS7, 8: pty_line.CS8}
    cflag |= sizes[values["ByteSize"]]
    cflag |= {0: 0, 1: pty_line.PARENB | pty_line.PARODD, 2: pty_line.PARENB,
              3: pty_line.PARENB | pty_line.CMSPAR | pty_line.PARODD,
              4: pty_line.PARENB | pty_line.CMSPAR}[values["Parity"]]
    if values["StopBits"]:
        cflag |= pty_line.CSTOPB
    if bits["fOutxCtsFlow"]:
        cflag |= pty_line.CRTSCTS
    t.cflag = cflag
    t.iflag = (pty_line.IXON if bits["fOutX"] else 0) | (pty_line.IXOFF if bits["fInX"] else 0)
    pty_line.set(device.fd, pty_line.with_baud(t, values["BaudRate"]))


def _file_target(process, handle, count_address, method):
    """The handle's object if it has `method`; the count is 0 until the call
    reports one, and a handle without it fails with ERROR_INVALID_HANDLE."""
    if count_address:
        process.put_u32(count_address, 0)
    target = process.object_of(handle)
    if not hasattr(target, method):
        process.last_error = ERROR_INVALID_HANDLE
        return None
    return target


@table.winapi(5)
def WriteFile(process, handle, buffer, count, written_address, overlapped):
    """Any handle whose object has write_file(data, overlapped) -> count."""
    target = _file_target(process, handle, written_address, "write_file")
    written = None if target is None else target.write_file(
        process.read(buffer, count) if count else b"", overlapped)
    if written is None:
        return 0
    if written_address:
        process.put_u32(written_address, written)
    return 1


@table.winapi(5)
def ReadFile(process, handle, buffer, count, read_address, overlapped):
    """Any handle whose object has read_file(count, overlapped) -> bytes."""
    target = _file_target(process, handle, read_address, "read_file")
    data = None if target is None else target.read_file(count, overlapped)
    if data is None:
        return 0
    if data:
        process.write(buffer, data)
    if read_address:
        process.put_u32(read_address, len(data))
    return 1


def _read(fd, count, interval, multiplier, constant):
    """Windows' COMMTIMEOUTS rules for a synchronous read of count bytes.
    None when the device is gone."""
    if count == 0:
        return b""
    if interval == MAXDWORD and multiplier == 0 and constant == 0:
        total = 0.0                                     # what is there, at once
    elif interval == MAXDWORD and multiplier == MAXDWORD and 0 < constant < MAXDWORD:
        total, interval = constant / 1000, 0            # the first byte within constant
    elif multiplier == 0 and constant == 0:
        total = None                                    # no total limit
    else:
        total = (multiplier * count + constant) / 1000
    start = time.monotonic()
    data = b""
    last = None
    while len(data) < count:
        waits = []
        if total is not None:
            waits.append(total - (time.monotonic() - start))
        if interval and data and interval != MAXDWORD:
            waits.append(interval / 1000 - (time.monotonic() - last))
        wait = max(0.0, min(waits)) if waits else None
        readable, _, _ = select.select([fd], [], [], wait)
        if not readable:
            break
        try:
            chunk = os.read(fd, count - len(data))
        except BlockingIOError:
            continue
        except OSError as error:
            if error.errno == errno.EIO:
                return None
            raise
        data += chunk
        last = time.monotonic()
    return data


@table.winapi(3)
def ClearCommError(process, handle, errors_address, status_address):
    port = _port_or_fail(process, handle)
    if port is None:
        return 0
    device = port.device
    if errors_address:
        process.put_u32(errors_address, 0)
    if status_address:
        waiting = int.from_bytes(fcntl.ioctl(device.fd, termios.FIONREAD, b"\0" * 4), "little")
        unsent = max(0, device.on_line_until - device.terminal.heard_count())
        process.write(status_address, COMSTAT.pack(0, waiting, unsent))
    return 1


@table.winapi(2)
def PurgeComm(process, handle, flags):
    ports = _ports(process)
    if flags & (PURGE_TXCLEAR | PURGE_TXABORT):
        ports.violation(f"PurgeComm(0x{flags:X}): the library never purges the output")
    port = _port_or_fail(process, handle)
    if port is None:
        return 0
    if flags & PURGE_RXCLEAR:
        termios.tcflush(port.device.fd, termios.TCIFLUSH)
    if flags & PURGE_TXCLEAR:
        termios.tcflush(port.device.fd, termios.TCOFLUSH)
    ports.note("PurgeComm", port.device.name, f"0x{flags:X}")
    return 1
