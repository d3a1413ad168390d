#!/usr/bin/env python3
"""Static checks of a Windows deliverable, read with the mingw binutils.

  check_pe.py exports --dll D --def F --objdump O
      every name of the .def file is exported undecorated with its ordinal,
      and nothing else is exported
  check_pe.py imports --dll D --objdump O
      the DLL imports nothing but the system (KERNEL32, the C runtime, and
      WS2_32 for network ports), and the serial calls come from KERNEL32
      under their ANSI names
  check_pe.py stdcall --dll D --def F --header H --objdump O
      (i686) each export pops its own arguments: its ret takes 4 bytes for
      every parameter the public header declares
  check_pe.py importlib --dll D --lib L --def F --header H --objdump O --cc C
      (i686) a 32-bit host that calls every entry point of the .def, linked
      against the import library L, imports them from the DLL's file name
      under their undecorated names
  check_pe.py exports ... --only-reserved
      also: the .def lists the ten names of ordinals 1 to 10 and no other
      (the legacy build)

The expected names come from the .def file and the parameter counts from the
public header, so a new family of entry points needs nothing added here.
Exit status 0 when every check holds, 1 with a reason on each failed line.
"""

import argparse
import os
import re
import shutil
import subprocess
import sys
import tempfile

# DLLs a deliverable may import: the system, the C runtime it was linked
# against, and Winsock (rfc2217:// ports). Anything else (libgcc, libstdc++,
# winpthread, the UCRT forwarders) would have to ship beside it.
ALLOWED_IMPORTS = {"kernel32.dll", "msvcrt.dll", "ws2_32.dll"}

# What the serial backend must take from KERNEL32. A missing one means the
# wrong backend was built in, or a wide-character or other variant slipped in.
REQUIRED_KERNEL32 = [
    "CreateFileA", "SetCommTimeouts", "GetCommState", "SetCommState", "WriteFile",
    "ReadFile", "ClearCommError", "PurgeComm", "CloseHandle", "GetTickCount",
]

# Ordinals 1 to 10 belong to the same ten names in both builds; hosts that
# import by ordinal rely on it. Every other name takes an ordinal from 11 on.
RESERVED_ORDINALS = {
    1: "senddata", 2: "getdata", 3: "cardLock", 4: "keylock", 5: "ascc",
    6: "senddata_hex", 7: "getdata_hex", 8: "abcd", 9: "sendBlack_hex", 10: "sendBlack",
}

# Parameter types of the public header, all 4 bytes wide on i686.
FOUR_BYTE_TYPES = {"int32_t", "uint32_t", "tarvex_port_t"}


class CheckFailed(Exception):
    pass


def read_def(path):
    """Exported name -> ordinal, in file order."""
    exports = {}
    in_exports = False
    with open(path, encoding="utf-8") as f:
        for number, raw in enumerate(f, 1):
            line = raw.split(";", 1)[0].strip()
            if not line:
                continue
            if line.upper() == "EXPORTS":
                in_exports = True
                continue
            if not in_exports or line.upper().startswith(("LIBRARY", "NAME")):
                continue
            m = re.fullmatch(r"([A-Za-z_]\w*)(?:\s*=\s*\S+)?\s+@(\d+)(\s+.*)?", line)
            if not m:
                raise CheckFailed(f"{path}:{number}: expected 'name @ordinal', got '{line}'")
            name, ordinal = m.group(1), int(m.group(2))
            if name in exports:
                raise CheckFailed(f"{path}:{number}: {name} listed twice")
            exports[name] = ordinal
    if not exports:
        raise CheckFailed(f"{path}: no EXPORTS")
    return exports


