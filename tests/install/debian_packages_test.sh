#!/usr/bin/env bash
# The Debian packages as dpkg installs them. cpack makes them from the build
# under test; dpkg installs them under a fresh root directory (--root) whose
# database holds only the system packages they depend on, so that dpkg's own
# checks run for real and the machine's system is not touched: each
# package's dependencies (libtarvex-dev alone is refused), no file claimed by
# two packages, the maintainer scripts (run without chroot, with an ldconfig
# that only notes its call). Then a C host builds against the installed
# libtarvex-dev with pkg-config and runs on libtarvex2, the packaged tool
# runs, and purging the three leaves no file behind.
#   debian_packages_test.sh <build dir> <directory of host.c>
set -euo pipefail
build=$1
host_dir=$2
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
# on, except ours.
mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates" "$work/bin"
depends=$(for deb in "$work"/debs/*.deb; do dpkg-deb -f "$deb" Depends; done |
  tr ',|' '\n\n' | sed -E 's/^ *([^ (]+).*/\1/' | grep -v '^libtarvex' | sort -u || true)
# shellcheck disable=SC2086
{ [[ -z "$depends" ]] || dpkg-query -s $depends; } >"$root/var/lib/dpkg/status"
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

# A host against the packages, found through the root's pkg-config file.
pc_dir=$(dirname "$(find "$root/usr" -name tarvex.pc)")
# shellcheck disable=SC2046
cc -Wall -Werror -o "$work/host" "$host_dir/host.c" \
  $(PKG_CONFIG_PATH=$pc_dir pkg-config --cflags --libs tarvex)
output=$("$work/host" 2>&1) || true
[[ "$output" == $'keylock 0 572A36\ngetdata 2' ]] || fail "host printed: $output"
"$root/usr/bin/tarvex" --json online 12 >"$work/tool.log" 2>&1 || fail "packaged tool: $(cat "$work/tool.log")"

in_root -P tarvex libtarvex-dev libtarvex2 >"$work/purge.log" 2>&1 || { cat "$work/purge.log"; exit 1; }
left=$(find "$root" -path "$root/var" -prune -o ! -type d -print)
[[ -z "$left" ]] || fail "left after purging: $left"

((failures == 0)) && echo "ok: three packages installed, used and purged with dpkg"
exit $((failures > 0))
