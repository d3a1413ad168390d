"""tarvex for Python hosts: the library's entry points over ctypes.

    import tarvex
    reply = tarvex.getdata(b"\\x05\\xc2", 8, "/dev/ttyUSB0")
    with tarvex.Port("/dev/ttyUSB0", 9600) as port:
        memory = port.HANDLE_GetData(b"\\x05\\xc1\\x00\\x04", 4, 1000)

Each function has the name of its entry point in tarvex.h and takes what the
host means rather than what C needs: a frame, a block or a code as bytes
(the counts come from their lengths, and the buffers get the room the
library writes into), text as str, a reply length. A call that returns 0
gives back what the library wrote (a reply and its checksum as the terminal
sent them, a record, a transform's output); any other result raises Error,
which carries the code and the system's reason. A held port is a Port, best
used in a `with` block, which gives it back on the way out.

Which library: load(path), else the file named by the environment variable
TARVEX_LIBRARY, else the system's loader by name: tarvex.dll on Windows (a
tarvex.dll beside this file first, as the zips lay it out), libtarvex.so.2
and then libtarvex.so.1 elsewhere. The first call loads it if load() was not
called. The legacy build has ten of the entry points; calling any other
raises AttributeError.
"""

import ctypes
import os
import sys

LIBRARY_VARIABLE = "TARVEX_LIBRARY"
WINDOWS = sys.platform == "win32"

OK = 0
LOCK_REJECTED = 1
FRAME_NOT_SENT = 2
REPLY_INCOMPLETE = 3
REPLY_WRONG = 4
SECOND_FRAME_NOT_SENT = 5
EMPTY_OR_NOT_DRAINED = 6
SECOND_REPLY_INCOMPLETE = 7
SECOND_REPLY_WRONG = 8
INVALID_PORT = 0xFFFFFFFF
# A limit that never runs out.
NO_LIMIT = 0xFFFFFFFF

MEANINGS = {
    LOCK_REJECTED: "a lock code was rejected",
    FRAME_NOT_SENT: "frame not taken whole, port not opened, output not drained, "
                    "or an argument out of contract",
    REPLY_INCOMPLETE: "reply or acknowledgement not in full, or data block not taken whole",
    REPLY_WRONG: "reply checksum or acknowledgement bytes wrong",
    SECOND_FRAME_NOT_SENT: "the on-line query's second frame was not written",
    EMPTY_OR_NOT_DRAINED: "empty card list, or the on-line query's second frame did not drain",
    SECOND_REPLY_INCOMPLETE: "the on-line query's second reply did not arrive in full",
    SECOND_REPLY_WRONG: "the on-line query's second reply has a wrong checksum",
}

_I32 = ctypes.c_int32
_U32 = ctypes.c_uint32
_PORT = ctypes.c_uint32
_BYTES = ctypes.POINTER(ctypes.c_uint8)
_TEXT = ctypes.c_char_p

