#!/usr/bin/env bash
# Builds nilo and runs every test.
#   tools/test.sh             normal build in build/
#   tools/test.sh --sanitize  AddressSanitizer + UndefinedBehaviorSanitizer build in build-sanitize/
#   tools/test.sh --tsan      ThreadSanitizer build in build-tsan/ (every test; the one
#                             that calls the library from many threads is nilo_thread_tests)
# Set NILO_WERROR=ON to turn warnings into errors (CI does).
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh

dir=build
flags=()
case "${1:-}" in
  --sanitize)
    dir=build-sanitize
    flags+=(-DNILO_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug) ;;
  --tsan)
    dir=build-tsan
    flags+=(-DNILO_TSAN=ON)
    # Any report makes the test program exit with code 66, so its test
    # fails; a lock-order report shows both stacks.
    export TSAN_OPTIONS="${TSAN_OPTIONS:-} second_deadlock_stack=1" ;;
  "") ;;
  *) echo "usage: tools/test.sh [--sanitize | --tsan]" >&2; exit 2 ;;
esac
cmake -S . -B "$dir" -G Ninja -DNILO_WERROR="${NILO_WERROR:-OFF}" "${flags[@]}"
cmake --build "$dir"
ctest --test-dir "$dir" --output-on-failure --timeout 120
