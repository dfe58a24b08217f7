#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: the unit tests once more under
# AddressSanitizer + UndefinedBehaviorSanitizer, then the whole suite (every label).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
jobs=$(nproc)
# Paths relative to the checkout, so a fresh clone reuses the compiler cache.
export CCACHE_BASEDIR="$PWD" CCACHE_NOHASHDIR=1

echo "== sanitizer build (unit tests)"
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DMARLIX_SANITIZE=ON -DMARLIX_BENCH=OFF -DMARLIX_WERROR=ON >/dev/null
cmake --build build-asan -j "$jobs"
asan_status=0
(cd build-asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
   ctest -L unit -j "$jobs" --output-on-failure --timeout 600) || asan_status=$?

echo "== release build (all tests)"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMARLIX_WERROR=ON >/dev/null
cmake --build build -j "$jobs"
main_status=0
(cd build && ctest -j "$jobs" --output-on-failure --timeout 900) || main_status=$?

if [ "$asan_status" -ne 0 ]; then
  echo "sanitizer run failed (status $asan_status)" >&2
  exit "$asan_status"
fi
exit "$main_status"
