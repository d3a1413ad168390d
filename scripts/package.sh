#!/usr/bin/env bash
# Packages the deliverables into build/packages/:
#   tarvex-2.5.0.10-win32.zip         the current build, i686 (the shipped DLL)
#   tarvex-legacy-1.5.0.17-win32.zip  the legacy build, i686
#   tarvex-2.5.0.10-win64.zip         the current build, x86_64
#   tarvex-legacy-1.5.0.17-win64.zip  the legacy build, x86_64
#   libtarvex2_2.5.0.10_<arch>.deb     both builds' Linux shared objects
#   libtarvex-dev_2.5.0.10_<arch>.deb  the header, pkg-config and CMake files,
#                                      the declarations for C#, VB and Python
#   tarvex_2.5.0.10_<arch>.deb         the tool and its man page
# Each zip holds tarvex.dll, its tarvex.def, tarvex.lib (the import library;
# for 32-bit hosts it maps _getdata@20 to the DLL's getdata), tarvex.h, the
# declarations (tarvex.cs, tarvex.bas, tarvex.py), LICENSE and README.txt;
# the current build's zips also hold the tool, tarvex.exe.
#
# It builds only what the packages hold, each step announced with the time
# it took: the Windows presets (scripts/build_windows.sh) and the tool preset
# (build/tool: the shared objects, the tool and its man page, no tests).
# From nothing, without the compiler cache, that took 13 minutes on 2 shared
# cores (the Windows presets 8.5, the tool preset 4.5, packing and checking
# half a minute); with everything built, under half a minute. With --built it
# builds nothing and packages build/linux and the Windows presets as they
# are (scripts/test.sh, which has built them).
#
# Then it checks what it made: each zip's files, CPU and exports, no
# debugging sections in its programs; lintian on the Debian packages, which
# must report no error. What lintian still says, and why it stays:
#   copyright-without-copyright-notice (warning, each package): the copyright
#     file carries LICENSE as it is, whose notice names the holders without
#     a year; a year is the project's to add to LICENSE, not the package's.
#   no-symbols-control-file (info, libtarvex2): the shlibs file, whose
#     dependency is >= this version, serves hosts; a symbols file would be
#     kept by hand for 32 names that never change.
#   hardening-no-bindnow, hardening-no-fortify-functions (info): the build's
#     own flags (RelWithDebInfo), not Debian's hardening set.
#   binary-has-unneeded-section .comment (info): the compiler's version note.
set -euo pipefail
cd "$(dirname "$0")/.."

started=$SECONDS
step() { echo "== $* (at ${SECONDS}s)"; }

linux_build=build/tool
if [[ "${1:-}" == "--built" ]]; then
  linux_build=build/linux
else
  step "build: the Windows DLLs and tarvex.exe (win32, win64)"
  scripts/build_windows.sh
  step "build: the Linux shared objects, the tool and its man page (build/tool)"
  cmake --preset tool >/dev/null
  cmake --build build/tool -j2
fi

step "packages: the Windows zips and the Debian packages"
out=build/packages
mkdir -p "$out"
rm -f "$out"/tarvex-*-win32.zip "$out"/tarvex-*-win64.zip "$out"/*.deb
for preset in win32 win64; do
  cpack --config "build/$preset/CPackConfig.cmake" -B "$out" >/dev/null
done
cpack -G DEB --config "$linux_build/CPackConfig.cmake" -B "$out" >/dev/null
rm -rf "$out/_CPack_Packages"

step "check: each zip's files, CPU, exports and sections"
# Each zip holds the files a host needs, the DLL's own .def, a DLL for the
# zip's CPU, and (the current build's) the tool for the same CPU; none of
# its programs carries debugging sections.
for zip in "$out"/tarvex-*-win32.zip "$out"/tarvex-*-win64.zip; do
  python3 - "$zip" <<'PY'
import struct, sys, zipfile
def sections(image):
    pe = struct.unpack_from("<I", image, 0x3C)[0]
    count, symbols, symbol_count, optional = struct.unpack_from("<2xH4xII H", image, pe + 4)
    strings = symbols + 18 * symbol_count
    names = []
    for i in range(count):
        name = image[pe + 24 + optional + 40 * i:][:8].rstrip(b"\0")
        if name.startswith(b"/"):  # a long name, in the symbol table's strings
            at = strings + int(name[1:])
            name = image[at:image.index(b"\0", at)]
        names.append(name.decode())
    return names
with zipfile.ZipFile(sys.argv[1]) as z:
    names = sorted(z.namelist())
    exports = [l.split()[0] for l in z.read("tarvex.def").decode().splitlines()
               if "@" in l and not l.lstrip().startswith(";")]
    legacy = "legacy" in sys.argv[1]
    programs = ["tarvex.dll"] + ([] if legacy else ["tarvex.exe"])
    images = {p: z.read(p) for p in programs if p in names}
machines = {struct.unpack_from("<H", i, struct.unpack_from("<I", i, 0x3C)[0] + 4)[0]
            for i in images.values()}
debugging = {p: [s for s in sections(i) if s.startswith(".debug")] for p, i in images.items()}
want = sorted(["LICENSE", "README.txt", "tarvex.bas", "tarvex.cs", "tarvex.def", "tarvex.h",
               "tarvex.lib", "tarvex.py"] + programs)
cpu = {"win32": 0x14C, "win64": 0x8664}[sys.argv[1][-9:-4]]
if names != want or (len(exports) == 10) != legacy or machines != {cpu} or any(debugging.values()):
    sys.exit(f"package: {sys.argv[1]} holds {names} with {len(exports)} exports, "
             f"machines {sorted(hex(m) for m in machines)}, debugging sections {debugging}")
print(f"{sys.argv[1]}: {', '.join(names)} ({len(exports)} entry points)")
PY
done

step "check: lintian on the Debian packages"
for deb in "$out"/*.deb; do
  echo "$deb: $(dpkg-deb -f "$deb" Package Depends | tr '\n' ' ')"
done
if ! command -v lintian >/dev/null; then
  echo "package: lintian is missing; run scripts/setup.sh" >&2
  exit 1
fi
lintian --fail-on error --display-info "$out"/*.deb
step "done in $((SECONDS - started))s: $out"
