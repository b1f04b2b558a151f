#!/usr/bin/env bash
# Builds the fuzz targets with clang (libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer) in build-fuzz/ and runs each for a bounded time.
#   tools/fuzz.sh [seconds] [target...]
# seconds: per target, default 60. targets: url, http_read, data_buffer,
# challenge
# (default all). Each run starts from a copy of tests/fuzz/corpus/<target>/ in
# build-fuzz/corpus/<target>/, which keeps what it finds across runs; the
# repository's seeds are never written. Any crash, leak, time-out (10 s per
# input) or memory overrun fails the script; the input that caused it is left
# in build-fuzz/findings/<target>/.
# Set NILO_WERROR=ON to turn warnings into errors (CI does).
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh --fuzz

seconds="${1:-60}"
shift || true
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=(url http_read data_buffer challenge)

dir=build-fuzz
cmake -S . -B "$dir" -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DNILO_FUZZ=ON \
  -DNILO_WERROR="${NILO_WERROR:-OFF}"
cmake --build "$dir" --target fuzzers

failed=()
for t in "${targets[@]}"; do
  seeds="tests/fuzz/corpus/$t"
  [ -d "$seeds" ] || { echo "fuzz.sh: no target $t" >&2; exit 2; }
  corpus="$dir/corpus/$t"
  findings="$dir/findings/$t"
  mkdir -p "$corpus" "$findings"
  cp "$seeds"/* "$corpus"/
  # The HTTP reader's limits lie at 8192 bytes: its inputs must reach past
  # them. The other targets keep libFuzzer's default length.
  length=()
  [ "$t" = http_read ] && length=(-max_len=20000)
  echo "== fuzzing $t for $seconds s"
  # -close_fd_mask=1: the library's "redircounter:" lines would flood the log.
  if ! "$dir/tests/fuzz/fuzz_$t" "$corpus" \
      -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 "${length[@]}" \
      -close_fd_mask=1 -print_final_stats=1 -artifact_prefix="$findings/" \
      2>"$dir/fuzz_$t.log"; then
    failed+=("$t")
    tail -n 60 "$dir/fuzz_$t.log" >&2
  fi
  grep -E '^stat::(number_of_executed_units|average_exec_per_sec|peak_rss_mb)' "$dir/fuzz_$t.log" || true
done

if [ ${#failed[@]} -ne 0 ]; then
  echo "fuzz.sh: findings in ${failed[*]} (inputs in $dir/findings/)" >&2
  exit 1
fi
echo "fuzz.sh: no findings"