# Each entry point: its result type and its parameters' types, as in tarvex.h.
PROTOTYPES = {
    "com_init": (_PORT, [_TEXT, _U32]),
    "com_exit": (_I32, [_PORT]),
    "getdata": (_I32, [_I32, _BYTES, _I32, _BYTES, _TEXT]),
    "nGetData": (_I32, [_I32, _BYTES, _I32, _BYTES, _TEXT, _U32, _U32]),
    "dxGetdata": (_I32, [_I32, _BYTES, _I32, _BYTES, _TEXT]),
    "Nget": (_I32, [_I32, _BYTES, _I32, _BYTES, _PORT]),
    "HANDLE_GetData": (_I32, [_PORT, _I32, _BYTES, _I32, _BYTES, _U32]),
    "senddata": (_I32, [_I32, _BYTES, _I32, _BYTES, _TEXT]),
    "nSendData": (_I32, [_I32, _BYTES, _I32, _BYTES, _TEXT, _U32, _U32]),
    "dxSenddata": (_I32, [_I32, _BYTES, _I32, _BYTES, _TEXT]),
    "Nsend": (_I32, [_I32, _BYTES, _I32, _BYTES, _PORT]),
    "HANDLE_SendData": (_I32, [_PORT, _I32, _BYTES, _I32, _BYTES, _U32]),
    "sendDataUIM": (_I32, [_PORT, _I32, _BYTES, _I32, _BYTES, _U32]),
    "getdata_hex": (_I32, [_I32, _TEXT, _I32, _BYTES, _TEXT]),  # reply_text: written, no NUL
    "senddata_hex": (_I32, [_I32, _TEXT, _I32, _TEXT, _TEXT]),
    "sendBlack": (_I32, [_I32, _I32, _BYTES, _TEXT]),
    "sendBlack_hex": (_I32, [_I32, _I32, _TEXT, _TEXT]),
    "sSendBlack": (_I32, [_I32, _I32, _I32, _BYTES, _TEXT]),
    "HANDLE_ComData": (_I32, [_PORT, _I32, _BYTES, _I32, _BYTES, _I32, _BYTES, _U32]),
    "getDataUIM": (_I32, [_PORT, _I32, _BYTES, _I32, _BYTES, _U32]),
    "sam_GetData": (_I32, [_PORT, _I32, _BYTES, _I32, _BYTES, _U32]),
    "onNet": (_I32, [_I32, _BYTES, _TEXT]),
    "HANDLE_OnNet": (_I32, [_PORT, _I32, _BYTES]),
    "keylock": (_I32, [_I32, _BYTES, _BYTES]),
    "cardLock": (_I32, [_I32, _BYTES, _BYTES]),
    "faka_485": (_I32, [_I32, _BYTES, _BYTES]),
    "faka_4852": (_I32, [_I32, _BYTES, _BYTES]),
    "fakaUnlock": (_I32, [_I32, _BYTES, _BYTES]),
    "abcd": (_I32, [_BYTES, _BYTES, _I32]),
    "change": (_I32, [_BYTES, _BYTES]),
    "ascc": (_I32, [_BYTES, _BYTES]),
    "MJExchangeData": (_I32, []),
}


class Error(Exception):
    """An entry point that did not return 0.

    code: the result code (com_init: 2, the port did not open).
    os_error: errno (GetLastError on Windows) as the call left it. It names
        the system's reason when a system call ended the call: a port that
        did not open (2 at once) or hung up (3 before the limit); after any
        other outcome it means nothing.
    reply: what the library had written into the reply (or record, or
        transform output) buffer, for calls that have one; else None.
    """

    def __init__(self, entry_point, code, os_error, reply=None):
        self.entry_point, self.code, self.os_error, self.reply = entry_point, code, os_error, reply
        message = f"{entry_point}: {code} ({MEANINGS.get(code, 'unknown result')})"
        if os_error and code in (FRAME_NOT_SENT, REPLY_INCOMPLETE):
            message += f": {os_error_text(os_error)}"
        super().__init__(message)


def os_error_text(code):
    """The system's words for an error code of os_error."""
    return ctypes.FormatError(code) if WINDOWS else os.strerror(code)


_library = None


def load(path=None):
    """Loads the library for this process and returns it (a ctypes library).

    path, or else $TARVEX_LIBRARY, names the file; without either the
    system's loader looks for the names of both builds, the current one first.
    A second call returns the library the first one loaded.
    """
    global _library
    if _library is not None:
        return _library
    named = path or os.environ.get(LIBRARY_VARIABLE)
    if named:
        candidates = [named]
    elif WINDOWS:
        beside = os.path.join(os.path.dirname(os.path.abspath(__file__)), "tarvex.dll")
        candidates = [beside] if os.path.exists(beside) else ["tarvex.dll"]
    else:
        candidates = ["libtarvex.so.2", "libtarvex.so.1"]
    failures = []
    for candidate in candidates:
        try:
            if WINDOWS:
                _library = ctypes.WinDLL(candidate, use_last_error=True)  # __stdcall on win32
            else:
                _library = ctypes.CDLL(candidate, use_errno=True)
            return _library
        except OSError as error:
            failures.append(str(error))
    raise OSError(f"tarvex: the library did not load ({'; '.join(failures)}); name it with "
                  f"tarvex.load(path) or {LIBRARY_VARIABLE}")


def _function(name):
    function = getattr(load(), name)  # AttributeError: not in this build
    if function.argtypes is None:
        function.restype, function.argtypes = PROTOTYPES[name][0], PROTOTYPES[name][1]
    return function


def _raw_call(name, *args):
    """(what the entry point returned, the system's error it left)."""
    function = _function(name)
    if WINDOWS:
        ctypes.set_last_error(0)
        return function(*args), ctypes.get_last_error()
    ctypes.set_errno(0)
    return function(*args), ctypes.get_errno()


