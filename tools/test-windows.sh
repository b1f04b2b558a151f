#!/usr/bin/env bash
# Builds nilo for 32-bit Windows (nilo_X86.dll, niloexample.exe and the tests)
# with mingw-w64 in build-windows/, runs every test under 32-bit Wine, then
# the main job: niloexample.exe against the camera server.
#
# Where the kernel cannot run 32-bit programs, tools/install-deps.sh --windows
# registers qemu-i386 to run them, and 32-bit Wine runs emulated; the tests'
# time limits are then multiplied by NILO_TEST_TIME_SCALE (tests/CMakeLists.txt).
#
# Where 32-bit Wine does not start at all (a bounded probe), the x86 build is
# still made and its exports checked, and the tests run from an x86-64 build
# of the same sources in build-windows64/ under 64-bit Wine instead. Set
# NILO_WINDOWS_X86=required to fail there instead (CI does).
# Set NILO_WERROR=ON to turn warnings into errors (CI does).
set -euo pipefail
cd "$(dirname "$0")/.."
. tools/camera-server.sh

timings=()
phase_start=$SECONDS
phase_done() {  # what was done
  timings+=("$1 $((SECONDS - phase_start)) s")
  phase_start=$SECONDS
}

tools/install-deps.sh --windows
phase_done "packages"

# How many times slower the tests run under qemu-i386 than natively under
# Wine: measured about 2-3 times on 2 loaded cores; 4 leaves room.
emulated_scale=4

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

# Makes a fresh prefix in the folder and starts Wine's server and services
# there; fails when Wine cannot run a program within the time. Every step is
# bounded: an emulator that cannot run Wine may start it and never finish.
start_wine() {  # folder, wine architecture (win32 or win64), wine loader
  local dir=$1
  export WINEPREFIX="$PWD/$dir/wine" WINEARCH=$2 WINEDEBUG=-all
  # No .NET or HTML engine: nothing here uses them, and Wine would offer to
  # download them.
  export WINEDLLOVERRIDES='mscoree,mshtml='
  rm -rf "$WINEPREFIX"
  mkdir -p "$WINEPREFIX"
  timeout 60 "$3" --version >/dev/null 2>&1 || return 1
  wineserver -p </dev/null >/dev/null 2>&1
  started_wineserver=yes
  timeout 300 "$3" wineboot -i </dev/null >"$dir/wineboot.log" 2>&1 || return 1
  timeout 120 "$3" cmd /c exit </dev/null >/dev/null 2>&1
}

run_tests() {  # folder, wine loader, time scale
  local dir=$1
  ctest --test-dir "$dir" --output-on-failure --timeout $((120 * $3))
  phase_done "tests"
  run_example "$dir" "$2" "$3"
  phase_done "main job"
}

# The main job under Wine: niloexample.exe reads the bundled camera server
# (a Linux program, reached over loopback) and must save the pictures exactly
# as served, part 9 empty, and every picture byte in its sink file.
run_example() {  # folder, wine loader, time scale
  local dir=$1 loader=$2 limit=$((120 * $3))
  local work="$PWD/$dir/example-run" program="$PWD/$dir/bin/niloexample.exe"
  cmake -S . -B build -G Ninja >/dev/null
  cmake --build build --target camera_server >/dev/null
  rm -rf "$work"
  mkdir -p "$work/run" "$work/served"
  build/tools/camera_server --dump "$work/served" --frames 10 >/dev/null
  local status=0
  if start_camera_server build/tools/camera_server "$work/camera.log" --exit-after "$limit"; then
    (cd "$work/run" && NILOEXAMPLE_URL="http://127.0.0.1:$camera_port/camera.mjpg" \
       timeout "$limit" "$loader" "$program" </dev/null >niloexample.log 2>&1) || status=1
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

# 32-bit programs run through qemu-i386 whenever binfmt_misc holds it enabled
# (it is tried before the kernel's own loader).
scale=1
how="natively"
if [ "$(head -n 1 /proc/sys/fs/binfmt_misc/qemu-i386 2>/dev/null)" = enabled ]; then
  scale=$emulated_scale
  how="through qemu-i386"
fi
configure build-windows mingw-i686.cmake -DNILO_TEST_TIME_SCALE=$scale
cmake --build build-windows -j2
phase_done "x86 build"

if start_wine build-windows win32 /usr/lib/wine/wine; then
  phase_done "32-bit Wine prefix"
  echo "test-windows: the x86 tests run under 32-bit Wine, $how (time limits x$scale)"
  run_tests build-windows /usr/lib/wine/wine "$scale"
else
  stop_wine
  started_wineserver=""
  if [ "${NILO_WINDOWS_X86:-}" = required ]; then
    echo "test-windows: 32-bit Wine does not start here ($how); see build-windows/wineboot.log" >&2
    exit 1
  fi
  echo "test-windows: 32-bit Wine does not start here; the tests run from an x86-64 build" >&2
  # The x86 test programs are still built, so that they keep compiling; they
  # cannot run here.
  cmake -DOBJDUMP=i686-w64-mingw32-objdump -DLIBRARY=build-windows/bin/nilo_X86.dll \
        -P tests/api/CheckExports.cmake
  tools/install-deps.sh --windows64
  configure build-windows64 mingw-x86_64.cmake
  cmake --build build-windows64 -j2
  phase_done "x86-64 build"
  start_wine build-windows64 win64 /usr/lib/wine/wine64
  phase_done "64-bit Wine prefix"
  run_tests build-windows64 /usr/lib/wine/wine64 1
fi
echo "test-windows: times: $(IFS=,; echo "${timings[*]}" | sed 's/,/, /g')"
