#!/usr/bin/env bash
# Builds nilo for 32-bit Windows (nilo_X86.dll, niloexample.exe and the tests)
# with mingw-w64 in build-windows/ and runs every test under Wine.
#
# Where the machine cannot run 32-bit programs (so neither 32-bit Wine), the
# x86 build is still made and its exports checked, and the tests run from an
# x86-64 build of the same sources in build-windows64/ under 64-bit Wine.
# Set NILO_WERROR=ON to turn warnings into errors (CI does).
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh --windows

configure() {  # folder, toolchain file, extra cmake arguments...
  local dir=$1 toolchain=$2
  shift 2
  cmake -S . -B "$dir" -G Ninja -DCMAKE_TOOLCHAIN_FILE="cmake/$toolchain" -DCMAKE_BUILD_TYPE=Release \
        -DNILO_BUILD_BENCH=OFF -DNILO_WERROR="${NILO_WERROR:-OFF}" "$@"
}

# Wine's background services are started once, before the tests, with a
# fresh prefix inside the build folder; otherwise every test waits on them.
started_wineserver=""
stop_wine() {
  if [ -n "$started_wineserver" ]; then
    wineserver -k >/dev/null 2>&1 || true
  fi
}
trap stop_wine EXIT

run_tests() {  # folder, wine architecture (win32 or win64), wine loader
  local dir=$1
  export WINEPREFIX="$PWD/$dir/wine" WINEARCH=$2 WINEDEBUG=-all
  rm -rf "$WINEPREFIX"
  mkdir -p "$WINEPREFIX"
  wineserver -p </dev/null >/dev/null 2>&1
  started_wineserver=yes
  "$3" cmd /c exit </dev/null >/dev/null 2>&1
  ctest --test-dir "$dir" --output-on-failure --timeout 120
}

# (bounded: a machine that emulates 32-bit programs may start one and never finish)
if timeout 60 /usr/lib/wine/wine --version >/dev/null 2>&1; then
  configure build-windows mingw-i686.cmake
  cmake --build build-windows -j2
  run_tests build-windows win32 wine
else
  echo "test-windows: this machine cannot run 32-bit programs; the tests run from an x86-64 build" >&2
  configure build-windows mingw-i686.cmake -DNILO_BUILD_TESTS=OFF
  cmake --build build-windows -j2
  cmake -DOBJDUMP=i686-w64-mingw32-objdump -DLIBRARY=build-windows/bin/nilo_X86.dll \
        -P tests/api/CheckExports.cmake
  tools/install-deps.sh --windows64
  configure build-windows64 mingw-x86_64.cmake
  cmake --build build-windows64 -j2
  run_tests build-windows64 win64 /usr/lib/wine/wine64
fi
