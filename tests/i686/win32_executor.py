"""Runs a 32-bit Windows DLL's own machine code under the Unicorn CPU emulator.

The build machines cannot run a 32-bit program (their kernel has no 32-bit
support, so wine cannot load the i686 DLL either). This executor stands in for
the Windows loader and the system DLLs instead:

- it maps the PE image at a base other than its preferred one, so every base
  relocation must be applied, and gives each section its own protection;
- it sets up a thread: a stack, a TEB reached through FS (a GDT entry), the
  module's static TLS block, and runs the TLS callbacks and the DLL entry point
  (the mingw CRT start-up) with DLL_PROCESS_ATTACH, and DLL_PROCESS_DETACH at
  the end;
- every import resolves to a stub: a Python function from the stand-in table
  (standins.py: name -> function, argument count, who pops), a few bytes of
  x86 code where the stand-in must call back into the DLL, or data; an import
  without a stand-in resolves too, and fails the test with its name only when
  it is called;
- `call` makes each call into an export as a 32-bit __stdcall host does
  (arguments pushed right to left, a return address) and checks what the
  callee must leave: ESP back where it was before the arguments were pushed
  (the callee pops 4 bytes per argument), EBX, ESI, EDI and EBP unchanged,
  the direction flag clear.

Stand-ins clobber ECX and EDX on return, as real system calls may, so code
that relied on them surviving a call would show. Anything the DLL does that a
Windows process would not survive (an unmapped or write-protected access, a
stack imbalance, abort) raises Fault.
"""

import ctypes
import struct
import time

import pefile
from unicorn import (UC_ARCH_X86, UC_HOOK_INTR, UC_HOOK_MEM_INVALID, UC_MEM_FETCH_PROT,
                     UC_MEM_FETCH_UNMAPPED, UC_MEM_READ_PROT, UC_MEM_READ_UNMAPPED,
                     UC_MEM_WRITE_PROT, UC_MEM_WRITE_UNMAPPED, UC_MODE_32, UC_PROT_ALL,
                     UC_PROT_EXEC, UC_PROT_READ, UC_PROT_WRITE, Uc, UcError)
from unicorn.x86_const import (UC_X86_REG_DS, UC_X86_REG_EAX, UC_X86_REG_EBP,
                               UC_X86_REG_EBX, UC_X86_REG_ECX, UC_X86_REG_EDI,
                               UC_X86_REG_EDX, UC_X86_REG_EFLAGS, UC_X86_REG_EIP,
                               UC_X86_REG_ES, UC_X86_REG_ESI, UC_X86_REG_ESP,
                               UC_X86_REG_FS, UC_X86_REG_GDTR, UC_X86_REG_SS)

PAGE = 0x1000

# The address space of the emulated process.
GDT_BASE = 0x00008000
STUB_BASE = 0x00010000      # one 16-byte stub per import, then the return address
STUB_SIZE = 0x00010000
STUB_SLOT = 16
DATA_BASE = 0x00020000      # data imports (msvcrt's _iob, __mb_cur_max), errno
DATA_SIZE = 0x00010000
HOST_BASE = 0x00100000      # buffers the host passes to the DLL
HOST_SIZE = 0x00100000
STACK_LIMIT = 0x00300000    # 1 MB stack; the pages below it stay unmapped (a guard)
STACK_BASE = 0x00400000
HEAP_BASE = 0x01000000      # malloc and friends
HEAP_SIZE = 0x01000000
IMAGE_BASES = (0x10000000, 0x20000000, 0x30000000, 0x40000000)  # never at its preferred base
TEB_BASE = 0x7FFDE000
PEB_BASE = 0x7FFDF000

RETURN_ADDRESS = STUB_BASE + STUB_SIZE - STUB_SLOT  # where a host's call returns to

