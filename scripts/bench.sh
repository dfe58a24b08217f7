#!/usr/bin/env bash
# Builds a Release tree and runs the benchmarks (Google Benchmark), then times the
# same FIR and convolution work with sox, ffmpeg and BruteFIR where installed and
# prints our figures beside theirs. Extra arguments go to the benchmark program,
# e.g. scripts/bench.sh --benchmark_filter=FIR
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
# BruteFIR is only a yardstick; carry on without it when it cannot be installed.
if ! command -v brutefir >/dev/null 2>&1; then
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq brutefir >/dev/null 2>&1 || true
fi

cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release -DMARLIX_TESTS=OFF -DMARLIX_BENCH=ON >/dev/null
cmake --build build-release -j "$(nproc)"

out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
# Five repetitions in shuffled order, medians reported: the machine's speed drifts, and
# the ratios compare benchmarks that would otherwise run minutes apart.
build-release/bench/marlix_bench --benchmark_out="$out/bench.json" --benchmark_out_format=json \
  --benchmark_repetitions=5 --benchmark_enable_random_interleaving=true \
  --benchmark_report_aggregates_only=true "$@"
python3 bench/compare.py "$out/bench.json" "$out"
python3 bench/render_bench.py "$PWD/build-release/bin/marlixaudio-cli" "$out"
python3 bench/startup_bench.py "$PWD/build-release/bin"
