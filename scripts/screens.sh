#!/usr/bin/env bash
# Saves pictures of the program's windows into DIR, drawn offscreen.
# Builds a Release program folder if needed and runs it with a fresh program folder:
# DIR/toolkit.png is the drawing toolkit's gallery, DIR/layout-1.png ... layout-6.png the
# main window with every player window placed by that layout.
set -euo pipefail
if [ $# -ne 1 ]; then
  echo "usage: scripts/screens.sh DIR" >&2
  exit 2
fi
root="$(cd "$(dirname "$0")/.." && pwd)"
mkdir -p "$1"
out="$(cd "$1" && pwd)"
cd "$root"

scripts/install-deps.sh
cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release -DMARLIX_TESTS=OFF -DMARLIX_BENCH=OFF >/dev/null
cmake --build build-release -j "$(nproc)" --target marlixaudio

home="$(mktemp -d)"
trap 'rm -rf "$home"' EXIT
status=0
MARLIX_AUDIO_HOME="$home" XDG_RUNTIME_DIR="$home" QT_QPA_PLATFORM=offscreen \
  timeout 120 build-release/bin/marlixaudio --screens "$out" || status=$?
if [ "$status" -ne 0 ]; then
  echo "screens: marlixaudio failed (exit $status)" >&2
  exit "$status"
fi
for picture in toolkit layout-1 layout-2 layout-3 layout-4 layout-5 layout-6; do
  if [ ! -s "$out/$picture.png" ]; then
    echo "screens: $out/$picture.png was not written" >&2
    exit 1
  fi
done
echo "screens: $out/toolkit.png, $out/layout-1.png ... layout-6.png"
