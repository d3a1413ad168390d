#!/usr/bin/env python3
"""The shipped i686 DLLs' own machine code, run under the executor.

  run_cases.py --build current --dll build/win32/current/tarvex.dll --table T --so S
  run_cases.py --build legacy --dll build/win32/legacy/tarvex.dll --table T --so S

The current build is called by name, the legacy build by ordinal, as 32-bit
__stdcall hosts call them, each with the number of arguments its row of the
entry point table (src/exports/entry_point_table.h) gives. Each exchange case runs
against a scripted terminal on a pseudo-terminal (COM5 in the DLL's eyes) and
checks the result codes, the caller's buffers, the bytes the terminal heard
with the parity, stop bits and baud each was sent under, the opens and their
timeout sets, a lower bound on the GetTickCount ticks (the busy waits), and
that the call left no port open, no heap block behind and no departure from
the library's contract with its port (com_ports.py). The tick starts a few ms before its 32-bit wrap in
every case, so every busy wait and limit is measured across the wrap. Every
call's stack and registers are checked by the executor (win32_executor.py).

The transforms are compared with the Linux shared object of the same build
(the same sources, 64-bit) over a fixed set of pseudo-random codes and the
known vectors, and run in place (input and output one buffer).

Exit status 0 when every case passes, 1 otherwise; 77 (skipped) when
python3-unicorn or python3-pefile is missing.
"""

import argparse
import ctypes
import os
import random
import re
import sys
import time
from dataclasses import dataclass, field

try:
    import pefile  # noqa: F401
    import unicorn  # noqa: F401
except ImportError as missing:
    print(f"skipped: {missing.name} is not installed (Debian: python3-unicorn, python3-pefile; "
          f"scripts/setup.sh installs them)")
    sys.exit(77)

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(1, os.path.join(HERE, "..", "pe"))
import com_ports  # noqa: E402
import log_files  # noqa: E402
import standins  # noqa: E402
from pty_terminal import PtyTerminal, render  # noqa: E402
from win32_executor import Fault, Process, StandIns, signed32  # noqa: E402

PORT_NAME = "COM5"
TICK_BEFORE_WRAP = 6          # each case starts this many ms before the tick wraps
GUARD = 0xEE


# ---- arguments ---------------------------------------------------------------

@dataclass
class B:
    """A byte buffer: hex bytes, then `spare` bytes of 0xEE (checksum room)."""
    hex: str
    spare: int = 1


@dataclass
class T:
    """Text (hex text, card lists), exactly these characters."""
    text: str


@dataclass
class Out:
    """An output buffer of n bytes of 0xEE."""
    size: int


PORT = "PORT"        # the port name, "COM5"
HELD = "HELD"        # the handle the case's com_init returned
HANDLE = "HANDLE"    # expected result: a valid handle (kept as HELD)


@dataclass
class Call:
    entry: str
    args: list
    result: object = 0
    after: dict = field(default_factory=dict)   # argument index -> hex bytes (str) or raw bytes
    last_error: int = None       # what GetLastError then says, where the case checks it


@dataclass
class Case:
    name: str
    calls: list
    answers: list = field(default_factory=list)  # (after_bytes, hex); after_bytes 0 = preload
    wire: str = ""               # what the terminal heard, as pty_terminal.render prints it
    opens: tuple = ()            # the timeout set of each open, in order
    ticks: int = 0               # at least this many GetTickCount ticks (the busy waits)
    legacy: dict = None          # fields that differ in the legacy build
    driver: str = "applies"      # the COM port's driver (com_ports.Device.driver)


def cards(*numbers):
    """Card entries, 3 bytes each: bit 16, bits 8-15, bits 0-7."""
    return " ".join(f"{n >> 16 & 1:02X} {n >> 8 & 0xFF:02X} {n & 0xFF:02X}" for n in numbers)


SERIES = list(range(100, 131001, 100))    # 1310 cards: the largest bitmap (16250 bytes)

# ---- the exchanges -----------------------------------------------------------
# One or more exchanges of every family, on every exchange entry point. A case
# whose calls are not all in the legacy build is left out there; the legacy
# ten are called by ordinal.

