# Sourced by scripts that need the camera server on a free loopback port.
#   start_camera_server SERVER LOG [OPTIONS...]
# Starts SERVER --port 0 OPTIONS... in the background with its output in LOG,
# waits up to 10 s for its "listening on PORT" line and sets camera_pid and
# camera_port. Returns 1 (with camera_port empty) when it does not start; the
# caller still stops camera_pid.
start_camera_server() {
  local server=$1 log=$2
  shift 2
  "$server" --port 0 "$@" >"$log" 2>&1 &
  camera_pid=$!
  camera_port=""
  for _ in $(seq 100); do
    camera_port=$(sed -n 's/^listening on //p' "$log")
    [ -n "$camera_port" ] && return 0
    kill -0 "$camera_pid" 2>/dev/null || break
    sleep 0.1
  done
  echo "the camera server did not start:" >&2
  cat "$log" >&2
  return 1
}
