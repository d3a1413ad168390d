#!/usr/bin/env bash
# Packages the Windows deliverables: one zip per build of the i686 DLL,
# written to build/packages/:
#   tarvex-2.5.0.10-win32.zip         the current build
#   tarvex-legacy-1.5.0.17-win32.zip  the legacy build
# Each holds tarvex.dll, its tarvex.def, tarvex.lib (the import library for
# 32-bit hosts, mapping _getdata@20 to the DLL's getdata) and tarvex.h.
# Builds the Windows presets first (scripts/build_windows.sh), unless
# --built says they are built already (scripts/test.sh builds them once). The
# Linux build is installed rather than zipped: cmake --install build/linux
# --prefix P.
set -euo pipefail
cd "$(dirname "$0")/.."

if [[ "${1:-}" != "--built" ]]; then
  scripts/build_windows.sh >/dev/null
fi

out=build/packages
mkdir -p "$out"
rm -f "$out"/tarvex-*-win32.zip
cpack --config build/win32/CPackConfig.cmake -B "$out" >/dev/null
rm -rf "$out/_CPack_Packages"

# Each zip holds the four files a host needs, and the DLL's own .def.
for zip in "$out"/tarvex-*-win32.zip; do
  python3 - "$zip" <<'PY'
import sys, zipfile
with zipfile.ZipFile(sys.argv[1]) as z:
    names = sorted(z.namelist())
    exports = [l.split()[0] for l in z.read("tarvex.def").decode().splitlines()
               if "@" in l and not l.lstrip().startswith(";")]
want = ["tarvex.def", "tarvex.dll", "tarvex.h", "tarvex.lib"]
legacy = "legacy" in sys.argv[1]
if names != want or (len(exports) == 10) != legacy:
    sys.exit(f"package: {sys.argv[1]} holds {names} with {len(exports)} exports")
print(f"{sys.argv[1]}: {', '.join(names)} ({len(exports)} entry points)")
PY
done