CASES = [
    # Request and reply.
    Case("getdata 05 C2, acknowledged",
         [Call("getdata", [2, B("05 C2"), 8, Out(10), PORT], 0,
               {1: "05 C2 C7", 3: "20 26 12 08 17 00 05 01 7D EE"})],
         answers=[(3, "20 26 12 08 17 00 05 01 7D")],
         wire="M 05 | S C2 C7 02 4F", opens=("standard",), ticks=9 + 9 + 9,
         legacy=dict(opens=("standard", "re-open"), ticks=0)),
    Case("getdata 07 C1 10, a wrong checksum",
         [Call("getdata", [3, B("07 C1 10"), 2, Out(4), PORT], 4, {3: "41 42 00 EE"})],
         answers=[(4, "41 42 00")],
         wire="M 07 | S C1 10 D8", opens=("standard",), ticks=9 + 9,
         legacy=dict(opens=("standard", "re-open"), ticks=0)),
    Case("nGetData at 19200 baud",
         [Call("nGetData", [3, B("07 C1 10"), 3, Out(5), PORT, 19200, 1000], 0,
               {1: "07 C1 10 D8", 3: "41 42 43 C6 EE"})],
         answers=[(4, "41 42 43 C6")],
         wire="M@19200 07 | S@19200 C1 10 D8 02 4F", opens=("standard",), ticks=9 + 9 + 9),
    Case("dxGetdata: the whole frame under MARK",
         [Call("dxGetdata", [2, B("05 A1"), 4, Out(6), PORT], 0, {3: "05 01 07 00 0D EE"})],
         answers=[(3, "05 01 07 00 0D")],
         wire="M 05 A1 A6", opens=("standard",)),
    Case("held port: Nget in MARK, HANDLE_GetData, Nget in SPACE",
         [Call("com_init", [PORT, 19200], HANDLE),
          Call("Nget", [2, B("05 A1"), 2, Out(3), HELD], 0, {3: "11 22 33"}),
          Call("HANDLE_GetData", [HELD, 3, B("07 C1 10"), 3, Out(4), 2000], 0,
               {4: "41 42 43 C6"}),
          Call("Nget", [2, B("05 A1"), 2, Out(3), HELD], 0, {3: "44 55 99"}),
          Call("com_exit", [HELD], 0)],
         answers=[(3, "11 22 33"), (4, "41 42 43 C6"), (5, "44 55 99")],
         wire="M@19200 05 A1 A6 07 | S@19200 C1 10 D8 02 4F 05 A1 A6",
         opens=("standard",), ticks=19 * 3 + 5 + 5),

    # Command with data block.
    Case("senddata 05 B1 10 02, block AA BB",
         [Call("senddata", [4, B("05 B1 10 02"), 2, B("AA BB"), PORT], 0,
               {1: "05 B1 10 02 C8", 3: "AA BB 65"})],
         answers=[(8, "02 4F")],
         wire="M 05 | S2 B1 10 02 C8 AA BB 65", opens=("standard",), ticks=9 + 10 + 10 + 11,
         legacy=dict(opens=("standard", "re-open"), ticks=30)),
    Case("senddata answered 02 4E",
         [Call("senddata", [2, B("05 B2"), 1, B("7F"), PORT], 0)],
         answers=[(5, "02 4E")],
         wire="M 05 | S2 B2 B7 7F 7F", opens=("standard",), ticks=9 + 10 + 10 + 11,
         legacy=dict(calls=[Call("senddata", [2, B("05 B2"), 1, B("7F"), PORT], 4)],
                     opens=("standard", "re-open"), ticks=30)),
    Case("nSendData at 19200 baud",
         [Call("nSendData", [3, B("07 B1 00"), 1, B("55"), PORT, 19200, 1000], 0,
               {1: "07 B1 00 B8", 3: "55 55"})],
         answers=[(6, "02 4F")],
         wire="M@19200 07 | S@19200 B1 00 B8 55 55", opens=("standard",), ticks=9 + 9 + 10 + 11),
    Case("dxSenddata: frame and block under MARK",
         [Call("dxSenddata", [2, B("05 B2"), 2, B("01 02"), PORT], 0, {3: "01 02 03"})],
         answers=[(6, "02 4F")],
         wire="M 05 B2 B7 01 02 03", opens=("standard",), ticks=30),
    Case("held port: HANDLE_SendData, sendDataUIM, Nsend",
         [Call("com_init", [PORT, 9600], HANDLE),
          Call("HANDLE_SendData", [HELD, 4, B("05 B1 10 02"), 2, B("AA BB"), 1000], 0),
          Call("sendDataUIM", [HELD, 2, B("05 B2"), 1, B("11"), 1000], 0),
          Call("Nsend", [2, B("05 B2"), 1, B("11"), HELD], 0),
          Call("com_exit", [HELD], 0)],
         answers=[(8, "02 4F"), (5, "02 4F")],
         wire="M 05 | S B1 10 02 C8 AA BB 65 | N 05 | S B2 B7 11 11 05 B2 B7 11 11",
         opens=("standard",), ticks=(19 * 4 + 20) * 2 + 30),

    # Hex text: the port is re-opened between the address byte and the rest.
    Case("getdata_hex 05c2",
         [Call("getdata_hex", [2, T("05c2"), 8, Out(19), PORT], 0,
               {3: b"20261208170005017D\xEE"})],
         answers=[(3, "20 26 12 08 17 00 05 01 7D")],
         wire="M 05 | S C2 C7 02 4F", opens=("standard", "re-open")),
    Case("senddata_hex 05B11002, block aabb",
         [Call("senddata_hex", [4, T("05B11002"), 2, T("aabb"), PORT], 0)],
         answers=[(8, "02 4F")],
         wire="M 05 | S B1 10 02 C8 AA BB 65", opens=("standard", "re-open")),

    # Blacklist download.
    Case("sendBlack 05, cards 1 2 3 9 17",
         [Call("sendBlack", [5, 5, B(cards(1, 2, 3, 9, 17), 0), PORT], 0)],
         answers=[(15, "02 4F")],
         wire="M 05 | S A5 00 00 AA 00 00 03 00 00 00 07 01 01 0C",
         opens=("standard", "re-open")),
    Case("sendBlack, the largest block: 16257 bytes in one write",
         [Call("sendBlack", [0x105, len(SERIES), B(cards(*SERIES), 0), PORT], 0)],
         answers=[(4 + 16257, "02 4F")],
         wire="(16262 bytes)", opens=("standard", "re-open")),
    Case("sendBlack with no cards: 6, no port",
         [Call("sendBlack", [5, 0, B("", 3), PORT], 6)]),
    Case("sendBlack_hex 05, cards 000001 000002",
         [Call("sendBlack_hex", [5, 2, T("000001000002"), PORT], 0)],
         answers=[(12, "02 4F")],
         wire="M 05 | S A5 00 00 AA 00 00 01 00 00 00 03 04", opens=("standard", "re-open")),
    Case("sSendBlack 0x0112, A5, card 1",
         [Call("sSendBlack", [0x0112, 0xA5, 1, B(cards(1), 0), PORT], 0)],
         answers=[(12, "02 4F")],
         wire="M 12 | S A5 01 00 B7 00 00 01 00 00 00 01 02", opens=("standard", "re-open")),

    # On-line query: replies under 80 and 100 ms limits wait in the port.
    Case("onNet 05, the worked example",
         [Call("onNet", [0x105, Out(8), PORT], 0, {1: "05 0A 0B 01 02 03 04 EE"})],
         answers=[(0, "12 34 01 02 03 04 00 50 00 05 0A 0B 00 1A")],
         wire="M 05 | S A0 00 00 A5 | M 00 | S B4 12 34 FA", opens=("standard",),
         ticks=9 + 9 + 11 + 16 + 16 + 16 + 6),
    Case("held port: HANDLE_OnNet 05",
         [Call("com_init", [PORT, 9600], HANDLE),
          Call("HANDLE_OnNet", [HELD, 5, Out(8)], 0, {2: "05 0A 0B 01 02 03 04 EE"}),
          Call("com_exit", [HELD], 0)],
         answers=[(0, "12 34 01 02 03 04 00 50 00 05 0A 0B 00 1A")],
         wire="M 05 | S A0 00 00 A5 | M 00 | S B4 12 34 FA", opens=("standard",),
         ticks=21 + 6 + 11 + 11 + 16 + 9 + 11),

    # Combined and raw module exchanges.
    Case("held port: HANDLE_ComData, getDataUIM, sam_GetData",
         [Call("com_init", [PORT, 9600], HANDLE),
          Call("HANDLE_ComData", [HELD, 2, B("05 C1"), 3, B("01 02 03"), 2, Out(3), 1000], 0,
               {2: "05 C1 C6", 4: "01 02 03 06", 6: "41 42 83"}),
          Call("getDataUIM", [HELD, 3, B("05 01 02", 0), 2, Out(2), 1000], 0, {4: "AB CD"}),
          Call("sam_GetData", [HELD, 5, B("12 34 C1 00 01", 0), 3, Out(3), 1000], 0,
               {4: "01 02 03"}),
          Call("com_exit", [HELD], 0)],
         answers=[(7, "41 42 83"), (3, "AB CD"), (5, "01 02 03")],
         wire="M 05 | S C1 C6 01 02 03 06 | N 05 01 02 | M 12 34 | S C1 00 01",
         opens=("standard",), ticks=19 * 3 + 19 + 19),

    # A port that does not exist: 2, nothing sent, and com_init's all-ones handle.
    Case("no such port",
         [Call("getdata", [2, B("05 C2"), 8, Out(9), "COM9"], 2, {1: "05 C2 C7"}),
          Call("com_init", ["COM9", 9600], 0xFFFFFFFF),
          Call("com_exit", [0xFFFFFFFF], 0)]),

    # A driver without mark/space parity: no byte goes out under what it runs
    # instead, and GetLastError says why (its own refusal, or
    # ERROR_NOT_SUPPORTED for a setting it changed).
    Case("a driver that refuses MARK and SPACE",
         [Call("getdata", [2, B("05 C2"), 8, Out(9), PORT], 2, {1: "05 C2 C7"}, last_error=87),
          Call("com_init", [PORT, 9600], 0xFFFFFFFF, last_error=87)],
         opens=("standard", "standard"), driver="refuses-mark-space"),
    Case("a driver that runs ODD and EVEN for MARK and SPACE",
         [Call("getdata", [2, B("05 C2"), 8, Out(9), PORT], 2, {1: "05 C2 C7"}, last_error=50),
          Call("com_init", [PORT, 9600], 0xFFFFFFFF, last_error=50)],
         opens=("standard", "standard"), driver="odd-even"),
]