# TEB fields (32-bit Windows).
TEB_EXCEPTION_LIST = 0x00
TEB_STACK_BASE = 0x04
TEB_STACK_LIMIT = 0x08
TEB_SELF = 0x18
TEB_PROCESS_ID = 0x20
TEB_THREAD_ID = 0x24
TEB_TLS_POINTER = 0x2C
TEB_PEB = 0x30
TEB_LAST_ERROR = 0x34
TEB_TLS_SLOTS = 0xE10
TLS_SLOT_COUNT = 64

PROCESS_ID = 0x1F40
THREAD_ID = 0x1F44

DLL_PROCESS_DETACH = 0
DLL_PROCESS_ATTACH = 1

INT_STAND_IN = 0x80   # `int 0x80` in a stub: the hook runs the stand-in

# Values a callee must give back unchanged, and what stand-ins leave behind.
CALLEE_SAVED = {UC_X86_REG_EBX: ("EBX", 0x0B0B0B0B), UC_X86_REG_ESI: ("ESI", 0x051051E5),
                UC_X86_REG_EDI: ("EDI", 0x0D10D1ED), UC_X86_REG_EBP: ("EBP", 0x0BADB0B0)}
CLOBBER_ECX = 0xC1C1C1C1
CLOBBER_EDX = 0xD1D1D1D1
EFLAGS_DF = 0x400


class Fault(Exception):
    """The DLL did something a Windows process would not survive, or called an
    import the executor has no stand-in for."""


# ---- The stand-in table ---------------------------------------------------

class StandIn:
    """One import: a Python function, x86 code, or data.

    function(process, *args) gets the call's 32-bit arguments and returns EAX
    (None leaves 0; a value above 32 bits fills EDX:EAX). callee_pops: the
    stub returns with `ret 4 * argc` (WINAPI) rather than `ret` (cdecl)."""

    def __init__(self, function=None, argc=0, callee_pops=True, code=None, data=None):
        self.function = function
        self.argc = argc
        self.callee_pops = callee_pops
        self.code = code
        self.data = data


class StandIns(dict):
    """(dll, name) -> StandIn, dll in lower case. Adding a stand-in is a
    decorator and a function:

        @table.winapi(1)
        def SetLastError(process, code):
            process.last_error = code
    """

    def winapi(self, argc, dll="kernel32.dll", name=None):
        def register(function):
            self[(dll, name or function.__name__)] = StandIn(function, argc, True)
            return function
        return register

    def cdecl(self, argc, dll="msvcrt.dll", name=None):
        def register(function):
            self[(dll, name or function.__name__)] = StandIn(function, argc, False)
            return function
        return register

    def code(self, dll, name, machine_code):
        self[(dll, name)] = StandIn(code=machine_code)

    def data(self, dll, name, initial):
        self[(dll, name)] = StandIn(data=initial)

    def find(self, dll, name):
        return self.get((dll.lower(), name))


# ---- The heap --------------------------------------------------------------

class Heap:
    """malloc/free over one region. Blocks are never reused; each is followed
    by a canary, checked when the block is freed and at check(), so a write
    past an allocation shows. A free of a pointer the heap did not give out
    (or gave out and took back already) is a Fault."""

    CANARY = b"\xFD" * 16

    def __init__(self, process):
        self.process = process
        self.next = HEAP_BASE
        self.live = {}      # address -> size
        self.allocations = 0
        self.frees = 0

    def allocate(self, size):
        size = max(size, 1)
        address = self.next
        end = address + size + len(self.CANARY)
        if end > HEAP_BASE + HEAP_SIZE:
            return 0
        self.next = (end + 15) & ~15
        self.process.write(address + size, self.CANARY)
        self.live[address] = size
        self.allocations += 1
        return address

    def free(self, address, what="free"):
        if address == 0:
            return
        if address not in self.live:
            raise Fault(f"{what}(0x{address:08X}): not a live heap block")
        self._check_canary(address)
        del self.live[address]
        self.frees += 1

    def size_of(self, address):
        return self.live[address]

    def _check_canary(self, address):
        size = self.live[address]
        if self.process.read(address + size, len(self.CANARY)) != self.CANARY:
            raise Fault(f"heap block 0x{address:08X} of {size} bytes: written past its end")

    def check(self):
        for address in self.live:
            self._check_canary(address)


