#!/usr/bin/env bash
# Installs the Debian packages that building and testing nilo need, and only
# those that are missing.
#   tools/install-deps.sh         what tools/test.sh needs
#   tools/install-deps.sh --fuzz  that and clang with libFuzzer (tools/fuzz.sh)
set -euo pipefail

packages=(
  cmake ninja-build g++ make
  libgtest-dev libgmock-dev libbenchmark-dev
  nginx libjpeg-turbo-progs
)
if [ "${1:-}" = "--fuzz" ]; then
  # clang, its sanitizer and libFuzzer runtimes, and llvm-symbolizer for
  # readable stack traces in a finding.
  packages+=(clang libclang-rt-dev llvm)
fi

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
$sudo apt-get update -q
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
