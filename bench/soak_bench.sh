#!/usr/bin/env bash
# Soak benchmark: one long multipart stream from tools/camera_server, served
# without pauses, read by nilo_soak through GetData in 1023-byte pieces (the
# example's size). Prints the peak resident memory of the reader at 10%, 50%
# and 100% of the stream (flat means nothing grows with the stream) and the
# parts per second.
# Builds nothing: build first (cmake --build BUILD_DIR --target camera_server nilo_soak),
# or run it all with: cmake --build build --target run_soak_bench
#
#   bench/soak_bench.sh [BUILD_DIR (default build)] [PARTS (default 200000)] [SOURCE]
#
# SOURCE "parts" (default): GET /parts, parts of 2400 bytes (about one
# camera picture), sent in large batches, so the reader sets the pace.
# SOURCE "camera": the camera stream itself at --fps 0; the server makes each
# picture as it goes, which bounds the rate at roughly a thousand a second.
set -euo pipefail

build="${1:-build}"
parts="${2:-200000}"
source="${3:-parts}"
server="$build/tools/camera_server"
soak="$build/bench/nilo_soak"

for program in "$server" "$soak"; do
  if [ ! -x "$program" ]; then
    echo "missing $program: build it first (cmake --build $build --target camera_server nilo_soak)" >&2
    exit 1
  fi
done
case "$source" in
  parts) path=/parts ;;
  camera) path=/camera.mjpg ;;
  *) echo "SOURCE must be parts or camera, not $source" >&2; exit 2 ;;
esac

work="$(mktemp -d)"
server_pid=""
cleanup() {
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

# The server on a free loopback port; it ends itself after an hour at most.
. "$(dirname "$0")/../tools/camera-server.sh"
start_camera_server "$server" "$work/server.out" --exit-after 3600 --fps 0 --frames "$parts" \
  --parts "$parts" --part-size 2400 || { server_pid=$camera_pid; exit 1; }
server_pid=$camera_pid
port=$camera_port

echo "Soak: $parts parts from http://127.0.0.1:$port$path, GetData with 1023 bytes of room"
"$soak" "http://127.0.0.1:$port$path" "$parts"
