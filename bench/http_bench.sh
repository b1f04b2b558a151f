#!/usr/bin/env bash
# HTTP benchmark: whole-process times of reading one loopback HTTP body with
# the nilo library (nilo_http_read), against two references in the same run:
# http_floor (only the work the receive path must do per read) and curl.
#   (a) a 256 MiB Content-Length body   (GET /blob)
#   (b) 1000 multipart parts of 100 KiB (GET /parts), without pauses
#   (c) the same parts in chunked transfer coding (a second server, --chunked)
# Builds nothing: build first (cmake --build BUILD_DIR --target camera_server
# http_floor nilo_http_read). Each program runs RUNS times; the best time counts.
#
#   bench/http_bench.sh [BUILD_DIR (default build)] [RUNS (default 3)]
set -euo pipefail

build="${1:-build}"
runs="${2:-3}"
server="$build/tools/camera_server"
floor="$build/bench/http_floor"
nilo="$build/bench/nilo_http_read"
blob_size=$((256 * 1024 * 1024))
parts=1000
part_size=$((100 * 1024))

for program in "$server" "$floor"; do
  if [ ! -x "$program" ]; then
    echo "missing $program: build it first (cmake --build $build --target camera_server http_floor nilo_http_read)" >&2
    exit 1
  fi
done
have_curl=1
if ! command -v curl >/dev/null; then
  have_curl=0
  echo "curl is not installed (apt-get install curl): its column is left out" >&2
fi

work="$(mktemp -d)"
server_pid=""
chunked_pid=""
cleanup() {
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null
  [ -n "$chunked_pid" ] && kill "$chunked_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

# The server on a free loopback port; it ends itself after 10 minutes at most.
. "$(dirname "$0")/../tools/camera-server.sh"
start_camera_server "$server" "$work/server.out" --exit-after 600 --blob-size "$blob_size" \
  --parts "$parts" --part-size "$part_size" || { server_pid=$camera_pid; exit 1; }
server_pid=$camera_pid
port=$camera_port
start_camera_server "$server" "$work/chunked.out" --exit-after 600 --parts "$parts" --part-size "$part_size" \
  --chunked || { chunked_pid=$camera_pid; exit 1; }
chunked_pid=$camera_pid
chunked_port=$camera_port

# measure NAME EXPECTED_BYTES COMMAND...: runs the command RUNS times and
# sets best_elapsed and best_cpu (seconds, whole process), or returns 1 when a
# run fails or, with EXPECTED_BYTES not empty, reports another byte count.
measure() {
  local name="$1" expected="$2"
  shift 2
  best_elapsed=""
  best_cpu=""
  local i status times bytes
  for ((i = 0; i < runs; i++)); do
    status=0
    TIMEFORMAT='%R %U %S'
    { time "$@" >"$work/out" 2>"$work/err"; } 2>"$work/time" || status=$?
    if [ "$status" -ne 0 ]; then
      echo "$name: exit code $status: $(head -c 300 "$work/err")" >&2
      return 1
    fi
    if [ -n "$expected" ]; then
      bytes="$(sed -n 's/^bytes=\([0-9]*\).*/\1/p' "$work/out")"
      if [ "$bytes" != "$expected" ]; then
        echo "$name: read ${bytes:-no} bytes, expected $expected" >&2
        return 1
      fi
    fi
    read -r times <"$work/time"
    best_elapsed="$(awk -v t="$times" -v b="$best_elapsed" 'BEGIN { split(t, f, " "); print (b == "" || f[1] < b) ? f[1] : b }')"
    best_cpu="$(awk -v t="$times" -v b="$best_cpu" 'BEGIN { split(t, f, " "); c = f[2] + f[3]; print (b == "" || c < b) ? c : b }')"
  done
}

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (a == "" || b == "" || b == 0) print "n/a"; else printf "%.2f", a / b }'; }

# run_case TITLE URL NILO_BYTES PARTS: sets nilo_t and nilo_c for the caller
run_case() {
  local title="$1" url="$2" nilo_bytes="$3" part_count="$4"
  local floor_t="" floor_c="" curl_t="" curl_c=""
  nilo_t="" nilo_c=""
  echo "== $title: $url"
  if measure floor "" "$floor" "$url"; then
    floor_t="$best_elapsed" floor_c="$best_cpu"
    printf '  floor: %8.3f s elapsed %8.3f s cpu\n' "$floor_t" "$floor_c"
  else
    echo "  floor: failed"
  fi
  if [ "$have_curl" -eq 1 ]; then
    if measure curl "" curl -s -o /dev/null "$url"; then
      curl_t="$best_elapsed" curl_c="$best_cpu"
      printf '  curl:  %8.3f s elapsed %8.3f s cpu\n' "$curl_t" "$curl_c"
    else
      echo "  curl: failed"
    fi
  fi
  if [ -x "$nilo" ] && measure nilo "$nilo_bytes" "$nilo" "$url"; then
    nilo_t="$best_elapsed" nilo_c="$best_cpu"
    printf '  nilo:  %8.3f s elapsed %8.3f s cpu\n' "$nilo_t" "$nilo_c"
  else
    echo "  nilo: failed"
  fi
  echo "  time ratio nilo/floor: $(ratio "$nilo_t" "$floor_t")   nilo/curl: $(ratio "$nilo_t" "$curl_t")   (curl/floor: $(ratio "$curl_t" "$floor_t"))"
  if [ -n "$part_count" ]; then
    local per_part
    per_part() { awk -v c="$1" -v n="$part_count" 'BEGIN { if (c == "") print "n/a"; else printf "%.1f us", c / n * 1e6 }'; }
    echo "  cpu per part: nilo $(per_part "$nilo_c")   floor $(per_part "$floor_c")   curl $(per_part "$curl_c")"
  fi
}

echo "HTTP benchmark on loopback, best of $runs runs per program"
run_case "256 MiB Content-Length body" "http://127.0.0.1:$port/blob" "$blob_size" ""
# nilo delivers each part's 4-byte length ahead of its bytes.
run_case "$parts multipart parts of $part_size bytes" "http://127.0.0.1:$port/parts" "$((parts * (part_size + 4)))" \
  "$parts"
plain_t="$nilo_t" plain_c="$nilo_c"
run_case "$parts multipart parts of $part_size bytes, chunked" "http://127.0.0.1:$chunked_port/parts" \
  "$((parts * (part_size + 4)))" "$parts"
awk -v pt="$plain_t" -v pc="$plain_c" -v ct="$nilo_t" -v cc="$nilo_c" -v n="$parts" 'BEGIN {
  if (pt == "" || ct == "" || pt == 0 || ct == 0 || pc == 0) { print "  chunked against plain: n/a"; exit }
  printf "  nilo, chunked against plain: %.0f against %.0f parts/s (%.2f), cpu per part %.1f against %.1f us (%.2f)\n",
         n / ct, n / pt, pt / ct, cc / n * 1e6, pc / n * 1e6, cc / pc
}'
