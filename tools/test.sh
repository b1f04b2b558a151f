#!/usr/bin/env bash
# Builds nilo and runs every test.
#   tools/test.sh             normal build in build/
#   tools/test.sh --sanitize  AddressSanitizer + UndefinedBehaviorSanitizer build in build-sanitize/
# Set NILO_WERROR=ON to turn warnings into errors (CI does).
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh

dir=build
flags=()
if [ "${1:-}" = "--sanitize" ]; then
  dir=build-sanitize
  flags+=(-DNILO_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug)
fi
cmake -S . -B "$dir" -G Ninja -DNILO_WERROR="${NILO_WERROR:-OFF}" "${flags[@]}"
cmake --build "$dir"
ctest --test-dir "$dir" --output-on-failure --timeout 120
