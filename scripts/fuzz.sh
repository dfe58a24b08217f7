#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for SECONDS (default 30),
# starting from its seed corpus. Usage: scripts/fuzz.sh [SECONDS] [TARGET...]
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
seconds=${1:-30}
shift || true
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DMARLIX_FUZZ=ON -DMARLIX_SANITIZE=ON -DMARLIX_TESTS=OFF -DMARLIX_BENCH=OFF >/dev/null
cmake --build build-fuzz -j "$(nproc)"

targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for f in fuzz/fuzz_*.cpp; do targets+=("$(basename "$f" .cpp)"); done
fi
for t in "${targets[@]}"; do
  echo "== $t ($seconds s)"
  work=$(mktemp -d)
  cp -r "fuzz/corpus/$t/." "$work/"
  MARLIX_AUDIO_LIBDIR="$PWD/build-fuzz/bin" build-fuzz/fuzz/"$t" -max_total_time="$seconds" -max_len=65536 "$work"
  rm -rf "$work"
done