# ---- the transforms ------------------------------------------------------------
# name -> (input size, output size). Their arguments are the table's: the
# ignored first one, the buffers in and out, abcd's mode.

TRANSFORMS = {
    "keylock": (3, 3), "cardLock": (3, 3), "faka_485": (6, 6), "faka_4852": (6, 6),
    "fakaUnlock": (6, 6), "abcd": (8, 8), "change": (6, 6), "ascc": (3, 3), "MJExchangeData": (0, 0),
}
KNOWN = [  # (entry, input hex, mode, result, output hex with one guard byte)
    ("keylock", "12 34 56", None, 0, "57 2A 36 EE"),
    ("keylock", "00 0D F0", None, 1, "EE EE EE EE"),
    ("cardLock", "12 34 56", None, 0, "35 CC 25 EE"),
    ("abcd", "31 32 33 34 35 36 37 38", 0, 0, "31 36 30 42 32 43 31 32 EE"),
    ("abcd", "31 32 33 34 35 36 37 38", 1, 0, "31 33 30 39 32 38 31 31 EE"),
    ("abcd", "31 32 33 34 35 36 37 38", -1, 0, "31 32 30 43 32 37 30 43 EE"),
]


def transform_inputs(entry, size, rng):
    """Known-good codes are decimal digits; random bytes cover the rejections."""
    inputs = [bytes(size), bytes([0xFF] * size)]
    for _ in range(40):
        digits = bytes(rng.randrange(10) << 4 | rng.randrange(10) for _ in range(size))
        inputs.append(digits)
        inputs.append(bytes(rng.randrange(256) for _ in range(size)))
    if entry == "abcd":
        inputs += [bytes(rng.choice(b"0123456789") for _ in range(8)) for _ in range(20)]
    return inputs


