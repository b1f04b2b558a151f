#!/usr/bin/env bash
# Installs the Debian packages that building and testing nilo need, and only
# those that are missing.
#   tools/install-deps.sh              the Linux build (tools/test.sh)
#   tools/install-deps.sh --fuzz       also clang with libFuzzer (tools/fuzz.sh)
#   tools/install-deps.sh --windows    also the x86 Windows cross build and
#                                      32-bit Wine (adds the i386 architecture)
#   tools/install-deps.sh --windows64  also the x86-64 Windows cross build and
#                                      64-bit Wine
set -euo pipefail

packages=(
  cmake ninja-build g++ make
  libgtest-dev libgmock-dev libbenchmark-dev
  nginx apache2 ffmpeg libjpeg-turbo-progs
  nettle-dev
)
foreign_arch=""
case "${1:-}" in
  --fuzz)
    # clang, its sanitizer and libFuzzer runtimes, and llvm-symbolizer for
    # readable stack traces in a finding.
    packages+=(clang libclang-rt-dev llvm)
    ;;
  --windows)
    packages+=(g++-mingw-w64-i686-posix googletest wine wine32:i386)
    foreign_arch=i386
    ;;
  --windows64)
    packages+=(g++-mingw-w64-x86-64-posix googletest wine wine64)
    ;;
  "") ;;
  *)
    echo "usage: $0 [--fuzz | --windows | --windows64]" >&2
    exit 2
    ;;
esac

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
# Keep package scripts from starting services (nginx, for one) on the machine:
# the tests start their own servers.
policy=/usr/sbin/policy-rc.d
made_policy=0
if [ ! -e "$policy" ]; then
  printf '#!/bin/sh\nexit 101\n' | $sudo tee "$policy" >/dev/null
  $sudo chmod +x "$policy"
  made_policy=1
fi
trap '[ $made_policy -eq 1 ] && $sudo rm -f "$policy"' EXIT
if [ -n "$foreign_arch" ] && ! dpkg --print-foreign-architectures | grep -qx "$foreign_arch"; then
  $sudo dpkg --add-architecture "$foreign_arch"
fi
$sudo apt-get update -q
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
