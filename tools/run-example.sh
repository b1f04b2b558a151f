#!/usr/bin/env bash
# The main job: builds the bundled camera server and niloexample, starts the
# camera on 127.0.0.1:8088, runs niloexample in out/example/ and stops the
# camera again (also when something fails), then says where the pictures and
# the sink file are. Options are passed on to the camera server, to show the
# example reading one of its stream forms or a protected camera:
#   tools/run-example.sh
#   tools/run-example.sh --chunked --no-part-length
#   tools/run-example.sh --user demo-user --password demo-password --auth digest
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
host=127.0.0.1
port=8088
build=build
output=out/example

tools/install-deps.sh

echo "== building camera_server and niloexample in $build/"
cmake -S . -B "$build" -G Ninja >/dev/null
cmake --build "$build" --target camera_server niloexample

# The camera must be ours: a server already on the port would be read instead.
if (exec 3<>"/dev/tcp/$host/$port") 2>/dev/null; then
  echo "run-example: something already listens on $host:$port; stop it and run again" >&2
  exit 1
fi

mkdir -p "$output"
rm -f "$output"/tarko_example_jpgpart*.jpg "$output/nilo_example.txt" "$output/camera_server.log" \
      "$output/niloexample.log"

server_pid=""
stop_server() {
  if [ -n "$server_pid" ]; then
    kill "$server_pid" 2>/dev/null || true
    wait "$server_pid" 2>/dev/null || true
    server_pid=""
  fi
}
trap stop_server EXIT
trap 'exit 130' INT TERM

echo "== starting the camera server on $host:$port"
# --exit-after: should this script be killed outright, the camera still goes.
"$build/tools/camera_server" --host "$host" --port "$port" --exit-after 300 "$@" >"$output/camera_server.log" 2>&1 &
server_pid=$!
for _ in $(seq 100); do
  grep -q "^listening on $port\$" "$output/camera_server.log" 2>/dev/null && break
  if ! kill -0 "$server_pid" 2>/dev/null; then
    wait "$server_pid" 2>/dev/null || true
    server_pid=""
    echo "run-example: the camera server did not start (is port $port taken?):" >&2
    cat "$output/camera_server.log" >&2
    exit 1
  fi
  sleep 0.1
done
if ! grep -q "^listening on $port\$" "$output/camera_server.log"; then
  echo "run-example: the camera server did not start listening within 10 seconds" >&2
  exit 1
fi

echo "== running niloexample in $output/"
status=0
(cd "$output" && timeout 60 "$root/$build/example/niloexample") >"$output/niloexample.log" 2>&1 || status=$?
cat "$output/niloexample.log"
stop_server

if [ "$status" -ne 0 ]; then
  echo "run-example: niloexample failed (exit code $status); its output is in $output/niloexample.log" >&2
  exit "$status"
fi

missing=0
echo
echo "== done"
echo "pictures (part 9 is opened last and stays empty by design):"
for k in 0 1 2 3 4 5 6 7 8 9; do
  file="$output/tarko_example_jpgpart$k.jpg"
  if [ -e "$file" ]; then
    echo "  $root/$file ($(stat -c %s "$file") bytes)"
  else
    echo "  $root/$file is MISSING"
    missing=1
  fi
done
sink="$output/nilo_example.txt"
echo "sink file (the pictures' bytes back to back):"
if [ -e "$sink" ]; then
  echo "  $root/$sink ($(stat -c %s "$sink") bytes)"
else
  echo "  $root/$sink is MISSING"
  missing=1
fi
echo "console output of niloexample: $root/$output/niloexample.log"
exit "$missing"