# ---- running -------------------------------------------------------------------

class Runner:
    def __init__(self, args):
        self.build = args.build
        self.terminal = PtyTerminal()
        table = StandIns()
        table.update(standins.table)
        table.update(com_ports.table)
        self.process = Process(table)
        self.ports = com_ports.ComPorts(self.process, {PORT_NAME: self.terminal})
        self.module = self.process.load(args.dll)
        self.table = read_table(args.table)
        self.linux = ctypes.CDLL(args.so) if args.so else None
        self.failures = 0
        self.checked = 0

    def entry(self, name):
        """The export as this build's host reaches it: by ordinal in the legacy
        build, None where that build lacks it."""
        if self.build == "current":
            return name
        ordinal, legacy, _ = self.table[name]
        return ordinal if legacy != "no" else None

    def parameters(self, name):
        return self.table[name][2]

    def fail(self, case, text):
        self.failures += 1
        print(f"  FAIL {case}: {text}")

    def check(self, case, condition, text):
        self.checked += 1
        if not condition:
            self.fail(case, text)

    # -- exchanges --

    def run_case(self, case):
        overrides = case.legacy if self.build == "legacy" and case.legacy else {}
        calls = overrides.get("calls", case.calls)
        if any(self.entry(call.entry) is None for call in calls):
            return False
        wire = overrides.get("wire", case.wire)
        opens = overrides.get("opens", case.opens)
        ticks = overrides.get("ticks", case.ticks)
        process, terminal, ports = self.process, self.terminal, self.ports
        terminal.reset()
        if ports.devices[PORT_NAME].driver != case.driver:
            ports.devices[PORT_NAME].replace_driver(case.driver)
        log_start = len(ports.log)
        violations_start = len(ports.violations)
        heap_before = set(process.heap.live)
        for after_bytes, reply in case.answers:
            if after_bytes == 0:
                terminal.preload(bytes.fromhex(reply))
            else:
                terminal.then(after_bytes, bytes.fromhex(reply))
        process.set_tick(0xFFFFFFFF - TICK_BEFORE_WRAP + 1)
        start_tick = process.tick()
        held = None
        started = time.monotonic()
        try:
            for call in calls:
                if len(call.args) != len(self.parameters(call.entry)):
                    raise Fault(f"the case calls {call.entry} with {len(call.args)} arguments, "
                                f"its row has {len(self.parameters(call.entry))}")
                addresses = []
                for arg in call.args:
                    addresses.append(self.argument(arg, held))
                result = process.call(self.module, self.entry(call.entry), addresses)
                if call.result is HANDLE:
                    self.check(case.name, result != 0xFFFFFFFF, f"{call.entry}: no handle")
                    held = result
                else:
                    expected = call.result
                    got = signed32(result) if expected != 0xFFFFFFFF else result
                    self.check(case.name, got == expected,
                               f"{call.entry} returned {got}, expected {expected}")
                if call.last_error is not None:
                    self.check(case.name, process.last_error == call.last_error,
                               f"{call.entry}: GetLastError {process.last_error}, "
                               f"expected {call.last_error}")
                for index, expected in call.after.items():
                    want = bytes.fromhex(expected) if isinstance(expected, str) else expected
                    got = process.read(addresses[index], len(want))
                    self.check(case.name, got == want, f"{call.entry} argument {index} holds "
                               f"{got.hex(' ').upper()}, expected {want.hex(' ').upper()}")
        except Fault as fault:
            self.fail(case.name, f"{fault}")
            self.clean_up_after_fault()
            return True
        elapsed_ticks = (process.tick() - start_tick) & 0xFFFFFFFF
        terminal.wait_answered(2)
        heard = terminal.heard_bytes()
        rendered = render(heard)
        if wire.startswith("("):
            # A long run: the byte count and that each byte came under SPACE
            # after the one address byte.
            settings = {b.line.label() for b in heard[1:]}
            rendered = f"({len(heard)} bytes)"
            self.check(case.name, heard and heard[0].line.label() == "M" and settings == {"S"},
                       f"settings heard: {heard[0].line.label() if heard else '-'} then {settings}")
        self.check(case.name, rendered == wire, f"heard {rendered!r}, expected {wire!r}")
        got_opens = tuple(entry[3] for entry in ports.log[log_start:]
                          if entry[1] == "SetCommTimeouts")
        self.check(case.name, got_opens == tuple(opens),
                   f"opens with {got_opens}, expected {opens}")
        self.check(case.name, elapsed_ticks >= ticks,
                   f"{elapsed_ticks} ticks, the busy waits alone take {ticks}")
        self.check(case.name, not ports.open_handles(), f"ports left open: {ports.open_handles()}")
        leaked = set(process.heap.live) - heap_before
        self.check(case.name, not leaked, f"heap blocks not freed: {sorted(leaked)}")
        process.heap.check()
        new_violations = ports.violations[violations_start:]
        self.check(case.name, not new_violations, "; ".join(new_violations))
        self.check(case.name, not terminal.steps and not terminal.outgoing,
                   "the terminal's script was not used up")
        process.release_host_buffers()
        print(f"  ok   {case.name}  [{rendered}]  {elapsed_ticks} ticks, "
              f"{(time.monotonic() - started) * 1000:.0f} ms")
        return True

    def argument(self, arg, held):
        process = self.process
        if isinstance(arg, B):
            return process.host_buffer(bytes.fromhex(arg.hex) + bytes([GUARD] * arg.spare))
        if isinstance(arg, T):
            return process.host_buffer(arg.text.encode("latin-1"))
        if isinstance(arg, Out):
            return process.host_buffer(bytes([GUARD] * arg.size))
        if arg is PORT:
            return process.host_buffer(PORT_NAME.encode() + b"\0")
        if isinstance(arg, str) and re.fullmatch(r"COM\d+", arg):
            return process.host_buffer(arg.encode() + b"\0")
        if arg is HELD:
            return held
        return arg & 0xFFFFFFFF

    def clean_up_after_fault(self):
        for handle, kernel_object in list(self.process.handles.items()):
            if isinstance(kernel_object, com_ports.Port):
                kernel_object.close()
                del self.process.handles[handle]
        self.process.release_host_buffers()

    # -- transforms --

    def run_transforms(self):
        rng = random.Random(19)
        compared = 0
        for name, (in_size, out_size) in TRANSFORMS.items():
            entry = self.entry(name)
            if entry is None:
                continue
            layout = self.parameters(name)
            inputs = transform_inputs(name, in_size, rng) if in_size else [b""]
            modes = (0, 1, 2, -1) if "mode" in layout else (None,)
            for data in inputs:
                for mode in modes:
                    for in_place in (False, True):
                        mine = self.transform_dll(entry, layout, data, out_size, mode, in_place)
                        if self.linux is not None:
                            theirs = self.transform_so(name, layout, data, out_size, mode, in_place)
                            compared += 1
                            self.check(name, mine == theirs,
                                       f"{name}({data.hex(' ')}, mode {mode}, "
                                       f"in place {in_place}): "
                                       f"DLL {mine}, Linux {theirs}")
        for name, data, mode, result, output in KNOWN:
            entry = self.entry(name)
            if entry is None:
                continue
            layout, out_size = self.parameters(name), TRANSFORMS[name][1]
            got = self.transform_dll(entry, layout, bytes.fromhex(data), out_size, mode, False)
            want = (result, output.replace(" ", "").lower())
            self.check(name, got == want, f"{name}({data}, mode {mode}): {got}, expected {want}")
        return compared

    def transform_dll(self, entry, layout, data, out_size, mode, in_place):
        process = self.process
        buffer_in = process.host_buffer(data + bytes([GUARD] * max(0, out_size - len(data) + 1)))
        buffer_out = buffer_in if in_place else process.host_buffer(bytes([GUARD] * (out_size + 1)))
        args = {"ignored": 0x7FFFFFFF, "in": buffer_in, "out": buffer_out, "mode": mode}
        result = signed32(process.call(self.module, entry, [args[p] & 0xFFFFFFFF for p in layout]))
        output = process.read(buffer_out, out_size + 1).hex()
        process.release_host_buffers()
        return result, output

    def transform_so(self, name, layout, data, out_size, mode, in_place):
        buffer_in = ctypes.create_string_buffer(
            data + bytes([GUARD] * max(0, out_size - len(data) + 1)), max(len(data), out_size + 1))
        buffer_out = buffer_in if in_place else ctypes.create_string_buffer(
            bytes([GUARD] * (out_size + 1)), out_size + 1)
        args = {"ignored": ctypes.c_int32(0x7FFFFFFF), "in": buffer_in, "out": buffer_out,
                "mode": ctypes.c_int32(mode if mode is not None else 0)}
        function = getattr(self.linux, name)
        function.restype = ctypes.c_int32
        result = function(*[args[p] for p in layout])
        return result, buffer_out.raw[:out_size + 1].hex()

    def close(self):
        self.process.unload(self.module)
        self.terminal.close()