def check_def_ordinals(def_exports, def_path, only_reserved=False):
    errors = []
    by_ordinal = {}
    reserved_for = {name: ordinal for ordinal, name in RESERVED_ORDINALS.items()}
    errors += [f"{def_path}: {name} (ordinal {ordinal}) is missing; both builds have it"
               for name, ordinal in reserved_for.items() if name not in def_exports]
    if only_reserved:
        errors += [f"{def_path}: {name} is not one of the ten entry points of this build"
                   for name in def_exports if name not in reserved_for]
    for name, ordinal in def_exports.items():
        if ordinal in by_ordinal:
            errors.append(f"{def_path}: ordinal {ordinal} given to {by_ordinal[ordinal]} and {name}")
        by_ordinal[ordinal] = name
        if name in reserved_for and ordinal != reserved_for[name]:
            errors.append(f"{def_path}: {name} must have ordinal {reserved_for[name]}, not {ordinal}")
        elif name not in reserved_for and ordinal <= 10:
            owner = RESERVED_ORDINALS.get(ordinal, "no name (ordinals start at 1)")
            errors.append(f"{def_path}: {name} has ordinal {ordinal}, which belongs to {owner}; "
                          f"other names take 11 and up")
    return errors


def read_header_arity(path):
    """Entry point name -> number of parameters, from the public header."""
    with open(path, encoding="utf-8") as f:
        text = re.sub(r"/\*.*?\*/|//[^\n]*", " ", f.read(), flags=re.S)
    arity = {}
    for m in re.finditer(r"TARVEX_CALL\s+(\w+)\s*\(([^)]*)\)", text):
        name, params = m.group(1), " ".join(m.group(2).split())
        if params in ("", "void"):
            arity[name] = 0
            continue
        parts = [p.strip() for p in params.split(",")]
        for p in parts:
            words = re.sub(r"\bconst\b", " ", p).replace("*", " * ").split()
            if "*" not in words and not FOUR_BYTE_TYPES.intersection(words):
                raise CheckFailed(f"{path}: {name}: parameter '{p}' is not 4 bytes wide")
        arity[name] = len(parts)
    return arity


def objdump(tool, *args):
    exe = shutil.which(tool)
    if exe is None:
        raise CheckFailed(f"{tool} not found: install mingw-w64 (scripts/build_windows.sh does)")
    run = subprocess.run([exe, *args], capture_output=True, text=True)
    if run.returncode != 0:
        raise CheckFailed(f"{tool} {' '.join(args)} failed: {run.stderr.strip()}")
    return run.stdout


def read_private_headers(tool, dll):
    """Image base, exports {name: (ordinal, rva)}, imports {dll: [functions]}."""
    text = objdump(tool, "-p", dll)
    base_m = re.search(r"^ImageBase\s+([0-9a-fA-F]+)", text, re.M)
    if not base_m:
        raise CheckFailed(f"{dll}: objdump -p shows no ImageBase")
    image_base = int(base_m.group(1), 16)

    # Export Address Table: "[ index] +base[ ordinal] rva Export RVA".
    rva_by_ordinal = {}
    for m in re.finditer(r"^\s*\[\s*(\d+)\]\s+\+base\[\s*(\d+)\]\s+([0-9a-fA-F]+)\s+Export RVA",
                         text, re.M):
        rva_by_ordinal[int(m.group(2))] = int(m.group(3), 16)
    ordinal_base_m = re.search(r"Export Address Table -- Ordinal Base (\d+)", text)

    # Name table: older binutils print the index into the address table,
    # newer ones the ordinal itself (with "+base[ n]" or an "Ordinal Base"
    # note in the heading).
    exports = {}
    table = re.search(r"^\[Ordinal/Name Pointer\] Table(.*?)$(.*?)(?:^\S|\Z)", text, re.M | re.S)
    if table:
        biased = "Ordinal Base" in table.group(1)
        for m in re.finditer(r"^\s*\[\s*(\d+)\]\s+(?:\+base\[\s*(\d+)\]\s+)?(\S+)\s*$",
                             table.group(2), re.M):
            if m.group(2) is not None:
                ordinal = int(m.group(2))
            elif biased or ordinal_base_m is None:
                ordinal = int(m.group(1))
            else:
                ordinal = int(m.group(1)) + int(ordinal_base_m.group(1))
            exports[m.group(3)] = (ordinal, rva_by_ordinal.get(ordinal))

    imports = {}
    current = None
    for line in text.splitlines():
        dll_m = re.match(r"^\s*DLL Name:\s*(\S+)", line)
        if dll_m:
            current = dll_m.group(1)
            imports[current] = []
            continue
        if current is not None:
            fn_m = re.match(r"^\s*[0-9a-fA-F]+\s+\d+\s+(\w+)\s*$", line)
            if fn_m:
                imports[current].append(fn_m.group(1))
            elif not line.strip() or line.lstrip().startswith("vma:"):
                continue
            else:
                current = None
    return image_base, exports, imports


