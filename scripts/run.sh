#!/usr/bin/env bash
# Installs what is missing, builds a Release program folder and starts the player.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release -DMARLIX_TESTS=OFF -DMARLIX_BENCH=OFF >/dev/null
cmake --build build-release -j "$(nproc)"

bin=build-release/bin
if [ -x "$bin/marlixaudio" ]; then
  exec "$bin/marlixaudio" "$@"
elif [ -x "$bin/marlixaudio-cli" ]; then
  exec "$bin/marlixaudio-cli" play "$@"
else
  echo "The player is not built yet; once it is, this runs: $bin/marlixaudio-cli play $*"
fi