# ---- the exchange log ---------------------------------------------------------

LOG = "C:\\tarvex\\host.log"
BLOCK = re.compile(r"== (\S+) pid (\d+) thread (\d+) (.+)\n(\w+)\((.*)\)\n((?:(?!== ).*\n)*)== end\n")
C2_REPLY = "20 26 12 08 17 00 05 01 7D"


def check_log(runner, args):
    """The DLL's own log code: a process of its own (the settings are read at
    its first call) with TARVEX_LOG and a cap of 2K, three getdata calls (the
    third rotates the file to host.log.1) and one on a port that is not there.
    Returns the number of failures."""
    table = StandIns()
    for group in (standins.table, com_ports.table, log_files.table):
        table.update(group)
    process = Process(table)
    ports = com_ports.ComPorts(process, {PORT_NAME: runner.terminal})
    files = log_files.Files(process)
    process.state["environment"] = {"TARVEX_LOG": LOG, "TARVEX_LOG_MAX": "2K"}
    module = process.load(args.dll)
    failures = []
    heap_before = set(process.heap.live)
    try:
        for port, expected in ((PORT_NAME, 0), (PORT_NAME, 0), (PORT_NAME, 0), ("COM9", 2)):
            runner.terminal.reset()
            if port == PORT_NAME:
                runner.terminal.then(3, bytes.fromhex(C2_REPLY))
            frame = process.host_buffer(bytes.fromhex("05 C2 EE"))
            reply = process.host_buffer(bytes(10))
            name = process.host_buffer(port.encode() + b"\0")
            process.last_error = 0
            result = signed32(process.call(module, runner.entry("getdata"), [2, frame, 8, reply, name]))
            if result != expected:
                failures.append(f"getdata on {port} returned {result}, expected {expected}")
            if port != PORT_NAME and process.last_error != 2:
                failures.append(f"GetLastError {process.last_error} after the failed open, expected 2")
            runner.terminal.wait_answered(2)
            process.release_host_buffers()
    except Fault as fault:
        failures.append(str(fault))
    if files.open_handles() or ports.open_handles():
        failures.append("handles left open by the log or the exchange")
    if set(process.heap.live) - heap_before:
        failures.append("heap blocks not freed")
    older = (files.content(LOG + ".1") or b"").decode("latin-1")
    newer = (files.content(LOG) or b"").decode("latin-1")
    blocks = []
    for name, text in ((LOG + ".1", older), (LOG, newer)):
        found = BLOCK.findall(text)
        if "".join(m.group(0) for m in BLOCK.finditer(text)) != text:
            failures.append(f"{name} holds something that is no whole block:\n{text}")
        if len(text) > 2048:
            failures.append(f"{name} is {len(text)} bytes, past the cap")
        blocks += found
    library = "tarvex 2.5.0.10" if args.build == "current" else "tarvex-legacy 1.5.0.17"
    if not older or len(blocks) != 4:
        failures.append(f"{len(blocks)} blocks, expected 4 over host.log.1 and host.log")
    for when, pid, thread, by, entry, arguments, lines in blocks:
        if (pid, thread, by, entry) != (str(0x1F40), str(0x1F44), library, "getdata"):
            failures.append(f"a block header says {pid} {thread} {by} {entry}")
        if not when.startswith(time.strftime("%Y-", time.gmtime())):
            failures.append(f"a block dated {when}")
    wanted = [("tx     M 1 9600  05  (1.146 ms on the line)", "tx     S 1 9600  C2 C7  ",
               f"rx     {C2_REPLY}  (", "result 0 (success)"),
              ("open   COM9 (standard timeouts) -> invalid",
               "error  open: The system cannot find the file specified (code 2)", "result 2 (")]
    for block, texts in ((blocks[0] if blocks else None, wanted[0]), (blocks[-1] if blocks else None, wanted[1])):
        for text in texts:
            if block is None or text not in block[6]:
                failures.append(f"no {text!r} in the block:\n{block[6] if block else ''}")
    process.unload(module)
    for failure in failures:
        print(f"  FAIL exchange log: {failure}")
    if not failures:
        print(f"  ok   exchange log: {len(blocks)} whole blocks in host.log.1 and host.log, "
              f"{files.writes} writes")
    return len(failures)