def require_dll(dll, preset):
    if not os.path.isfile(dll):
        raise CheckFailed(
            f"{dll} is missing: build the {preset} preset first "
            f"(scripts/build_windows.sh, or cmake --preset {preset} && "
            f"cmake --build build/{preset} -j2)")


def check_exports(args):
    def_exports = read_def(args.def_file)
    errors = check_def_ordinals(def_exports, args.def_file, args.only_reserved)
    _, exports, _ = read_private_headers(args.objdump, args.dll)
    for name, ordinal in def_exports.items():
        if name not in exports:
            decorated = [n for n in exports if n.lstrip("_").split("@")[0] == name]
            hint = f" (found as {', '.join(decorated)})" if decorated else ""
            errors.append(f"{name}: not exported undecorated{hint}")
        elif exports[name][0] != ordinal:
            errors.append(f"{name}: ordinal {exports[name][0]}, expected {ordinal}")
    for name in sorted(set(exports) - set(def_exports)):
        errors.append(f"{name}: exported but not listed in {os.path.basename(args.def_file)}")
    report(errors, f"{len(def_exports)} exports, names and ordinals as listed")


def check_imports(args):
    _, _, imports = read_private_headers(args.objdump, args.dll)
    errors = [f"imports {d}: only {', '.join(sorted(ALLOWED_IMPORTS))} may be imported"
              for d in imports if d.lower() not in ALLOWED_IMPORTS]
    kernel32 = next((fns for d, fns in imports.items() if d.lower() == "kernel32.dll"), [])
    errors += [f"{fn} is not imported from KERNEL32.dll" for fn in REQUIRED_KERNEL32
               if fn not in kernel32]
    report(errors, f"imports {', '.join(imports)}")


INSN_RE = re.compile(r"^\s*[0-9a-f]+:\s+(.*?)\s*$")
RET_RE = re.compile(r"^(?:repz |rep |bnd )?ret[lw]?(?:\s+\$0x([0-9a-f]+))?$")
SYMBOL_RE = re.compile(r"^[0-9a-f]+ <(.+)>:$")
PADDING = ("nop", "xchg   %ax,%ax", "int3", "lea    0x0(%esi", "lea    0x0(%edi",
           "mov    %esi,%esi", "mov    %edi,%edi", "data16", "cs nop")


def callee_pops(tool, dll, start, stop):
    """The byte counts of the rets of the function at `start`, up to `stop`."""
    text = objdump(tool, "-d", "--no-show-raw-insn",
                   f"--start-address={start:#x}", f"--stop-address={stop:#x}", dll)
    pops = []
    seen_symbol = False
    ended = False
    for line in text.splitlines():
        if SYMBOL_RE.match(line):
            if seen_symbol:
                break  # the next function
            seen_symbol = True
            continue
        insn = INSN_RE.match(line)
        if not insn:
            continue
        if ended:
            # After a ret, filler means the function is over; anything else
            # is another path of the same function.
            if insn.group(1).startswith(PADDING):
                break
            ended = False
        ret = RET_RE.match(insn.group(1))
        if ret:
            pops.append(int(ret.group(1) or "0", 16))
            ended = True
    return pops


