#!/usr/bin/env bash
# Packages the deliverables into build/packages/:
#   tarvex-2.5.0.10-win32.zip         the current build, i686 (the shipped DLL)
#   tarvex-legacy-1.5.0.17-win32.zip  the legacy build, i686
#   tarvex-2.5.0.10-win64.zip         the current build, x86_64
#   tarvex-legacy-1.5.0.17-win64.zip  the legacy build, x86_64
#   libtarvex2_2.5.0.10_<arch>.deb     both builds' Linux shared objects
#   libtarvex-dev_2.5.0.10_<arch>.deb  the header, pkg-config and CMake files
#   tarvex_2.5.0.10_<arch>.deb         the tool
# Each zip holds tarvex.dll, its tarvex.def, tarvex.lib (the import library;
# for 32-bit hosts it maps _getdata@20 to the DLL's getdata) and tarvex.h;
# the current build's zips also hold the tool, tarvex.exe.
# Builds the Windows presets (scripts/build_windows.sh) and the linux preset
# first, unless --built says they are built already (scripts/test.sh builds
# them once).
set -euo pipefail
cd "$(dirname "$0")/.."

if [[ "${1:-}" != "--built" ]]; then
  scripts/build_windows.sh >/dev/null
  cmake --preset linux >/dev/null
  cmake --build build/linux -j2 >/dev/null
fi

out=build/packages
mkdir -p "$out"
rm -f "$out"/tarvex-*-win32.zip "$out"/tarvex-*-win64.zip "$out"/*.deb
for preset in win32 win64; do
  cpack --config "build/$preset/CPackConfig.cmake" -B "$out" >/dev/null
done
cpack -G DEB --config build/linux/CPackConfig.cmake -B "$out" >/dev/null
rm -rf "$out/_CPack_Packages"

# Each zip holds the four files a host needs, the DLL's own .def, a DLL for
# the zip's CPU, and (the current build's) the tool for the same CPU.
for zip in "$out"/tarvex-*-win32.zip "$out"/tarvex-*-win64.zip; do
  python3 - "$zip" <<'PY'
import struct, sys, zipfile
with zipfile.ZipFile(sys.argv[1]) as z:
    names = sorted(z.namelist())
    exports = [l.split()[0] for l in z.read("tarvex.def").decode().splitlines()
               if "@" in l and not l.lstrip().startswith(";")]
    def machine(name):
        image = z.read(name)
        return struct.unpack_from("<H", image, struct.unpack_from("<I", image, 0x3C)[0] + 4)[0]
    legacy = "legacy" in sys.argv[1]
    programs = ["tarvex.dll"] + ([] if legacy else ["tarvex.exe"])
    machines = {machine(p) for p in programs if p in names}
want = sorted(["tarvex.def", "tarvex.h", "tarvex.lib"] + programs)
cpu = {"win32": 0x14C, "win64": 0x8664}[sys.argv[1][-9:-4]]
if names != want or (len(exports) == 10) != legacy or machines != {cpu}:
    sys.exit(f"package: {sys.argv[1]} holds {names} with {len(exports)} exports, "
             f"machines {sorted(hex(m) for m in machines)}")
print(f"{sys.argv[1]}: {', '.join(names)} ({len(exports)} entry points)")
PY
done
for deb in "$out"/*.deb; do
  echo "$deb: $(dpkg-deb -f "$deb" Package Depends | tr '\n' ' ')"
done
