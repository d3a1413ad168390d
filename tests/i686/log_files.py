"""KERNEL32's file calls for the exchange log, on an in-memory folder.

- CreateFileA: the opener for names under "C:\\" (process.state["openers"]);
  OPEN_ALWAYS creates a missing file, OPEN_EXISTING fails on one with
  ERROR_FILE_NOT_FOUND. A handle refers to the file itself, so it keeps
  writing to a file renamed under it, as on Windows.
- WriteFile (com_ports.py dispatches on the handle's object): appends, as a
  handle opened with FILE_APPEND_DATA and without FILE_WRITE_DATA does.
- GetFileInformationByHandle: the 52-byte BY_HANDLE_FILE_INFORMATION, with
  the file's size and its index (its identity across renames).
- LockFileEx, UnlockFileEx: one thread, so a lock is only counted; a region
  locked twice, or unlocked without a lock, is a Fault.
- MoveFileExA: renames; an existing target only with
  MOVEFILE_REPLACE_EXISTING (else ERROR_ALREADY_EXISTS).

Every file handle must be closed by the end of a call: `open_handles()`.
"""

import struct

from win32_executor import Fault, StandIns

table = StandIns()

ERROR_FILE_NOT_FOUND = 2
ERROR_INVALID_HANDLE = 6
ERROR_ALREADY_EXISTS = 183
OPEN_EXISTING = 3
OPEN_ALWAYS = 4
FILE_WRITE_DATA = 0x2
FILE_APPEND_DATA = 0x4
MOVEFILE_REPLACE_EXISTING = 0x1


class Node:
    """A file: its bytes and its index, whatever it is named."""

    def __init__(self, index):
        self.data = bytearray()
        self.index = index
        self.locked = False


class Handle:
    def __init__(self, files, node, access):
        self.files = files
        self.node = node
        self.access = access

    def write_file(self, data, overlapped):
        if overlapped:
            raise Fault("WriteFile on the log with an OVERLAPPED")
        if not self.access & (FILE_APPEND_DATA | FILE_WRITE_DATA):
            return None
        self.node.data += data
        self.files.writes += 1
        return len(data)

    def read_file(self, count, overlapped):
        return None

    def close(self):
        self.files.handles.discard(self)


class Files:
    """The folder of one process: process.state["files"]."""

    def __init__(self, process):
        self.process = process
        self.names = {}          # upper-case name -> Node
        self.handles = set()     # open Handles
        self.writes = 0
        self.next_index = 1
        process.state["files"] = self
        process.state.setdefault("openers", []).append(self.open)

    def open(self, name, access, share, security, disposition, flags, template):
        if not name.upper().startswith("C:\\"):
            return None
        node = self.names.get(name.upper())
        if node is None:
            if disposition != OPEN_ALWAYS:
                self.process.last_error = ERROR_FILE_NOT_FOUND
                return 0xFFFFFFFF
            node = self.names[name.upper()] = Node(self.next_index)
            self.next_index += 1
        elif disposition == OPEN_ALWAYS:
            self.process.last_error = ERROR_ALREADY_EXISTS   # as Windows: opened, and it was there
        handle = Handle(self, node, access)
        self.handles.add(handle)
        return self.process.new_handle(handle)

    def content(self, name):
        node = self.names.get(name.upper())
        return None if node is None else bytes(node.data)

    def open_handles(self):
        return len(self.handles)


def _handle(process, handle):
    target = process.object_of(handle, Handle)
    if target is None:
        process.last_error = ERROR_INVALID_HANDLE
    return target


@table.winapi(2)
def GetFileInformationByHandle(process, handle, info):
    target = _handle(process, handle)
    if target is None:
        return 0
    size = len(target.node.data)
    process.write(info, struct.pack("<I24xIIIIII", 0x80, 0x7A4E0001, size >> 32, size & 0xFFFFFFFF,
                                    1, 0, target.node.index))
    return 1


@table.winapi(6)
def LockFileEx(process, handle, flags, reserved, low, high, overlapped):
    target = _handle(process, handle)
    if target is None:
        return 0
    if target.node.locked:
        raise Fault("LockFileEx: the log's lock taken twice (one thread: it would wait for ever)")
    target.node.locked = True
    return 1


@table.winapi(5)
def UnlockFileEx(process, handle, reserved, low, high, overlapped):
    target = _handle(process, handle)
    if target is None:
        return 0
    if not target.node.locked:
        raise Fault("UnlockFileEx without LockFileEx")
    target.node.locked = False
    return 1


@table.winapi(3)
def MoveFileExA(process, source, target, flags):
    files = process.state["files"]
    old = process.cstring(source).decode("latin-1").upper()
    new = process.cstring(target).decode("latin-1").upper()
    if old not in files.names:
        process.last_error = ERROR_FILE_NOT_FOUND
        return 0
    if new in files.names and not flags & MOVEFILE_REPLACE_EXISTING:
        process.last_error = ERROR_ALREADY_EXISTS
        return 0
    files.names[new] = files.names.pop(old)
    return 1
