#!/usr/bin/env python3
"""Reads the version block back out of a built DLL or the tool and checks every field.

  check_version.py --dll build/win32/legacy/tarvex.dll --build legacy
  check_version.py --dll build/win64/tools/tarvex.exe --build tool

The resource section is walked with a small PE reader (no tools needed): the
DLL must hold exactly one resource, a version block in language 0x0804, whose
fixed part, string table and translation entry carry the values of EXPECTED
for its build. Prints what it read; exit status 1 with a reason on each
failed line.
"""

import argparse
import struct
import sys

RT_VERSION = 16
LANG_ZH_CN = 0x0804
CODEPAGE_UTF16 = 1200
VOS_NT_WINDOWS32 = 0x00040004
VFT_APP = 1
VFT_DLL = 2
FIXED_SIGNATURE = 0xFEEF04BD

# What each build's version block says.
COMMON_STRINGS = {
    "FileDescription": "tarvex",
    "InternalName": "tarvex",
    "ProductName": "tarvex",
    "OriginalFilename": "tarvex.dll",
}
EXPECTED = {
    "current": {
        "version": (2, 5, 0, 10),
        "strings": {**COMMON_STRINGS, "FileVersion": "2, 5, 0, 10",
                    "ProductVersion": "2, 5, 0, 10", "Comments": "通讯动态库"},
    },
    "legacy": {
        "version": (1, 5, 0, 17),
        "strings": {**COMMON_STRINGS, "FileVersion": "1, 5, 0, 17",
                    "ProductVersion": "1, 5, 0, 17", "Comments": "通讯动态库9600bps"},
    },
    "tool": {
        "version": (2, 5, 0, 10),
        "type": VFT_APP,
        "strings": {**COMMON_STRINGS, "OriginalFilename": "tarvex.exe", "FileVersion": "2, 5, 0, 10",
                    "ProductVersion": "2, 5, 0, 10", "Comments": "command-line tool"},
    },
}


class BadFile(Exception):
    pass


class PeImage:
    """Just enough of a PE file to find its resources."""

    def __init__(self, data):
        self.data = data
        if data[:2] != b"MZ":
            raise BadFile("no MZ header")
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        if data[pe:pe + 4] != b"PE\0\0":
            raise BadFile("no PE signature")
        sections, optional_size = struct.unpack_from("<2xH12xH", data, pe + 4)
        optional = pe + 24
        magic = struct.unpack_from("<H", data, optional)[0]
        directories = optional + {0x10B: 96, 0x20B: 112}.get(magic, -1)
        if directories < optional:
            raise BadFile(f"unknown optional header magic {magic:#x}")
        self.resource_rva, self.resource_size = struct.unpack_from("<II", data, directories + 2 * 8)
        self.sections = []
        table = optional + optional_size
        for i in range(sections):
            vsize, vaddr, raw_size, raw_ptr = struct.unpack_from("<IIII", data, table + 40 * i + 8)
            self.sections.append((vaddr, max(vsize, raw_size), raw_ptr))

    def offset(self, rva):
        for vaddr, size, raw_ptr in self.sections:
            if vaddr <= rva < vaddr + size:
                return raw_ptr + rva - vaddr
        raise BadFile(f"RVA {rva:#x} lies in no section")

    def resources(self):
        """[(type, name, language, bytes)] of every resource."""
        if self.resource_rva == 0:
            return []
        base = self.offset(self.resource_rva)
        found = []

        def walk(directory, path):
            named, ids = struct.unpack_from("<12xHH", self.data, base + directory)
            for i in range(named + ids):
                name, target = struct.unpack_from("<II", self.data, base + directory + 16 + 8 * i)
                key = name if not name & 0x80000000 else f"named@{name & 0x7FFFFFFF:#x}"
                if target & 0x80000000:
                    walk(target & 0x7FFFFFFF, path + [key])
                else:
                    rva, size = struct.unpack_from("<II", self.data, base + target)
                    start = self.offset(rva)
                    found.append((*path, key, self.data[start:start + size]))

        walk(0, [])
        return found


