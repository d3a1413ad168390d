#!/usr/bin/env bash
# The Debian packages as dpkg installs them. cpack makes them from the build
# under test; dpkg installs them under a fresh root directory (--root) whose
# database holds only the system packages they depend on, so that dpkg's own
# checks run for real and the machine's system is not touched: each
# package's dependencies (libtarvex-dev alone is refused), no file claimed by
# two packages, the maintainer scripts and triggers (run without chroot, with
# an ldconfig that only notes its call). Then a C host builds against the
# installed libtarvex-dev with pkg-config and runs on libtarvex2 without a run
# path, the Python module of libtarvex-dev runs on either build, the C# host
# of docs/HOSTS.md runs on libtarvex2 alone, the packaged tool runs, and
# purging the three leaves no file behind.
#   debian_packages_test.sh <build dir> <directory of host.c> <source dir>
set -euo pipefail
build=$1
host_dir=$2
source=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
root=$work/root
failures=0
fail() { echo "FAIL $*"; failures=$((failures + 1)); }

"${CPACK:-cpack}" -G DEB --config "$build/CPackConfig.cmake" -B "$work/debs" >"$work/cpack.log" 2>&1 ||
  { cat "$work/cpack.log"; exit 1; }
names=$(cd "$work/debs" && ls -- *.deb | sed 's/_.*//' | sort | tr '\n' ' ')
[[ "$names" == "libtarvex-dev libtarvex2 tarvex " ]] || fail "packages made: $names"

# The root's database: the system's own entries of every package ours depend
# on, except ours, and libc-bin, whose interest in the ldconfig trigger runs
# ldconfig from its postinst once a package activates it.
mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates" "$root/var/lib/dpkg/triggers" \
  "$work/bin"
