"""The stand-ins for the DLL's imports: name -> function, one entry each.

Groups (the serial-port group is in com_ports.py):
- KERNEL32, time and threads: GetTickCount (the host's monotonic clock, with
  a settable start for the 32-bit wrap), Sleep, SwitchToThread,
  GetCurrentThreadId, GetCurrentProcessId
- KERNEL32, time of day and environment: GetSystemTimeAsFileTime (the host's
  clock), GetEnvironmentVariableA (process.state["environment"], not the host's)
- KERNEL32, errors: GetLastError, SetLastError (the TEB's LastErrorValue, where
  Windows keeps it), FormatMessageA (the words of a few codes)
- KERNEL32, thread-local storage: TlsAlloc, TlsFree, TlsGetValue, TlsSetValue
  (the TEB's 64 TlsSlots)
- KERNEL32, kernel objects: CreateSemaphoreW, ReleaseSemaphore,
  WaitForSingleObject (libgcc's mutexes; a wait no thread could end is a
  Fault), CloseHandle (any handle of the table, the ports' included)
- KERNEL32, locks of the C runtime start-up: InitializeCriticalSection,
  EnterCriticalSection, LeaveCriticalSection, DeleteCriticalSection (one thread:
  they count, and a Leave without an Enter is a Fault)
- KERNEL32, modules: GetModuleHandleA/W (the loaded DLLs by file name; any other
  name is not loaded, as libgcc's DLL is not), GetProcAddress (their exports),
  LoadLibraryA (loads nothing), FreeLibrary
- msvcrt, C runtime start-up: _initterm (x86 code: it calls back into the DLL),
  _lock, _unlock, _errno, _amsg_exit and abort (Faults), the data _iob and
  __mb_cur_max
- msvcrt, memory and strings: malloc, calloc, realloc, free (the executor's
  checked heap), memcpy, memmove, memcmp, memset, strlen, strcmp, strncmp, strchr, wcslen, atoi

Every other import of the DLL still resolves, to a stub that fails the test
with the import's name if the DLL calls it. A new stand-in is a decorated
function (`@table.winapi(argc)` for KERNEL32's WINAPI functions, which pop
their arguments; `@table.cdecl(argc)` for msvcrt's, which do not).
"""

import os
import struct
import time

from win32_executor import (DATA_BASE, PROCESS_ID, TEB_BASE, TEB_TLS_SLOTS, THREAD_ID,
                            TLS_SLOT_COUNT, Fault, StandIns)

table = StandIns()

ERROR_MOD_NOT_FOUND = 126
ERROR_PROC_NOT_FOUND = 127
ERROR_INVALID_PARAMETER = 87
TLS_OUT_OF_INDEXES = 0xFFFFFFFF


# ---- KERNEL32: time and threads --------------------------------------------

@table.winapi(0)
def GetTickCount(process):
    return process.tick()


@table.winapi(1)
def Sleep(process, milliseconds):
    time.sleep(milliseconds / 1000)


@table.winapi(0)
def SwitchToThread(process):
    os.sched_yield()
    return 0          # no other thread of this process was ready


# The performance counter at 10 MHz, from the host's monotonic clock.
PERFORMANCE_FREQUENCY = 10_000_000


