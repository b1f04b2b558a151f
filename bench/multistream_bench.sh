#!/usr/bin/env bash
# Multi-stream benchmark: N camera streams at 25 pictures per second from
# tools/camera_server at the same time, N = 1, 16 and 64, each read by a
# thread of its own through GetData in 1023-byte pieces (bench/nilo_multistream),
# then the same N streams read by N curl processes as the reference.
# Builds nothing: build first (cmake --build BUILD_DIR --target camera_server nilo_multistream),
# or run it all with: cmake --build build --target run_multistream_bench
#
#   bench/multistream_bench.sh [BUILD_DIR (default build)] [SECONDS per stream (default 15)] [N...]
set -euo pipefail

build="${1:-build}"
seconds="${2:-15}"
shift $(( $# > 2 ? 2 : $# ))
counts=("$@")
[ ${#counts[@]} -gt 0 ] || counts=(1 16 64)
server="$build/tools/camera_server"
reader="$build/bench/nilo_multistream"
fps=25
pictures=$(( seconds * fps ))

for program in "$server" "$reader"; do
  if [ ! -x "$program" ]; then
    echo "missing $program: build it first (cmake --build $build --target camera_server nilo_multistream)" >&2
    exit 1
  fi
done
command -v curl >/dev/null || { echo "curl is needed as the reference (apt-get install curl)" >&2; exit 1; }

work="$(mktemp -d)"
server_pid=""
cleanup() {
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

# Every part header carries its send time; every stream ends after its
# pictures, so each reader knows when it is done.
. "$(dirname "$0")/../tools/camera-server.sh"
start_camera_server "$server" "$work/server.out" --exit-after 3600 --stamp --fps "$fps" --frames "$pictures" \
  || { server_pid=$camera_pid; exit 1; }
server_pid=$camera_pid
url="http://127.0.0.1:$camera_port/camera.mjpg"

echo "Multi-stream: $pictures pictures per stream ($seconds s at $fps/s) from $url"
echo "  nilo: one thread per stream, GetData with 1023 bytes; CPU of the reading threads, memory growth per stream"
echo "  curl: one process per stream; CPU of the curl processes, resident (private) memory per process"
status=0
for n in "${counts[@]}"; do
  for mode in nilo curl; do
    "$reader" "$mode" "$url" "$n" "$pictures" || status=1
  done
done
server_cpu=$(awk '{printf "%.1f", ($14 + $15) / '"$(getconf CLK_TCK)"'}' "/proc/$server_pid/stat")
echo "camera_server CPU over all runs: $server_cpu s"
exit $status
