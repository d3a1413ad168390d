#!/usr/bin/env bash
# Installs what building and testing tarvex needs, when it is missing
# (Debian; run as root or with sudo available). Safe to run again.
set -euo pipefail

packages=(cmake ninja-build g++ pkg-config libgtest-dev libgmock-dev libbenchmark-dev
          libcli11-dev mingw-w64 g++-mingw-w64-i686 g++-mingw-w64-x86-64 wine64
          clang libclang-rt-14-dev valgrind zip python3
          python3-unicorn python3-pefile                      # i686 tier: the DLLs' own code
          gcc-multilib g++-multilib googletest qemu-user-static)  # i386 preset: unit tier, 32-bit
# The network tier's serial server (RFC 2217) and the network namespace its
# silent-link case silences (ip, tc); the tool tier's strict reader of the
# tool's JSON.
packages+=(ser2net iproute2 nlohmann-json3-dev)
# The install tier: the C# host of docs/HOSTS.md (mcs brings the mono runtime),
# the Debian packages (dpkg-shlibdeps), their check (lintian) and the tool's
# man page, made from its --help (help2man).
packages+=(mono-mcs dpkg-dev lintian help2man)
if [[ "${1:-}" == "--minimal" ]]; then
  packages=(cmake ninja-build g++ libcli11-dev)
fi

missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

echo "setup: installing ${missing[*]}" >&2
as_root=()
[[ $(id -u) -eq 0 ]] || as_root=(sudo)
"${as_root[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
