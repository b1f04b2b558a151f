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
. tools/camera-server.sh
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
  run_example "$dir" "$3"
}

# The main job under Wine: niloexample.exe reads the bundled camera server
# (a Linux program, reached over loopback) and must save the pictures exactly
# as served, part 9 empty, and every picture byte in its sink file.
run_example() {  # folder, wine loader
  local dir=$1 loader=$2
  local work="$PWD/$dir/example-run" program="$PWD/$dir/bin/niloexample.exe"
  cmake -S . -B build -G Ninja >/dev/null
  cmake --build build --target camera_server >/dev/null
  rm -rf "$work"
  mkdir -p "$work/run" "$work/served"
  build/tools/camera_server --dump "$work/served" --frames 10 >/dev/null
  local status=0
  if start_camera_server build/tools/camera_server "$work/camera.log" --exit-after 120; then
    (cd "$work/run" && NILOEXAMPLE_URL="http://127.0.0.1:$camera_port/camera.mjpg" \
       timeout 120 "$loader" "$program" </dev/null >niloexample.log 2>&1) || status=1
  else
    status=1
  fi
  kill "$camera_pid" 2>/dev/null || true
  wait "$camera_pid" 2>/dev/null || true
  : >"$work/expected-sink"
  for k in 0 1 2 3 4 5 6 7 8; do
    cmp -s "$work/served/frame$k.jpg" "$work/run/tarko_example_jpgpart$k.jpg" || status=1
    cat "$work/served/frame$k.jpg" >>"$work/expected-sink"
  done
  [ -f "$work/run/tarko_example_jpgpart9.jpg" ] && [ ! -s "$work/run/tarko_example_jpgpart9.jpg" ] || status=1
  cmp -s "$work/expected-sink" "$work/run/nilo_example.txt" || status=1
  if [ $status -ne 0 ]; then
    echo "test-windows: niloexample.exe under Wine did not save the camera's pictures as served:" >&2
    cat "$work/run/niloexample.log" >&2 || true
    return 1
  fi
  echo "test-windows: niloexample.exe under Wine saved the nine pictures as served ($work/run)"
}

# (bounded: a machine that emulates 32-bit programs may start one and never finish)
if timeout 60 /usr/lib/wine/wine --version >/dev/null 2>&1; then
  configure build-windows mingw-i686.cmake
  cmake --build build-windows -j2
  run_tests build-windows win32 wine
else
  echo "test-windows: this machine cannot run 32-bit programs; the tests run from an x86-64 build" >&2
  # The x86 test programs are still built, so that they keep compiling; they
  # cannot run here.
  configure build-windows mingw-i686.cmake
  cmake --build build-windows -j2
  cmake -DOBJDUMP=i686-w64-mingw32-objdump -DLIBRARY=build-windows/bin/nilo_X86.dll \
        -P tests/api/CheckExports.cmake
  tools/install-deps.sh --windows64
  configure build-windows64 mingw-x86_64.cmake
  cmake --build build-windows64 -j2
  run_tests build-windows64 win64 /usr/lib/wine/wine64
fi