def read_table(path):
    """Entry point name -> (ordinal, legacy, parameter names), from the rows of
    the entry point table: each row's fixed columns on its first line, its
    (type, name) pairs after its two strings."""
    with open(path, encoding="utf-8") as f:
        text = re.sub(r'"(?:[^"\\]|\\.)*"', '""', f.read())
    rows = {}
    starts = list(re.finditer(r"^\s*ROW\((\w+),\s*(\d+),\s*(no|same|own),", text, re.M))
    for start, end in zip(starts, starts[1:] + [None]):
        row = text[start.end():end.start() if end else len(text)]
        parameters = re.findall(r"\(\s*[\w\s*]+?\s*,\s*(\w+)\s*\)", row)
        rows[start.group(1)] = (int(start.group(2)), start.group(3), parameters)
    return rows


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--dll", required=True)
    parser.add_argument("--build", choices=("current", "legacy"), required=True)
    parser.add_argument("--table", required=True,
                        help="src/exports/entry_point_table.h: ordinals and parameters")
    parser.add_argument("--so",
                        help="the Linux shared object of the same build, for the transforms")
    args = parser.parse_args()
    if not os.path.exists(args.dll):
        print(f"FAIL: {args.dll} is missing: build the win32 preset (scripts/build_windows.sh)")
        return 1
    started = time.monotonic()
    runner = Runner(args)
    by = "ordinal" if args.build == "legacy" else "name"
    print(f"{args.dll}: loaded at 0x{runner.module.base:08X} ({runner.module.relocations_applied} "
          f"relocations), entry points called by {by}")
    cases = sum(runner.run_case(case) for case in CASES)
    compared = runner.run_transforms()
    runner.failures += check_log(runner, args)
    runner.close()
    print(f"{cases} exchange cases, transforms: {compared} calls compared with {args.so}, "
          f"{runner.checked} checks, {runner.failures} failed, "
          f"{time.monotonic() - started:.1f} s")
    called = sorted(runner.process.calls)
    print("imports called: " + ", ".join(f"{k.split('!')[1]} {v}" for k, v in
                                         ((k, runner.process.calls[k]) for k in called)))
    return 1 if runner.failures else 0


if __name__ == "__main__":
    sys.exit(main())
