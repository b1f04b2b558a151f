#!/usr/bin/env bash
# Installs the Debian packages that building and testing nilo need, and only
# those that are missing.
#   tools/install-deps.sh              the Linux build (tools/test.sh)
#   tools/install-deps.sh --fuzz       also clang with libFuzzer (tools/fuzz.sh)
#   tools/install-deps.sh --windows    also the x86 Windows cross build and
#                                      32-bit Wine (adds the i386 architecture);
#                                      where the kernel cannot run 32-bit
#                                      programs, also qemu-i386 to run them
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
windows32=0
case "${1:-}" in
  --fuzz)
    # clang, its sanitizer and libFuzzer runtimes, and llvm-symbolizer for
    # readable stack traces in a finding.
    packages+=(clang libclang-rt-dev llvm)
    ;;
  --windows)
    packages+=(g++-mingw-w64-i686-posix googletest wine wine32:i386)
    foreign_arch=i386
    windows32=1
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

sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"

# Another apt-get or dpkg on the machine holds the lock for a while: wait for
# it rather than fail.
apt_get() {
  $sudo env DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600 "$@"
}

missing_packages() {  # package... -> those not installed, one a line
  local p
  for p in "$@"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
      echo "$p"
    fi
  done
}

# Keep package scripts from starting services (nginx, for one) on the machine:
# the tests start their own servers.
policy=/usr/sbin/policy-rc.d
made_policy=0
remove_policy() {
  if [ $made_policy -eq 1 ]; then
    $sudo rm -f "$policy"
    made_policy=0
  fi
}
trap remove_policy EXIT

install_packages() {  # [apt-get install options...] -- package...
  local options=()
  while [ "$1" != "--" ]; do
    options+=("$1")
    shift
  done
  shift
  echo "installing: $*"
  if [ ! -e "$policy" ]; then
    printf '#!/bin/sh\nexit 101\n' | $sudo tee "$policy" >/dev/null
    $sudo chmod +x "$policy"
    made_policy=1
  fi
  apt_get update -q
  apt_get install -y -q --no-install-recommends "${options[@]}" "$@"
  remove_policy
}

mapfile -t missing < <(missing_packages "${packages[@]}")
if [ ${#missing[@]} -gt 0 ]; then
  if [ -n "$foreign_arch" ] && ! dpkg --print-foreign-architectures | grep -qx "$foreign_arch"; then
    $sudo dpkg --add-architecture "$foreign_arch"
  fi
  install_packages -- "${missing[@]}"
fi
[ $windows32 -eq 1 ] || exit 0

# 32-bit Wine needs a machine that runs 32-bit x86 programs. Where the kernel
# refuses them (an x86-64 kernel without IA-32 emulation), qemu-i386 runs
# them, registered in binfmt_misc for 32-bit x86 executables. Bookworm's
# qemu-user (7.2) cannot run 32-bit Wine (its start-up never finishes); 10.0
# from bookworm-backports can.
binfmt=/proc/sys/fs/binfmt_misc
qemu_entry=$binfmt/qemu-i386
qemu_minimum=1:10

# The i386 dynamic loader (from libc6:i386, which wine32 brings) is a 32-bit
# program of its own.
runs_32bit() {
  timeout 60 /lib/ld-linux.so.2 --version >/dev/null 2>&1
}

runs_32bit && exit 0

# Where this cannot be set up, the caller finds out: tools/test-windows.sh
# probes whether 32-bit Wine starts.
cannot() {
  echo "install-deps: 32-bit programs cannot run here: $*" >&2
  exit 0
}

if [ -e "$qemu_entry" ]; then
  # Someone else's registration under that name: not ours to change.
  cannot "$qemu_entry is registered but does not run them"
fi

qemu_version=$(dpkg-query -W -f='${Version}' qemu-user 2>/dev/null || true)
if [ -z "$qemu_version" ] || ! dpkg --compare-versions "$qemu_version" ge "$qemu_minimum"; then
  . /etc/os-release
  backports="${VERSION_CODENAME}-backports"
  # Any uncommented line naming the suite, in one-line or deb822 sources.
  if ! grep -qsE "^[^#]*[[:space:]]${backports}([[:space:]]|\$)" \
       /etc/apt/sources.list /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources; then
    echo "install-deps: adding $backports to apt's sources"
    printf 'Types: deb\nURIs: http://deb.debian.org/debian\nSuites: %s\nComponents: main\nSigned-By: /usr/share/keyrings/debian-archive-keyring.gpg\n' \
      "$backports" | $sudo tee "/etc/apt/sources.list.d/$backports.sources" >/dev/null
  fi
  install_packages -t "$backports" -- qemu-user
fi

if [ ! -e "$binfmt/register" ]; then
  $sudo mount -t binfmt_misc binfmt_misc "$binfmt" || cannot "binfmt_misc cannot be mounted"
fi
# Matches 32-bit little-endian x86 executables and shared objects (ELF class
# 1, machine 3). F opens qemu-i386 now, so the entry keeps working in other
# mount namespaces; O and C hand qemu the program as an open file and take
# the process's credentials from the program, not from qemu.
echo "install-deps: registering qemu-i386 in binfmt_misc for 32-bit x86 programs"
printf '%s' ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386:FOC' \
  | $sudo tee "$binfmt/register" >/dev/null || cannot "qemu-i386 cannot be registered in binfmt_misc"
runs_32bit || cannot "they do not run through qemu-i386 either"