# ---- A loaded module ------------------------------------------------------

class Module:
    def __init__(self, path, base, pe):
        self.path = path
        self.base = base
        self.pe = pe
        self.size = pe.OPTIONAL_HEADER.SizeOfImage
        self.entry = base + pe.OPTIONAL_HEADER.AddressOfEntryPoint
        self.by_name = {}
        self.by_ordinal = {}
        self.imports = []          # (dll, name, stub address)
        self.tls_callbacks = []
        self.relocations_applied = 0

    def export(self, name_or_ordinal):
        table = self.by_ordinal if isinstance(name_or_ordinal, int) else self.by_name
        if name_or_ordinal not in table:
            raise Fault(f"{self.path}: no export {name_or_ordinal!r}")
        return table[name_or_ordinal]

    def rva_of(self, address):
        return address - self.base if self.base <= address < self.base + self.size else None


# ---- The process -----------------------------------------------------------

class Process:
    """One emulated 32-bit Windows process with one thread."""

    def __init__(self, stand_ins, tick_start=None, call_timeout_s=120):
        self.stand_ins = stand_ins
        self.call_timeout_s = call_timeout_s
        self.uc = Uc(UC_ARCH_X86, UC_MODE_32)
        self.modules = []
        self.stubs = {}            # stub address -> (dll, name, StandIn or None)
        self.stub_next = STUB_BASE
        self.data_next = DATA_BASE
        self.host_next = HOST_BASE
        self.heap = Heap(self)
        self.calls = {}            # "dll!name" -> how often the DLL called it
        self.tls_indexes = set()
        self.state = {}            # room for the stand-ins' own state
        self.handles = {}          # handle value -> the stand-ins' object behind it
        self.handle_next = 0x100
        self.current_call = None
        self.pending_fault = None
        # GetTickCount: the host's monotonic clock, shifted so that it starts at
        # tick_start (to put the 32-bit wrap where a test wants it).
        self.tick_offset = 0
        if tick_start is not None:
            self.set_tick(tick_start)
        self._map_process()
        self.uc.hook_add(UC_HOOK_INTR, self._on_interrupt)
        self.uc.hook_add(UC_HOOK_MEM_INVALID, self._on_bad_access)

    # -- memory --------------------------------------------------------------

    def read(self, address, size):
        return bytes(self.uc.mem_read(address, size))

    def write(self, address, data):
        self.uc.mem_write(address, bytes(data))

    def u32(self, address):
        return struct.unpack("<I", self.read(address, 4))[0]

    def put_u32(self, address, value):
        self.write(address, struct.pack("<I", value & 0xFFFFFFFF))

    def cstring(self, address, limit=4096):
        if address == 0:
            return None
        data = b""
        while len(data) < limit:
            chunk = self.read(address + len(data), 1)
            if chunk == b"\0":
                return data
            data += chunk
        raise Fault(f"string at 0x{address:08X} longer than {limit} bytes")

    def wstring(self, address, limit=4096):
        if address == 0:
            return None
        data = b""
        while len(data) < 2 * limit:
            unit = self.read(address + len(data), 2)
            if unit == b"\0\0":
                return data.decode("utf-16-le")
            data += unit
        raise Fault(f"wide string at 0x{address:08X} longer than {limit} characters")

    def host_buffer(self, data):
        """Copies data into the host's region; returns its address."""
        data = bytes(data)
        address = self.host_next
        end = address + len(data)
        if end > HOST_BASE + HOST_SIZE:
            raise Fault("the host buffers do not fit their region")
        self.write(address, data)
        self.host_next = (end + 16 + 15) & ~15   # 16 bytes between buffers
        return address

    def release_host_buffers(self):
        self.host_next = HOST_BASE

    # -- time and errors, shared by the stand-ins ----------------------------

    @staticmethod
    def _monotonic_ms():
        return time.clock_gettime_ns(time.CLOCK_MONOTONIC) // 1_000_000

    def tick(self):
        return (self._monotonic_ms() + self.tick_offset) & 0xFFFFFFFF

    def set_tick(self, value):
        self.tick_offset = (value - self._monotonic_ms()) & 0xFFFFFFFF

    @property
    def last_error(self):
        return self.u32(TEB_BASE + TEB_LAST_ERROR)

    @last_error.setter
    def last_error(self, value):
        self.put_u32(TEB_BASE + TEB_LAST_ERROR, value)

    # -- kernel object handles, shared by the stand-ins ----------------------

    def new_handle(self, kernel_object):
        handle = self.handle_next
        self.handle_next += 4          # Windows handles are multiples of 4
        self.handles[handle] = kernel_object
        return handle

    def object_of(self, handle, kind=object):
        kernel_object = self.handles.get(handle)
        return kernel_object if isinstance(kernel_object, kind) else None

    # -- set-up -------------------------------------------------------------

    def _map_process(self):
        uc = self.uc
        uc.mem_map(GDT_BASE, PAGE, UC_PROT_READ | UC_PROT_WRITE)
        uc.mem_map(STUB_BASE, STUB_SIZE, UC_PROT_READ | UC_PROT_EXEC)
        uc.mem_map(DATA_BASE, DATA_SIZE, UC_PROT_READ | UC_PROT_WRITE)
        uc.mem_map(HOST_BASE, HOST_SIZE, UC_PROT_READ | UC_PROT_WRITE)
        uc.mem_map(STACK_LIMIT, STACK_BASE - STACK_LIMIT, UC_PROT_READ | UC_PROT_WRITE)
        uc.mem_map(HEAP_BASE, HEAP_SIZE, UC_PROT_READ | UC_PROT_WRITE)
        uc.mem_map(TEB_BASE, 2 * PAGE, UC_PROT_READ | UC_PROT_WRITE)
        # A `hlt` where a host's call returns (emulation stops before it).
        self.write(RETURN_ADDRESS, b"\xF4")
        # TEB and PEB.
        teb = TEB_BASE
        self.put_u32(teb + TEB_EXCEPTION_LIST, 0xFFFFFFFF)
        self.put_u32(teb + TEB_STACK_BASE, STACK_BASE)
        self.put_u32(teb + TEB_STACK_LIMIT, STACK_LIMIT)
        self.put_u32(teb + TEB_SELF, teb)
        self.put_u32(teb + TEB_PROCESS_ID, PROCESS_ID)
        self.put_u32(teb + TEB_THREAD_ID, THREAD_ID)
        self.put_u32(teb + TEB_PEB, PEB_BASE)
        # The static TLS pointer array: 64 module slots after the TLS slots.
        self.tls_array = teb + 0xF80 - 4 * 16
        self.put_u32(teb + TEB_TLS_POINTER, self.tls_array)
        # Flat 32-bit data segments for SS, DS and ES (GDT entry 2), and FS, a
        # data segment whose base is the TEB (entry 3). Loading a selector
        # recomputes the stack width: SS must be a 32-bit segment too.
        self.write(GDT_BASE + 2 * 8, _segment_descriptor(0, 0xFFFFF, 0x93, 0xC))
        self.write(GDT_BASE + 3 * 8, _segment_descriptor(teb, PAGE - 1, 0xF3, 0x4))
        uc.reg_write(UC_X86_REG_GDTR, (0, GDT_BASE, 8 * 8 - 1, 0))
        for register in (UC_X86_REG_SS, UC_X86_REG_DS, UC_X86_REG_ES):
            uc.reg_write(register, 2 * 8)
        uc.reg_write(UC_X86_REG_FS, 3 * 8 | 3)

    def load(self, path):
        """Maps a DLL, resolves its imports, runs its TLS callbacks and entry
        point with DLL_PROCESS_ATTACH. Returns the Module."""
        pe = pefile.PE(path, fast_load=True)
        pe.parse_data_directories(directories=[
            pefile.DIRECTORY_ENTRY[d] for d in (
                "IMAGE_DIRECTORY_ENTRY_IMPORT", "IMAGE_DIRECTORY_ENTRY_EXPORT",
                "IMAGE_DIRECTORY_ENTRY_BASERELOC", "IMAGE_DIRECTORY_ENTRY_TLS")])
        if pe.FILE_HEADER.Machine != pefile.MACHINE_TYPE["IMAGE_FILE_MACHINE_I386"]:
            raise Fault(f"{path}: not an i386 image")
        preferred = pe.OPTIONAL_HEADER.ImageBase
        taken = {m.base for m in self.modules}
        base = next(b for b in IMAGE_BASES if b != preferred and b not in taken)
        module = Module(path, base, pe)
        size = (module.size + PAGE - 1) & ~(PAGE - 1)
        self.uc.mem_map(base, size, UC_PROT_ALL)
        self.write(base, pe.header[:pe.OPTIONAL_HEADER.SizeOfHeaders])
        for section in pe.sections:
            raw = section.get_data()[:min(section.SizeOfRawData, section.Misc_VirtualSize)]
            self.write(base + section.VirtualAddress, raw)
        self._relocate(module, base - preferred)
        self._resolve_imports(module)
        for symbol in getattr(pe, "DIRECTORY_ENTRY_EXPORT", None).symbols:
            address = base + symbol.address
            module.by_ordinal[symbol.ordinal] = address
            if symbol.name:
                module.by_name[symbol.name.decode()] = address
        self._protect(module)
        self.modules.append(module)
        self._set_up_tls(module, preferred)
        for callback in module.tls_callbacks:
            self.call_address(callback, [base, DLL_PROCESS_ATTACH, 0], what="TLS callback")
        if not self.call_address(module.entry, [base, DLL_PROCESS_ATTACH, 0], what="DllMain"):
            raise Fault(f"{path}: the entry point refused DLL_PROCESS_ATTACH")
        return module

    def unload(self, module):
        """DLL_PROCESS_DETACH: the entry point, then the TLS callbacks."""
        self.call_address(module.entry, [module.base, DLL_PROCESS_DETACH, 0], what="DllMain")
        for callback in module.tls_callbacks:
            self.call_address(callback, [module.base, DLL_PROCESS_DETACH, 0], what="TLS callback")

    def _relocate(self, module, delta):
        pe = module.pe
        for block in getattr(pe, "DIRECTORY_ENTRY_BASERELOC", []):
            for entry in block.entries:
                if entry.type == pefile.RELOCATION_TYPE["IMAGE_REL_BASED_ABSOLUTE"]:
                    continue
                if entry.type != pefile.RELOCATION_TYPE["IMAGE_REL_BASED_HIGHLOW"]:
                    raise Fault(f"{module.path}: relocation type {entry.type} at RVA "
                                f"0x{entry.rva:X} (an i386 image has HIGHLOW only)")
                address = module.base + entry.rva
                self.put_u32(address, self.u32(address) + delta)
                module.relocations_applied += 1
        if delta and module.relocations_applied == 0:
            raise Fault(f"{module.path}: no base relocations, it cannot load away from its base")

    def _resolve_imports(self, module):
        pe = module.pe
        preferred = pe.OPTIONAL_HEADER.ImageBase
        for descriptor in getattr(pe, "DIRECTORY_ENTRY_IMPORT", []):
            dll = descriptor.dll.decode()
            for item in descriptor.imports:
                name = item.name.decode() if item.name else f"#{item.ordinal}"
                slot = module.base + (item.address - preferred)
                self.put_u32(slot, self._stub_for(dll, name))
                module.imports.append((dll, name, slot))

    def _stub_for(self, dll, name):
        stand_in = self.stand_ins.find(dll, name)
        if stand_in is not None and stand_in.data is not None:
            address = self.data_next
            self.write(address, stand_in.data)
            self.data_next = (address + len(stand_in.data) + 15) & ~15
            return address
        if stand_in is not None and stand_in.code is not None:
            code = bytes([0xCD, INT_STAND_IN]) + stand_in.code   # counted, then run
        elif stand_in is not None and stand_in.callee_pops and stand_in.argc:
            code = bytes([0xCD, INT_STAND_IN, 0xC2]) + struct.pack("<H", 4 * stand_in.argc)
        else:
            code = bytes([0xCD, INT_STAND_IN, 0xC3])   # cdecl, or no stand-in at all
        slots = (len(code) + STUB_SLOT - 1) // STUB_SLOT
        address = self.stub_next
        if address + slots * STUB_SLOT > RETURN_ADDRESS:
            raise Fault("too many imports for the stub region")
        self.stub_next += slots * STUB_SLOT
        self.write(address, code)
        self.stubs[address + 2] = (dll, name, stand_in)
        return address

    def _protect(self, module):
        self.uc.mem_protect(module.base, PAGE, UC_PROT_READ)
        for section in module.pe.sections:
            flags = section.Characteristics
            protection = 0
            if flags & 0x40000000:
                protection |= UC_PROT_READ
            if flags & 0x80000000:
                protection |= UC_PROT_WRITE
            if flags & 0x20000000:
                protection |= UC_PROT_EXEC | UC_PROT_READ
            size = (section.Misc_VirtualSize + PAGE - 1) & ~(PAGE - 1)
            if size:
                self.uc.mem_protect(module.base + section.VirtualAddress, size, protection)

    def _set_up_tls(self, module, preferred):
        tls = getattr(module.pe, "DIRECTORY_ENTRY_TLS", None)
        if tls is None:
            return
        delta = module.base - preferred
        directory = tls.struct
        start = directory.StartAddressOfRawData + delta
        end = directory.EndAddressOfRawData + delta
        index = len([m for m in self.modules if m is not module])
        block = self.heap.allocate(end - start + directory.SizeOfZeroFill)
        self.heap.live.pop(block)   # the loader's, not the DLL's to free
        self.write(block, self.read(start, end - start))
        self.put_u32(self.tls_array + 4 * index, block)
        self.put_u32(directory.AddressOfIndex + delta, index)
        if directory.AddressOfCallBacks:
            pointer = directory.AddressOfCallBacks + delta
            while self.u32(pointer):
                module.tls_callbacks.append(self.u32(pointer))
                pointer += 4

    # -- calls --------------------------------------------------------------

    def call(self, module, export, args):
        """Calls an export (by name, or by ordinal when an int) as a 32-bit
        __stdcall host does; returns EAX as an unsigned 32-bit value."""
        what = export if isinstance(export, str) else f"ordinal {export}"
        return self.call_address(module.export(export), args, what=what)

    def call_address(self, address, args, what):
        uc = self.uc
        esp_before = STACK_BASE - 64      # what the host's ESP is before it pushes
        frame = struct.pack(f"<{len(args) + 1}I", RETURN_ADDRESS,
                            *[a & 0xFFFFFFFF for a in args])
        esp_call = esp_before - 4 * len(args) - 4
        self.write(esp_call, frame)
        uc.reg_write(UC_X86_REG_ESP, esp_call)
        for register, (_, value) in CALLEE_SAVED.items():
            uc.reg_write(register, value)
        uc.reg_write(UC_X86_REG_EFLAGS, 0x202)
        outer = self.current_call
        self.current_call = what
        self.pending_fault = None
        try:
            uc.emu_start(address, RETURN_ADDRESS, timeout=int(self.call_timeout_s * 1e6))
        except UcError as error:
            if self.pending_fault:
                raise Fault(self.pending_fault) from None
            eip = uc.reg_read(UC_X86_REG_EIP)
            raise Fault(f"{what}: {error} at EIP {self._where(eip)}") from None
        finally:
            self.current_call = outer
        if self.pending_fault:
            raise Fault(self.pending_fault)
        eip = uc.reg_read(UC_X86_REG_EIP)
        if eip != RETURN_ADDRESS:
            raise Fault(f"{what}: did not return within {self.call_timeout_s} s "
                        f"(EIP {self._where(eip)})")
        esp = uc.reg_read(UC_X86_REG_ESP)
        if esp != esp_before:
            popped = esp - (esp_call + 4)
            raise Fault(f"{what}: the callee popped {popped} bytes of arguments; "
                        f"__stdcall with {len(args)} arguments pops {4 * len(args)}")
        for register, (name, value) in CALLEE_SAVED.items():
            if uc.reg_read(register) != value:
                raise Fault(f"{what}: {name} not preserved across the call")
        if uc.reg_read(UC_X86_REG_EFLAGS) & EFLAGS_DF:
            raise Fault(f"{what}: returned with the direction flag set")
        return uc.reg_read(UC_X86_REG_EAX)

    def _where(self, address):
        for module in self.modules:
            rva = module.rva_of(address)
            if rva is not None:
                preferred = module.pe.OPTIONAL_HEADER.ImageBase
                return f"0x{address:08X} ({module.path.split('/')[-1]} RVA 0x{rva:X}, " \
                       f"0x{preferred + rva:08X} in objdump)"
        return f"0x{address:08X}"

    # -- hooks --------------------------------------------------------------

    def _on_interrupt(self, uc, number, _data):
        eip = uc.reg_read(UC_X86_REG_EIP)
        if number != INT_STAND_IN or eip not in self.stubs:
            raise Fault(f"interrupt 0x{number:X} at EIP {self._where(eip)}")
        dll, name, stand_in = self.stubs[eip]
        key = f"{dll}!{name}"
        self.calls[key] = self.calls.get(key, 0) + 1
        esp = uc.reg_read(UC_X86_REG_ESP)
        if stand_in is not None and stand_in.code is not None:
            return
        if stand_in is None or stand_in.function is None:
            raise Fault(f"{self.current_call}: the DLL called {key}, which has no stand-in "
                        f"(from {self._where(self.u32(esp))})")
        args = struct.unpack(f"<{stand_in.argc}I", self.read(esp + 4, 4 * stand_in.argc)) \
            if stand_in.argc else ()
        result = stand_in.function(self, *args)
        result = 0 if result is None else int(result)
        if result < 0:
            result &= 0xFFFFFFFF          # a negative int is its 32-bit pattern
        uc.reg_write(UC_X86_REG_EAX, result & 0xFFFFFFFF)
        uc.reg_write(UC_X86_REG_EDX, (result >> 32) & 0xFFFFFFFF if result >> 32 else CLOBBER_EDX)
        uc.reg_write(UC_X86_REG_ECX, CLOBBER_ECX)

    def _on_bad_access(self, uc, access, address, size, _value, _data):
        kinds = {UC_MEM_READ_UNMAPPED: "read of unmapped",
                 UC_MEM_WRITE_UNMAPPED: "write to unmapped",
                 UC_MEM_FETCH_UNMAPPED: "execution of unmapped",
                 UC_MEM_WRITE_PROT: "write to read-only",
                 UC_MEM_READ_PROT: "read of protected", UC_MEM_FETCH_PROT: "execution of non-code"}
        eip = uc.reg_read(UC_X86_REG_EIP)
        # Kept for call_address: an exception here would be lost behind the
        # UcError that emu_start raises for the access.
        self.pending_fault = (f"{self.current_call}: {kinds.get(access, 'invalid access to')} "
                              f"memory 0x{address:08X} ({size} bytes) at EIP {self._where(eip)}")
        return False


def _segment_descriptor(base, limit, access, flags):
    value = (limit & 0xFFFF) | ((base & 0xFFFFFF) << 16) | ((access & 0xFF) << 40) \
        | (((limit >> 16) & 0xF) << 48) | ((flags & 0xF) << 52) | (((base >> 24) & 0xFF) << 56)
    return struct.pack("<Q", value)


def signed32(value):
    """EAX as the int32_t a result code is."""
    return ctypes.c_int32(value).value
