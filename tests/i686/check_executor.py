#!/usr/bin/env python3
"""Checks the executor itself with probe.dll (probe/probe.c), built from
mingw-w64's own Windows headers:

- layouts: the DCB (every bit field and byte, two patterns), COMSTAT and
  COMMTIMEOUTS as the headers lay them out, against the ones com_ports.py
  reads and writes;
- the serial stand-ins as a Windows program uses them, over a pseudo-terminal
  with a terminal behind it: exclusive open, MARK/SPACE/NONE, two stop bits and
  a non-standard baud seen on the line, a refused DCB, ClearCommError's counts,
  ReadFile and its timeout, PurgeComm, CloseHandle twice, calls on an invalid
  handle, an unknown port;
- errors, threads, TLS, the heap, modules, environment and clock:
  GetLastError/SetLastError (also read straight from the TEB), SwitchToThread,
  TlsAlloc/TlsGetValue/TlsSetValue/TlsFree, Sleep against GetTickCount,
  realloc, GetModuleHandleA, GetEnvironmentVariableA, GetSystemTimeAsFileTime;
- the executor's own rules: an import with no stand-in, a __cdecl export
  called as __stdcall, EBX not preserved, a null read, a heap block written
  past its end, a double free and a write to read-only data must each fail,
  naming the cause.

  check_executor.py --probe build/linux/tests/i686/probe.dll
Exit status 0 when every check holds, 1 otherwise, 77 when python3-unicorn
or python3-pefile is missing.
"""

import argparse
import os
import struct
import sys
import time

try:
    import pefile  # noqa: F401
    import unicorn  # noqa: F401
except ImportError as missing:
    print(f"skipped: {missing.name} is not installed (Debian: python3-unicorn, python3-pefile; "
          f"scripts/setup.sh installs them)")
    sys.exit(77)

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import com_ports  # noqa: E402
import standins  # noqa: E402
from pty_terminal import PtyTerminal, render  # noqa: E402
from win32_executor import Fault, Process, StandIns  # noqa: E402

failures = []


def check(what, condition, detail=""):
    print(f"  {'ok  ' if condition else 'FAIL'} {what}" + (f": {detail}" if detail else ""))
    if not condition:
        failures.append(what)


