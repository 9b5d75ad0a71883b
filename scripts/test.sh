#!/usr/bin/env bash
# Builds QVXBinTool and every test with warnings as errors and runs the tests; then builds the
# same again with AddressSanitizer and UndefinedBehaviorSanitizer and runs the tests once more.
# Installs the Debian packages it needs when they are missing.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
"$root/scripts/install-deps.sh"

jobs=$(nproc 2>/dev/null || echo 2)

run_suite() {
  local dir=$1
  shift
  cmake -S "$root" -B "$dir" -G Ninja -DQVX_WERROR=ON -DQVX_BENCH=OFF "$@" >/dev/null
  cmake --build "$dir" -j "$jobs"
  ctest --test-dir "$dir" --output-on-failure -j "$jobs"
}

echo "== Release build and tests"
run_suite "$root/build/release" -DCMAKE_BUILD_TYPE=Release
echo "== AddressSanitizer + UndefinedBehaviorSanitizer build and tests"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  run_suite "$root/build/asan" -DCMAKE_BUILD_TYPE=Debug -DQVX_SANITIZE=ON
echo "All tests passed."