def read_block(data, at):
    """One version block: (key, value bytes, value type, children, end)."""
    length, value_length, value_type = struct.unpack_from("<HHH", data, at)
    end = at + length
    key_end = at + 6
    while data[key_end:key_end + 2] != b"\0\0":
        key_end += 2
    key = data[at + 6:key_end].decode("utf-16-le")
    value_at = (key_end + 2 + 3) & ~3
    value_bytes = value_length * 2 if value_type == 1 else value_length
    value = data[value_at:value_at + value_bytes]
    children = []
    child = (value_at + value_bytes + 3) & ~3
    while child < end:
        block = read_block(data, child)
        children.append(block)
        child = (block[4] + 3) & ~3
    return key, value, value_type, children, end


def check(dll, build):
    expected = EXPECTED[build]
    errors = []
    with open(dll, "rb") as f:
        image = PeImage(f.read())
    resources = image.resources()
    kinds = [(r[0], r[1], r[2]) for r in resources]
    if kinds != [(RT_VERSION, 1, LANG_ZH_CN)]:
        errors.append(f"resources (type, name, language): {kinds}, "
                      f"expected only [({RT_VERSION}, 1, {LANG_ZH_CN:#06x})]")
    version = next((r[3] for r in resources if r[0] == RT_VERSION), None)
    if version is None:
        return errors + ["no version block"]

    key, fixed, _, children, _ = read_block(version, 0)
    if key != "VS_VERSION_INFO":
        errors.append(f"root key {key!r}")
    (signature, _, file_ms, file_ls, product_ms, product_ls, _, flags, os_, file_type,
     subtype, _, _) = struct.unpack_from("<13I", fixed)
    split = lambda ms, ls: (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)
    fields = {
        "signature": (signature, FIXED_SIGNATURE),
        "FileVersion (numeric)": (split(file_ms, file_ls), expected["version"]),
        "ProductVersion (numeric)": (split(product_ms, product_ls), expected["version"]),
        "file flags": (flags, 0),
        "file OS": (os_, VOS_NT_WINDOWS32),
        "file type": (file_type, expected.get("type", VFT_DLL)),
        "file subtype": (subtype, 0),
    }

    strings, string_tables, translations = {}, [], []
    for child_key, _, _, grandchildren, _ in children:
        for table_key, value, _, entries, _ in grandchildren:
            if child_key == "StringFileInfo":
                string_tables.append(table_key)
                for name, text, text_type, _, _ in entries:
                    if text_type != 1 or not text.endswith(b"\0\0"):
                        errors.append(f"{name}: not a NUL-terminated text value")
                    strings[name] = text.decode("utf-16-le").rstrip("\0")
                    print(f"  {name}: {strings[name]!r}  (UTF-16LE {text.hex(' ')})")
            elif child_key == "VarFileInfo" and table_key == "Translation":
                translations += [struct.unpack_from("<HH", value, i) for i in range(0, len(value), 4)]
    fields["StringFileInfo blocks"] = (string_tables, ["080404B0"])
    fields["Translation"] = (translations, [(LANG_ZH_CN, CODEPAGE_UTF16)])
    fields["strings"] = (strings, expected["strings"])

    for name, (got, want) in fields.items():
        print(f"  {name}: {got:#x}" if isinstance(got, int) else f"  {name}: {got}")
        if got != want:
            errors.append(f"{name}: {got}, expected {want}")
    return errors


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--dll", required=True)
    parser.add_argument("--build", required=True, choices=sorted(EXPECTED))
    args = parser.parse_args()
    sys.stdout.reconfigure(encoding="utf-8")
    try:
        errors = check(args.dll, args.build)
    except FileNotFoundError:
        errors = [f"{args.dll} is missing: build the Windows presets first "
                  "(scripts/build_windows.sh)"]
    except (BadFile, struct.error) as e:
        errors = [f"{args.dll}: {e}"]
    for e in errors:
        print(f"FAIL {e}")
    if not errors:
        print(f"ok: {args.dll}: the {args.build} build's version block")
    return 1 if errors else 0


if __name__ == "__main__":
    sys.exit(main())