def words(process, address, count):
    return struct.unpack(f"<{count}I", process.read(address, 4 * count))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--probe")
    parser.add_argument("--skip", help="why the probe could not be built: skip with this line")
    args = parser.parse_args()
    if args.skip:
        print(f"skipped: {args.skip}")
        return 77
    if not os.path.exists(args.probe):
        print(f"FAIL: {args.probe} is missing "
              f"(the linux preset builds it with i686-w64-mingw32-gcc)")
        return 1

    table = StandIns()
    table.update(standins.table)
    table.update(com_ports.table)
    terminal = PtyTerminal()
    process = Process(table)
    ports = com_ports.ComPorts(process, {"COM5": terminal})
    probe = process.load(args.probe)
    print(f"{args.probe}: loaded at 0x{probe.base:08X}")

    print("layouts (mingw-w64 headers against com_ports.py):")
    out = process.host_buffer(bytes(56))
    process.call(probe, "probe_dcb_layout", [out])
    a = com_ports.pack_dcb(
        BaudRate=0x01234567, fBinary=1, fOutxDsrFlow=1, fDtrControl=2, fTXContinueOnXoff=1, fInX=1,
        fNull=1, fRtsControl=3, fDummy2=0x1ABCD, wReserved=0x1111, XonLim=0x2222, XoffLim=0x3333,
        ByteSize=0x44, Parity=0x55, StopBits=0x66, XonChar=0x77, XoffChar=0x78, ErrorChar=0x79,
        EofChar=0x7A, EvtChar=0x7B, wReserved1=0x7C7D)
    b = com_ports.pack_dcb(fParity=1, fOutxCtsFlow=1, fDsrSensitivity=1, fOutX=1, fErrorChar=1,
                           fAbortOnError=1, fRtsControl=1, fDtrControl=1)
    b = b"\0\0\0\0" + b[4:]   # the probe leaves DCBlength 0 in the second
    got = process.read(out, 56)
    check("DCB, first pattern", got[:28] == a, f"{got[:28].hex(' ')} vs {a.hex(' ')}")
    check("DCB, second pattern (the other bit fields)", got[28:] == b,
          f"{got[28:].hex(' ')} vs {b.hex(' ')}")
    out = process.host_buffer(bytes(32))
    process.call(probe, "probe_other_layouts", [out])
    sizes = words(process, out, 8)
    check("sizes and offsets: DCB 28, COMSTAT 12 (cbInQue 4, cbOutQue 8), COMMTIMEOUTS 20 "
          "(constants at 8, 16), CRITICAL_SECTION 24",
          sizes == (com_ports.DCB.size, com_ports.COMSTAT.size, 4, 8, com_ports.COMMTIMEOUTS.size,
                    8, 16, 24), str(sizes))

    print("serial stand-ins over a pseudo-terminal:")
    terminal.preload(b"ab")      # two bytes waiting in the port, for ClearCommError and ReadFile
    out = process.host_buffer(bytes(4 * 15))
    name = process.host_buffer(b"COM5\0")
    process.call(probe, "probe_serial", [name, out])
    terminal.wait_answered(2)
    r = words(process, out, 15)
    check("CreateFileA opens the port", r[0] == 1)
    check("a second open fails: ERROR_ACCESS_DENIED", r[1] == 5, str(r[1]))
    check("SetCommTimeouts", r[2] == 1)
    check("three settings and writes", r[3] == 7, str(r[3]))
    heard = render(terminal.heard_bytes())
    check("the terminal hears MARK 2 stop bits 250000, SPACE 9600, NONE 19200", heard ==
          "M2@250000 A5 | S 5A | N@19200 3C", heard)
    check("a DCB with ByteSize 9 is refused: ERROR_INVALID_PARAMETER", r[4] == 87, str(r[4]))
    check("and nothing of it applied", r[5] == 8 | 0 << 8 | 19200 << 16, hex(r[5]))
    check("ClearCommError: cbInQue 2, cbOutQue 0, no errors", r[6] == 2, hex(r[6]))
    check("ReadFile takes one byte", r[7] == 1 | 1 << 8 | 0x61 << 16, hex(r[7]))
    check("PurgeComm(PURGE_RXCLEAR) discards the other", r[8] == 0, str(r[8]))
    check("ReadFile with nothing there: TRUE, 0 bytes", r[9] == 1, hex(r[9]))
    check("within 5 x 1 + 10 ms", 15 <= r[10] <= 200, f"{r[10]} ticks")
    check("CloseHandle", r[11] == 1)
    check("CloseHandle again: ERROR_INVALID_HANDLE", r[12] == 6, str(r[12]))
    check("WriteFile on INVALID_HANDLE_VALUE: FALSE, 0 written", r[13] == 0, hex(r[13]))
    check("an unknown port: ERROR_FILE_NOT_FOUND", r[14] == 2, str(r[14]))
    check("the refused DCB recorded as a departure from the port contract, and nothing else",
          len(ports.violations) == 1 and "ByteSize 9" in ports.violations[0],
          "; ".join(ports.violations))

    print("errors, threads, TLS, heap, modules:")
    process.state["environment"] = {"TARVEX_PROBE": "abc"}
    out = process.host_buffer(bytes(60))
    heap_before = set(process.heap.live)
    process.call(probe, "probe_process", [out])
    r = words(process, out, 15)
    check("SetLastError / GetLastError", r[0] == 0x12345678, hex(r[0]))
    check("the last error in the TEB", r[1] == 0x12345678, hex(r[1]))
    check("SwitchToThread", r[2] == 1)
    check("TlsAlloc, TlsSetValue, TlsGetValue, TlsFree", r[3:6] == (1, 0xCAFE, 1), str(r[3:6]))
    check("GetCurrentThreadId", r[6] == 1)
    check("Sleep(20) against GetTickCount", 20 <= r[7] < 1000, f"{r[7]} ticks")
    check("malloc, realloc, free: nothing left on the heap",
          r[8] == 1 and set(process.heap.live) == heap_before)
    check("GetModuleHandleA of the DLL gives its base", r[9] == 1)
    check("GetEnvironmentVariableA: the size needed, the value (any case), not set: 203",
          (r[10], r[11], r[12]) == (4, 3 | ord("a") << 8, 203 << 8), str(r[10:13]))
    filetime = r[13] | r[14] << 32
    seconds = (filetime - standins.FILETIME_EPOCH) / 1e7
    check("GetSystemTimeAsFileTime: the host's time", abs(seconds - time.time()) < 60,
          f"{seconds:.0f}")

    print("the executor's own rules:")
    breakers = [
        ("probe_unknown_import", [], "KERNEL32.dll!Beep, which has no stand-in"),
        ("probe_cdecl", [1, 2], "popped 0 bytes of arguments; __stdcall with 2 arguments pops 8"),
        ("probe_clobbers_ebx", [], "EBX not preserved"),
        ("probe_null_read", [0], "read of unmapped memory 0x00000000"),
        ("probe_heap_overflow", [8], "written past its end"),
        ("probe_double_free", [], "not a live heap block"),
        ("probe_write_constant", [1], "write to read-only memory"),
    ]
    for export, call_args, expected in breakers:
        try:
            process.call(probe, export, call_args)
            check(f"{export} fails", False, "it returned")
        except Fault as fault:
            check(f"{export} fails: {expected}", expected in str(fault), str(fault))

    terminal.close()
    print(f"{len(failures)} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
