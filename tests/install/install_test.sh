#!/usr/bin/env bash
# Installs the Linux build into a fresh prefix and builds a small C host
# against it twice, once found with pkg-config and once with find_package,
# for each of the two builds; every host must run and give the same answers.
#   install_test.sh <build dir> <directory of host.c and its CMakeLists.txt>
set -euo pipefail
build=$1
host_dir=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix
cmake=${CMAKE:-cmake}

"$cmake" --install "$build" --prefix "$prefix" >/dev/null
expected=$'keylock 0 572A36\ngetdata 2'
failures=0

check() {  # check <what> <program> <soname it must load>
  local output needed
  needed=$(readelf -d "$2" | sed -n 's/.*(NEEDED).*\[\(libtarvex[^]]*\)\].*/\1/p')
  if [[ "$needed" != "$3" ]]; then
    echo "FAIL $1: links against '$needed', expected $3"
    failures=$((failures + 1))
    return
  fi
  if ! output=$("$2" 2>&1) || [[ "$output" != "$expected" ]]; then
    echo "FAIL $1: printed:"
    echo "$output"
    failures=$((failures + 1))
    return
  fi
  echo "ok: $1"
}

# pkg-config: each .pc file gives the host its library directory as its run
# path, so neither host needs the loader told where to look.
export PKG_CONFIG_PATH=$prefix/lib/pkgconfig
# shellcheck disable=SC2046
cc -Wall -Werror -o "$work/host_pc" "$host_dir/host.c" $(pkg-config --cflags --libs tarvex)
# shellcheck disable=SC2046
cc -Wall -Werror -o "$work/host_pc_legacy" "$host_dir/host.c" $(pkg-config --cflags --libs tarvex-legacy)
check "pkg-config tarvex" "$work/host_pc" libtarvex.so.2
check "pkg-config tarvex-legacy" "$work/host_pc_legacy" libtarvex.so.1

# find_package: the imported targets give the hosts their run paths.
"$cmake" -S "$host_dir" -B "$work/host_build" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
"$cmake" --build "$work/host_build" >/dev/null
check "find_package tarvex::tarvex" "$work/host_build/host" libtarvex.so.2
check "find_package tarvex::legacy" "$work/host_build/host_legacy" libtarvex.so.1

# The legacy component on its own is a complete install.
"$cmake" --install "$build" --prefix "$work/legacy_only" --component legacy >/dev/null
# shellcheck disable=SC2046
cc -Wall -Werror -o "$work/host_legacy_only" "$host_dir/host.c" \
  $(PKG_CONFIG_PATH=$work/legacy_only/lib/pkgconfig pkg-config --cflags --libs tarvex-legacy)
check "legacy component alone, pkg-config" "$work/host_legacy_only" libtarvex.so.1
"$cmake" -S "$host_dir" -B "$work/legacy_only_build" -DCMAKE_PREFIX_PATH="$work/legacy_only" >/dev/null
"$cmake" --build "$work/legacy_only_build" >/dev/null
check "legacy component alone, find_package" "$work/legacy_only_build/host_legacy" libtarvex.so.1
if [[ -e "$work/legacy_only_build/host" ]]; then
  echo "FAIL legacy component alone: tarvex::tarvex was found"
  failures=$((failures + 1))
fi

exit $((failures > 0))