def _call(name, *args, output=None, size=None):
    """Calls an exchange or transform; raises Error unless it returned 0.
    Returns the first `size` bytes of `output`, when there is one."""
    result, os_error = _raw_call(name, *args)
    written = bytes(output)[:size] if output is not None else None
    if result != OK:
        raise Error(name, result, os_error, written)
    return written


def _buffer(data, room=0, at_least=0):
    """A C copy of `data` with `room` more bytes, never shorter than at_least."""
    data = bytes(data)
    buffer = (ctypes.c_uint8 * max(len(data) + room, at_least))()
    ctypes.memmove(buffer, data, len(data))
    return buffer


def _output(length):
    """Room for what the library writes."""
    return (ctypes.c_uint8 * length)()


def _frame(frame):
    """(n, buffer): the library writes the checksum into byte n, and never
    takes a frame buffer of fewer than 2 bytes."""
    frame = bytes(frame)
    return len(frame), _buffer(frame, room=1, at_least=2)


def _block(block):
    """(m, buffer) of a data block: m + 1 bytes, and at least 11, since a
    block under command code 0xC5 is 10 bytes whatever m says."""
    block = bytes(block)
    return len(block), _buffer(block, room=1, at_least=11)


def _reply(reply_length, per_byte=1):
    """Room for a reply of reply_length bytes and its checksum."""
    if reply_length < 0:
        raise ValueError(f"a reply length of {reply_length}")
    return _output(per_byte * (reply_length + 1))


def _fixed(data, length, what):
    """A transform's input: exactly `length` bytes, all the library reads."""
    data = bytes(data)
    if len(data) != length:
        raise ValueError(f"{what} is {length} bytes, not {len(data)}")
    return _buffer(data)


def _items(data, per_item, what):
    """(count, bytes): `data` as whole items of `per_item` bytes (hex text:
    characters) each."""
    data = data.encode("ascii") if isinstance(data, str) else bytes(data)
    if len(data) % per_item:
        raise ValueError(f"{what}: {len(data)} bytes, not a multiple of {per_item}")
    return len(data) // per_item, data


def _port_name(name):
    # The library opens the 8-bit name as it is: the file system's bytes on
    # Linux, the ANSI code page's on Windows (CreateFileA).
    return name.encode("mbcs") if WINDOWS and isinstance(name, str) else os.fsencode(name)


# ---- By port name ----

def getdata(frame, reply_length, port_name):
    """The reply and its checksum (reply_length + 1 bytes)."""
    reply = _reply(reply_length)
    return _call("getdata", *_frame(frame), reply_length, reply, _port_name(port_name),
                 output=reply)


def nGetData(frame, reply_length, port_name, baud, limit_ms):
    reply = _reply(reply_length)
    return _call("nGetData", *_frame(frame), reply_length, reply, _port_name(port_name), baud,
                 limit_ms, output=reply)


def dxGetdata(frame, reply_length, port_name):
    reply = _reply(reply_length)
    return _call("dxGetdata", *_frame(frame), reply_length, reply, _port_name(port_name),
                 output=reply)


def senddata(frame, block, port_name):
    """Sends the frame, then the block (b"" for none); None when it was taken."""
    _call("senddata", *_frame(frame), *_block(block), _port_name(port_name))


def nSendData(frame, block, port_name, baud, limit_ms):
    _call("nSendData", *_frame(frame), *_block(block), _port_name(port_name), baud, limit_ms)


def dxSenddata(frame, block, port_name):
    _call("dxSenddata", *_frame(frame), *_block(block), _port_name(port_name))


def getdata_hex(command_text, reply_length, port_name):
    """The reply and its checksum as 2 * (reply_length + 1) hex characters."""
    n, command = _items(command_text, 2, "command text")
    reply = _reply(reply_length, per_byte=2)
    return _call("getdata_hex", n, command, reply_length, reply, _port_name(port_name),
                 output=reply).decode("ascii")


def senddata_hex(command_text, block_text, port_name):
    n, command = _items(command_text, 2, "command text")
    m, block = _items(block_text, 2, "block text")
    _call("senddata_hex", n, command, m, block, _port_name(port_name))


def sendBlack(address, entries, port_name):
    """entries: 3 bytes a card (tarvex.h says how a card number is laid out)."""
    count, entries = _items(entries, 3, "card entries")
    _call("sendBlack", address, count, _buffer(entries, at_least=1), _port_name(port_name))