@table.winapi(1)
def QueryPerformanceCounter(process, counter):
    process.write(counter, struct.pack("<q", time.monotonic_ns() // 100))
    return 1


@table.winapi(1)
def QueryPerformanceFrequency(process, frequency):
    process.write(frequency, struct.pack("<q", PERFORMANCE_FREQUENCY))
    return 1


@table.winapi(0)
def GetCurrentThreadId(process):
    return THREAD_ID


@table.winapi(0)
def GetCurrentProcessId(process):
    return PROCESS_ID


# 100 ns intervals from 1601-01-01 to 1970-01-01.
FILETIME_EPOCH = 116444736000000000


@table.winapi(1)
def GetSystemTimeAsFileTime(process, filetime):
    process.write(filetime, struct.pack("<Q", FILETIME_EPOCH + time.time_ns() // 100))


# ---- KERNEL32: the environment ---------------------------------------------
# The emulated process's own variables: process.state["environment"], a dict a
# test fills; the host's environment does not leak in.

ERROR_ENVVAR_NOT_FOUND = 203


@table.winapi(3)
def GetEnvironmentVariableA(process, name, buffer, size):
    key = process.cstring(name).decode("latin-1").upper()
    variables = {k.upper(): v for k, v in process.state.get("environment", {}).items()}
    if key not in variables:
        process.last_error = ERROR_ENVVAR_NOT_FOUND
        return 0
    value = variables[key].encode("latin-1")
    if size < len(value) + 1:
        return len(value) + 1          # the size needed, the terminating NUL included
    process.write(buffer, value + b"\0")
    return len(value)


# ---- KERNEL32: errors ------------------------------------------------------

@table.winapi(0)
def GetLastError(process):
    return process.last_error


# The system's words for the codes a test meets (the exchange log writes them);
# any other code has none, and the caller falls back on the number.
SYSTEM_MESSAGES = {2: "The system cannot find the file specified.", 5: "Access is denied."}


@table.winapi(7)
def FormatMessageA(process, flags, source, code, language, buffer, size, arguments):
    FORMAT_MESSAGE_ALLOCATE_BUFFER = 0x100
    if flags & FORMAT_MESSAGE_ALLOCATE_BUFFER:
        raise Fault("FormatMessageA: FORMAT_MESSAGE_ALLOCATE_BUFFER (no stand-in for LocalFree)")
    text = SYSTEM_MESSAGES.get(code)
    if text is None or size < len(text) + 3:
        process.last_error = 317            # ERROR_MR_MID_NOT_FOUND
        return 0
    process.write(buffer, text.encode("latin-1") + b"\r\n\0")
    return len(text) + 2


@table.winapi(1)
def SetLastError(process, code):
    process.last_error = code


# ---- KERNEL32: thread-local storage ---------------------------------------

def _slot(index):
    return TEB_BASE + TEB_TLS_SLOTS + 4 * index


@table.winapi(0)
def TlsAlloc(process):
    for index in range(TLS_SLOT_COUNT):
        if index not in process.tls_indexes:
            process.tls_indexes.add(index)
            process.put_u32(_slot(index), 0)
            return index
    return TLS_OUT_OF_INDEXES


@table.winapi(1)
def TlsFree(process, index):
    if index not in process.tls_indexes:
        process.last_error = ERROR_INVALID_PARAMETER
        return 0
    process.tls_indexes.discard(index)
    return 1


@table.winapi(1)
def TlsGetValue(process, index):
    if index not in process.tls_indexes:
        process.last_error = ERROR_INVALID_PARAMETER
        return 0
    process.last_error = 0      # as Windows: 0 is a value, told apart by the error
    return process.u32(_slot(index))


@table.winapi(2)
def TlsSetValue(process, index, value):
    if index not in process.tls_indexes:
        process.last_error = ERROR_INVALID_PARAMETER
        return 0
    process.put_u32(_slot(index), value)
    return 1


# ---- KERNEL32: critical sections (one thread) ------------------------------
# CRITICAL_SECTION, 24 bytes: DebugInfo, LockCount, RecursionCount,
# OwningThread, LockSemaphore, SpinCount.

@table.winapi(1)
def InitializeCriticalSection(process, section):
    process.write(section, struct.pack("<IiiIII", 0, -1, 0, 0, 0, 0))


@table.winapi(1)
def EnterCriticalSection(process, section):
    _, lock_count, recursion, _, _, _ = struct.unpack("<IiiIII", process.read(section, 24))
    process.write(section + 4, struct.pack("<iiI", lock_count + 1, recursion + 1, THREAD_ID))


@table.winapi(1)
def LeaveCriticalSection(process, section):
    _, lock_count, recursion, _, _, _ = struct.unpack("<IiiIII", process.read(section, 24))
    if recursion <= 0:
        raise Fault(f"LeaveCriticalSection(0x{section:08X}) without EnterCriticalSection")
    owner = THREAD_ID if recursion > 1 else 0
    process.write(section + 4, struct.pack("<iiI", lock_count - 1, recursion - 1, owner))


@table.winapi(1)
def DeleteCriticalSection(process, section):
    pass


# ---- KERNEL32: kernel objects ----------------------------------------------
# libgcc's thread layer (gthr-win32) makes its mutexes of semaphores. There is
# one thread, so a wait that cannot be satisfied at once would never end.

WAIT_OBJECT_0 = 0
WAIT_TIMEOUT = 0x102
INFINITE = 0xFFFFFFFF
ERROR_INVALID_HANDLE = 6
ERROR_TOO_MANY_POSTS = 298


class Semaphore:
    def __init__(self, count, maximum):
        self.count = count
        self.maximum = maximum


@table.winapi(4)
def CreateSemaphoreW(process, attributes, initial, maximum, name):
    if name:
        raise Fault("CreateSemaphoreW: a named semaphore (no stand-in for sharing one)")
    return process.new_handle(Semaphore(initial, maximum))


@table.winapi(3)
def ReleaseSemaphore(process, handle, count, previous):
    semaphore = process.object_of(handle, Semaphore)
    if semaphore is None:
        process.last_error = ERROR_INVALID_HANDLE
        return 0
    if semaphore.count + count > semaphore.maximum:
        process.last_error = ERROR_TOO_MANY_POSTS
        return 0
    if previous:
        process.put_u32(previous, semaphore.count)
    semaphore.count += count
    return 1


# The line's waits sleep on a waitable timer: a relative due time in 100 ns
# units (negative), waited for on the host's clock.
class WaitableTimer:
    due = None


@table.winapi(4)
def CreateWaitableTimerExW(process, attributes, name, flags, access):
    if name:
        raise Fault("CreateWaitableTimerExW: a named timer (no stand-in for sharing one)")
    return process.new_handle(WaitableTimer())


@table.winapi(6)
def SetWaitableTimer(process, handle, due_address, period, routine, argument, resume):
    timer = process.object_of(handle, WaitableTimer)
    due = struct.unpack("<q", bytes(process.read(due_address, 8)))[0]
    if timer is None or due > 0 or period or routine:
        raise Fault("SetWaitableTimer: only a relative one-shot timer has a stand-in")
    timer.due = time.monotonic() - due / 1e7
    return 1


@table.winapi(2)
def WaitForSingleObject(process, handle, milliseconds):
    timer = process.object_of(handle, WaitableTimer)
    if timer is not None and timer.due is not None:
        time.sleep(max(0.0, timer.due - time.monotonic()))
        timer.due = None
        return WAIT_OBJECT_0
    semaphore = process.object_of(handle, Semaphore)
    if semaphore is None:
        raise Fault(f"WaitForSingleObject(0x{handle:X}): not a semaphore the DLL made")
    if semaphore.count > 0:
        semaphore.count -= 1
        return WAIT_OBJECT_0
    if milliseconds == INFINITE:
        raise Fault("WaitForSingleObject: waits for ever on a semaphore no thread can release")
    time.sleep(milliseconds / 1000)
    return WAIT_TIMEOUT


@table.winapi(1)
def CloseHandle(process, handle):
    kernel_object = process.handles.pop(handle, None)
    if kernel_object is None:
        process.last_error = ERROR_INVALID_HANDLE
        return 0
    if hasattr(kernel_object, "close"):
        kernel_object.close()
    return 1


# ---- KERNEL32: modules -----------------------------------------------------

def _module_named(process, name):
    if name is None:
        return None
    wanted = name.replace("\\", "/").split("/")[-1].lower()
    for module in process.modules:
        if os.path.basename(module.path).lower() in (wanted, wanted + ".dll"):
            return module
    return None


def _module_handle(process, name):
    module = _module_named(process, name)
    if module is None:
        process.last_error = ERROR_MOD_NOT_FOUND
        return 0
    return module.base


@table.winapi(1)
def GetModuleHandleA(process, name):
    text = process.cstring(name)
    return _module_handle(process, text.decode("latin-1") if text is not None else None)


@table.winapi(1)
def GetModuleHandleW(process, name):
    return _module_handle(process, process.wstring(name))


@table.winapi(2)
def GetProcAddress(process, handle, name):
    for module in process.modules:
        if module.base == handle:
            key = name if name < 0x10000 else process.cstring(name).decode("latin-1")
            table_ = module.by_ordinal if isinstance(key, int) else module.by_name
            if key in table_:
                return table_[key]
    process.last_error = ERROR_PROC_NOT_FOUND
    return 0


@table.winapi(1)
def LoadLibraryA(process, name):
    process.last_error = ERROR_MOD_NOT_FOUND
    return 0


@table.winapi(1)
def FreeLibrary(process, handle):
    return 1


# ---- msvcrt: the C runtime start-up ----------------------------------------

# _initterm(first, last): calls each non-null function pointer in [first, last).
# It calls back into the DLL, so it is x86 code rather than a Python function.
table.code("msvcrt.dll", "_initterm", bytes([
    0x56,                    # push esi
    0x57,                    # push edi
    0x8B, 0x74, 0x24, 0x0C,  # mov esi, [esp+12]    first
    0x8B, 0x7C, 0x24, 0x10,  # mov edi, [esp+16]    last
    0x39, 0xFE,              # next: cmp esi, edi
    0x73, 0x0D,              # jae done
    0x8B, 0x06,              # mov eax, [esi]
    0x85, 0xC0,              # test eax, eax
    0x74, 0x02,              # jz skip
    0xFF, 0xD0,              # call eax
    0x83, 0xC6, 0x04,        # skip: add esi, 4
    0xEB, 0xEF,              # jmp next
    0x5F,                    # done: pop edi
    0x5E,                    # pop esi
    0xC3,                    # ret
]))

# msvcrt's FILE is 32 bytes on i386; stdin, stdout, stderr.
table.data("msvcrt.dll", "_iob", bytes(3 * 32))
table.data("msvcrt.dll", "__mb_cur_max", struct.pack("<i", 1))

ERRNO_ADDRESS = DATA_BASE + 0xFF00


@table.cdecl(0)
def _errno(process):
    return ERRNO_ADDRESS


@table.cdecl(1)
def _lock(process, number):
    pass


@table.cdecl(1)
def _unlock(process, number):
    pass


@table.cdecl(1)
def _amsg_exit(process, code):
    raise Fault(f"{process.current_call}: the C runtime gave up (_amsg_exit({code}))")


@table.cdecl(0)
def abort(process):
    raise Fault(f"{process.current_call}: the DLL called abort()")


# ---- msvcrt: memory and strings --------------------------------------------

@table.cdecl(1)
def malloc(process, size):
    return process.heap.allocate(size)


@table.cdecl(2)
def calloc(process, count, size):
    total = count * size
    if total > 0xFFFFFFFF:
        return 0
    address = process.heap.allocate(total)
    if address:
        process.write(address, bytes(total))
    return address


@table.cdecl(2)
def realloc(process, address, size):
    if address == 0:
        return process.heap.allocate(size)
    old_size = process.heap.size_of(address) if address in process.heap.live else None
    if old_size is None:
        raise Fault(f"realloc(0x{address:08X}): not a live heap block")
    if size == 0:
        process.heap.free(address, "realloc")
        return 0
    new = process.heap.allocate(size)
    if new:
        process.write(new, process.read(address, min(old_size, size)))
        process.heap.free(address, "realloc")
    return new


@table.cdecl(1)
def free(process, address):
    process.heap.free(address)


# memmove too: the source is read whole before the destination is written.
@table.cdecl(3, name="memmove")
@table.cdecl(3)
def memcpy(process, destination, source, count):
    if count:
        process.write(destination, process.read(source, count))
    return destination


@table.cdecl(3)
def memcmp(process, a, b, count):
    return _compare(process.read(a, count), process.read(b, count)) if count else 0


@table.cdecl(3)
def memset(process, destination, value, count):
    if count:
        process.write(destination, bytes([value & 0xFF]) * count)
    return destination


@table.cdecl(1)
def strlen(process, text):
    return len(process.cstring(text, limit=1 << 20))


@table.cdecl(2)
def strcpy(process, destination, source):
    process.write(destination, process.cstring(source, limit=1 << 20) + b"\0")
    return destination


@table.cdecl(2)
def strcat(process, destination, source):
    end = destination + len(process.cstring(destination, limit=1 << 20))
    process.write(end, process.cstring(source, limit=1 << 20) + b"\0")
    return destination


def _compare(a, b):
    return (a > b) - (a < b)


@table.cdecl(2)
def strcmp(process, a, b):
    return _compare(process.cstring(a, 1 << 20), process.cstring(b, 1 << 20))


@table.cdecl(3)
def strncmp(process, a, b, count):
    return _compare(process.cstring(a, 1 << 20)[:count], process.cstring(b, 1 << 20)[:count])


@table.cdecl(2)
def strchr(process, text, character):
    data = process.cstring(text, 1 << 20) + b"\0"
    position = data.find(bytes([character & 0xFF]))
    return text + position if position >= 0 else 0


@table.cdecl(1)
def wcslen(process, text):
    return len(process.wstring(text, 1 << 20))


@table.cdecl(1)
def atoi(process, text):
    digits = process.cstring(text).strip()
    sign, number = 1, 0
    if digits[:1] in (b"-", b"+"):
        sign = -1 if digits[:1] == b"-" else 1
        digits = digits[1:]
    for c in digits:
        if not 0x30 <= c <= 0x39:
            break
        number = number * 10 + c - 0x30
    return (sign * number) & 0xFFFFFFFF