depends=$(for deb in "$work"/debs/*.deb; do dpkg-deb -f "$deb" Depends; done |
  tr ',|' '\n\n' | sed -E 's/^ *([^ (]+).*/\1/' | grep -v '^libtarvex' | sort -u || true)
# shellcheck disable=SC2086
dpkg-query -s $depends libc-bin >"$root/var/lib/dpkg/status"
cp /var/lib/dpkg/info/libc-bin.postinst "$root/var/lib/dpkg/info/"
echo libc-bin >"$root/var/lib/dpkg/triggers/ldconfig"
printf '#!/bin/sh\necho "ldconfig $*" >>"%s"\n' "$work/ldconfig.log" >"$work/bin/ldconfig"
chmod +x "$work/bin/ldconfig"
in_root() {
  PATH="$work/bin:$PATH" dpkg --root="$root" --force-not-root --force-script-chrootless "$@"
}

if in_root -i "$work"/debs/libtarvex-dev_*.deb >"$work/dev_alone.log" 2>&1 ||
   ! grep -q 'libtarvex-dev depends on libtarvex2' "$work/dev_alone.log"; then
  fail "libtarvex-dev was configured without libtarvex2:"; cat "$work/dev_alone.log"
fi
in_root -i "$work"/debs/*.deb >"$work/install.log" 2>&1 || { cat "$work/install.log"; exit 1; }
for package in libtarvex2 libtarvex-dev tarvex; do
  in_root -s "$package" | grep -q '^Status: install ok installed' || fail "$package not installed"
done
[[ -s "$work/ldconfig.log" ]] || fail "installing libtarvex2 did not run ldconfig"
info=$root/var/lib/dpkg/info
grep -qx 'activate-noawait ldconfig' "$info/libtarvex2.triggers" && [[ ! -e "$info/libtarvex2.postinst" ]] ||
  fail "libtarvex2 runs ldconfig other than by the trigger"
grep -qx "libtarvex 2 libtarvex2 (>= $(dpkg-deb -f "$work"/debs/libtarvex2_*.deb Version))" \
  "$info/libtarvex2.shlibs" || fail "shlibs: $(cat "$info/libtarvex2.shlibs")"

# Where Debian wants each file, the licence and changelog in every package.
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
libdir=$root/usr/lib/$multiarch
for file in "$libdir"/libtarvex.so.2 "$libdir"/tarvex-legacy/libtarvex.so.1 \
    "$libdir"/pkgconfig/tarvex.pc "$root"/usr/share/man/man1/tarvex.1.gz \
    "$root"/usr/share/doc/{libtarvex2,libtarvex-dev,tarvex}/{copyright,changelog.gz}; do
  [[ -s "$file" ]] || fail "no ${file#"$root"}"
done
grep -q 'Permission is hereby granted' "$root/usr/share/doc/libtarvex2/copyright" ||
  fail "the copyright file lacks the licence"

# A host against the packages, found through the root's pkg-config file.
pc_dir=$(dirname "$(find "$root/usr" -name tarvex.pc)")
# shellcheck disable=SC2046
cc -Wall -Werror -o "$work/host" "$host_dir/host.c" \
  $(PKG_CONFIG_PATH=$pc_dir pkg-config --cflags --libs tarvex)
# Its library lies where the loader looks once the root is /: here the
# loader is told.
output=$(LD_LIBRARY_PATH=$libdir "$work/host" 2>&1) || true
[[ "$output" == $'keylock 0 572A36\ngetdata 2' ]] || fail "host printed: $output"
readelf -d "$work/host" | grep -q 'R[UN]*PATH' && fail "the packaged tarvex.pc gave the host a run path"

# The Python module of libtarvex-dev, on the library the loader finds and on
# the legacy build named by TARVEX_LIBRARY.
python_host='import tarvex
print(tarvex.keylock(b"\x12\x34\x56").hex().upper(), end=" ")
try: tarvex.getdata(b"\x05\xa1", 1, "/nonexistent/tarvex-port")
except tarvex.Error as e: print(e.code, e.os_error)'
for library in "" "$libdir/tarvex-legacy/libtarvex.so.1"; do
  output=$(PYTHONPATH=$root/usr/lib/python3/dist-packages LD_LIBRARY_PATH=$libdir \
           TARVEX_LIBRARY=$library python3 -c "$python_host" 2>&1) || true
  [[ "$output" == "572A36 2 2" ]] || fail "the Python module (${library:-by the loader}): $output"
done

# The C# host of docs/HOSTS.md, built with libtarvex-dev's tarvex.cs, runs on
# the runtime package alone: without libtarvex-dev there is no libtarvex.so.
if command -v mcs >/dev/null && command -v mono >/dev/null; then
  awk '/^```csharp file=Host.cs/ {take = 1; next} /^```/ {take = 0} take' \
    "$source/docs/HOSTS.md" >"$work/Host.cs"
  mcs -out:"$work/Host.exe" "$work/Host.cs" "$root/usr/share/tarvex/tarvex.cs" >"$work/mcs.log" 2>&1 ||
    fail "C# host: $(cat "$work/mcs.log")"
  cp "$root/usr/share/tarvex/tarvex.dllmap.config" "$work/Host.exe.config"
  in_root -r libtarvex-dev >"$work/remove.log" 2>&1 || { cat "$work/remove.log"; exit 1; }
  [[ ! -e "$libdir/libtarvex.so" ]] || fail "libtarvex.so is left without libtarvex-dev"
  output=$(LD_LIBRARY_PATH=$libdir mono "$work/Host.exe" /nonexistent/tarvex-port 2>&1) || true
  [[ "$output" == "getdata: 2 (system error 2)" ]] || fail "C# host on libtarvex2 alone: $output"
else
  echo "skipped: the C# host (no mcs and mono; scripts/setup.sh installs them)"
fi
"$root/usr/bin/tarvex" --json online 12 >"$work/tool.log" 2>&1 || fail "packaged tool: $(cat "$work/tool.log")"

in_root -P tarvex libtarvex-dev libtarvex2 >"$work/purge.log" 2>&1 || { cat "$work/purge.log"; exit 1; }
left=$(find "$root" -path "$root/var" -prune -o ! -type d -print)
[[ -z "$left" ]] || fail "left after purging: $left"

((failures == 0)) && echo "ok: three packages installed, used and purged with dpkg"
exit $((failures > 0))