def sendBlack_hex(address, text, port_name):
    count, text = _items(text, 6, "card entries as hex text")
    _call("sendBlack_hex", address, count, text, _port_name(port_name))


def sSendBlack(address_word, command_code, entries, port_name):
    count, entries = _items(entries, 3, "card entries")
    _call("sSendBlack", address_word, command_code, count, _buffer(entries, at_least=1),
          _port_name(port_name))


def onNet(address, port_name):
    """The terminal's 7-byte identity record."""
    record = _output(7)
    return _call("onNet", address, record, _port_name(port_name), output=record)


# ---- Transforms: no port ----

def _lock_code(name, codes, length):
    output = _output(length)
    # The first argument is never read.
    return _call(name, 0, _fixed(codes, length, f"{name}'s input"), output, output=output)


def _codec(name, data, length):
    output = _output(length)
    return _call(name, _fixed(data, length, f"{name}'s input"), output, output=output)


def keylock(plain_code):
    return _lock_code("keylock", plain_code, 3)


def cardLock(plain_code):
    return _lock_code("cardLock", plain_code, 3)


def faka_485(key_forms):
    return _lock_code("faka_485", key_forms, 6)


def faka_4852(key_forms):
    return _lock_code("faka_4852", key_forms, 6)


def fakaUnlock(card_forms):
    return _lock_code("fakaUnlock", card_forms, 6)


def abcd(digits, mode):
    """Eight upper-case hex characters, as bytes."""
    output = _output(8)
    return _call("abcd", _fixed(digits, 8, "abcd's input"), output, mode, output=output)


def change(data):
    return _codec("change", data, 6)


def ascc(data):
    return _codec("ascc", data, 3)


def MJExchangeData():
    _call("MJExchangeData")


# ---- Held ports ----

class Port:
    """A port held open across calls: com_init on creation, com_exit on
    close() or at the end of a `with` block. Its methods are the entry points
    that take a held port, with the port left out of their arguments."""

    def __init__(self, port_name, baud=9600):
        handle, os_error = _raw_call("com_init", _port_name(port_name), baud)
        if handle == INVALID_PORT:
            raise Error("com_init", FRAME_NOT_SENT, os_error)
        self.handle = handle

    def __enter__(self):
        return self

    def __exit__(self, *_):
        self.close()

    def close(self):
        """Discards unread input and closes the port; a second close does nothing."""
        if self.handle is not None:
            _raw_call("com_exit", self.handle)
            self.handle = None

    def _open(self):
        if self.handle is None:
            raise ValueError("the port is closed")
        return self.handle

    def Nget(self, frame, reply_length):
        reply = _reply(reply_length)
        return _call("Nget", *_frame(frame), reply_length, reply, self._open(), output=reply)

    def HANDLE_GetData(self, frame, reply_length, limit_ms):
        reply = _reply(reply_length)
        return _call("HANDLE_GetData", self._open(), *_frame(frame), reply_length, reply,
                     limit_ms, output=reply)

    def Nsend(self, frame, block):
        _call("Nsend", *_frame(frame), *_block(block), self._open())

    def HANDLE_SendData(self, frame, block, limit_ms):
        _call("HANDLE_SendData", self._open(), *_frame(frame), *_block(block), limit_ms)

    def sendDataUIM(self, frame, block, limit_ms):
        _call("sendDataUIM", self._open(), *_frame(frame), *_block(block), limit_ms)

    def HANDLE_ComData(self, frame, block, reply_length, limit_ms):
        reply = _reply(reply_length)
        return _call("HANDLE_ComData", self._open(), *_frame(frame), *_block(block),
                     reply_length, reply, limit_ms, output=reply)

    def getDataUIM(self, frame, reply_length, limit_ms):
        """Exactly reply_length bytes, as they came (no checksum)."""
        reply = _reply(reply_length)
        return _call("getDataUIM", self._open(), *_frame(frame), reply_length, reply, limit_ms,
                     output=reply, size=reply_length)

    def sam_GetData(self, frame, reply_length, limit_ms):
        """Exactly reply_length bytes, as they came (no checksum)."""
        reply = _reply(reply_length)
        return _call("sam_GetData", self._open(), *_frame(frame), reply_length, reply, limit_ms,
                     output=reply, size=reply_length)

    def HANDLE_OnNet(self, address):
        record = _output(7)
        return _call("HANDLE_OnNet", self._open(), address, record, output=record)
