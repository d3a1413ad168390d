#!/usr/bin/env python3
"""Writes a .def file whose names carry their __stdcall decoration.

  stdcall_def.py --def tarvex.def --header tarvex.h --out tarvex_stdcall.def

Every name of the input .def becomes name@N, N being 4 bytes for each
parameter the public header declares (every parameter is 4 bytes wide), with
its ordinal kept. dlltool builds an import library from it with --kill-at, so
a 32-bit host that calls _getdata@20 imports getdata from the DLL.
"""

import argparse
import re
import sys


def exported_names(path):
    """(name, ordinal) of every "name @ordinal" line, in file order."""
    names = []
    with open(path, encoding="utf-8") as f:
        for raw in f:
            m = re.fullmatch(r"\s*([A-Za-z_]\w*)\s+@(\d+)\s*", raw.split(";", 1)[0])
            if m:
                names.append((m.group(1), int(m.group(2))))
    return names


def parameter_counts(path):
    """Entry point name -> number of parameters, from the public header."""
    with open(path, encoding="utf-8") as f:
        text = re.sub(r"/\*.*?\*/|//[^\n]*", " ", f.read(), flags=re.S)
    counts = {}
    for m in re.finditer(r"TARVEX_CALL\s+(\w+)\s*\(([^)]*)\)", text):
        params = " ".join(m.group(2).split())
        counts[m.group(1)] = 0 if params in ("", "void") else len(params.split(","))
    return counts


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--def", dest="def_file", required=True)
    parser.add_argument("--header", required=True)
    parser.add_argument("--out", required=True)
    args = parser.parse_args()

    counts = parameter_counts(args.header)
    lines = ["; Generated: the names of " + args.def_file.split("/")[-1] +
             " with their __stdcall decoration.", "LIBRARY tarvex.dll", "EXPORTS"]
    for name, ordinal in exported_names(args.def_file):
        if name not in counts:
            print(f"stdcall_def: {name} has no TARVEX_CALL declaration in {args.header}",
                  file=sys.stderr)
            return 1
        lines.append(f"  {name}@{4 * counts[name]} @{ordinal}")
    with open(args.out, "w", encoding="utf-8") as f:
        f.write("\n".join(lines) + "\n")
    return 0


if __name__ == "__main__":
    sys.exit(main())