def check_stdcall(args):
    def_exports = read_def(args.def_file)
    arity = read_header_arity(args.header)
    image_base, exports, _ = read_private_headers(args.objdump, args.dll)
    starts = sorted(image_base + rva for _, rva in exports.values() if rva is not None)
    errors = []
    checked = 0
    for name in def_exports:
        if name not in arity:
            errors.append(f"{name}: no TARVEX_CALL declaration in {os.path.basename(args.header)}")
            continue
        if name not in exports or exports[name][1] is None:
            errors.append(f"{name}: not exported undecorated, cannot disassemble it")
            continue
        start = image_base + exports[name][1]
        stop = min([s for s in starts if s > start] + [start + 0x1000])
        pops = callee_pops(args.objdump, args.dll, start, stop)
        want = 4 * arity[name]
        if not pops:
            errors.append(f"{name}: no ret found at {start:#x}")
        elif any(p != want for p in pops):
            got = ", ".join(f"ret ${p:#x}" for p in pops)
            errors.append(f"{name}: {got}; a __stdcall function of {arity[name]} "
                          f"arguments ends with ret ${want:#x}")
        checked += 1
    report(errors, f"{checked} exports pop their own arguments")


def check_importlib(args):
    """Links a host against the import library and reads its import table."""
    def_exports = read_def(args.def_file)
    if not os.path.isfile(args.lib):
        raise CheckFailed(f"{args.lib} is missing: build the win32 preset first")
    compiler = shutil.which(args.cc)
    if compiler is None:
        raise CheckFailed(f"{args.cc} not found: install mingw-w64")
    refs = "\n".join(f"  table[{i}] = (void (*)(void)){name};"
                      for i, name in enumerate(def_exports))
    source = (f'#include "tarvex.h"\nvoid (*volatile table[{len(def_exports)}])(void);\n'
              f"int main(void) {{\n{refs}\n  return 0;\n}}\n")
    with tempfile.TemporaryDirectory() as work:
        host_c = os.path.join(work, "host.c")
        host_exe = os.path.join(work, "host.exe")
        with open(host_c, "w", encoding="utf-8") as f:
            f.write(source)
        run = subprocess.run([compiler, "-I", os.path.dirname(args.header), host_c, args.lib,
                              "-o", host_exe], capture_output=True, text=True)
        if run.returncode != 0:
            raise CheckFailed(f"a host does not link against {args.lib}:\n{run.stderr.strip()}")
        _, _, imports = read_private_headers(args.objdump, host_exe)
    dll_name = os.path.basename(args.dll).lower()
    from_dll = next((fns for d, fns in imports.items() if d.lower() == dll_name), None)
    if from_dll is None:
        raise CheckFailed(f"the host imports nothing from {dll_name} (imports {', '.join(imports)})")
    errors = [f"{fn}: imported as such, but the DLL exports no such name"
              for fn in from_dll if fn not in def_exports]
    errors += [f"{name}: not imported undecorated" for name in def_exports if name not in from_dll]
    report(errors, f"a host linked against {os.path.basename(args.lib)} imports "
                   f"{len(from_dll)} undecorated names from {dll_name}")


def report(errors, summary):
    for e in errors:
        print(f"FAIL {e}")
    if errors:
        raise SystemExit(1)
    print(f"ok: {summary}")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("check", choices=["exports", "imports", "stdcall", "importlib"])
    parser.add_argument("--dll", required=True)
    parser.add_argument("--preset", default="win32", help="the preset that builds the DLL")
    parser.add_argument("--objdump", required=True)
    parser.add_argument("--def", dest="def_file")
    parser.add_argument("--header")
    parser.add_argument("--only-reserved", action="store_true")
    parser.add_argument("--lib", help="import library (importlib)")
    parser.add_argument("--cc", help="the i686 C compiler (importlib)")
    args = parser.parse_args()
    try:
        require_dll(args.dll, args.preset)
        {"exports": check_exports, "imports": check_imports, "stdcall": check_stdcall,
         "importlib": check_importlib}[args.check](args)
    except CheckFailed as e:
        print(f"FAIL {e}")
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
