#!/usr/bin/env bash
# Saves pictures of the program's windows into DIR, drawn offscreen on a screen of
# WIDTHxHEIGHT pixels (default 1280x720) without a window manager; the main window is
# maximised on it, as a user first sees it.
# Builds a Release program folder if needed and runs it with a fresh program folder.
# Pictures: the drawing toolkit's gallery (DIR/toolkit.png), each player window alone
# (DIR/Fo_Conductor.png, DIR/Fo_Playlist.png, DIR/Fo_Information.png,
# DIR/Fo_Properties.png, DIR/Fo_About.png, DIR/Fo_Browser.png and its paged pop-up
# DIR/Fo_Browser2.png), the online library's windows (DIR/Fo_Search.png,
# DIR/Fo_Download.png, DIR/Fo_Tonkara.png, DIR/Fo_GetNew.png), the main window with every
# player window placed by each of the six layouts (DIR/layout-1.png ... DIR/layout-6.png), the
# main window loading a dropped folder (DIR/Fo_Main_loading.png), the
# DSP window's six pages (DIR/TFo_Equalizer-flow.png ... DIR/TFo_Equalizer-master.png), the
# spectrum analyser with a running signal (DIR/Fo_Spectrum.png), every page of the setup
# dialog (DIR/Fo_Setup-Operation.png ... DIR/Fo_Setup-Measure.png) and each page of the
# measurement wizard (DIR/Fo_Measure-1.png ... DIR/Fo_Measure-4.png).
set -euo pipefail
size="${2:-1280x720}"
if [ $# -lt 1 ] || [ $# -gt 2 ] || ! [[ "$size" =~ ^([0-9]+)x([0-9]+)$ ]]; then
  echo "usage: scripts/screens.sh DIR [WIDTHxHEIGHT]" >&2
  exit 2
fi
width="${BASH_REMATCH[1]}"
height="${BASH_REMATCH[2]}"
root="$(cd "$(dirname "$0")/.." && pwd)"
mkdir -p "$1"
out="$(cd "$1" && pwd)"
cd "$root"

scripts/install-deps.sh
cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release -DMARLIX_TESTS=OFF -DMARLIX_BENCH=OFF >/dev/null
cmake --build build-release -j "$(nproc)" --target marlixaudio

home="$(mktemp -d)"
trap 'rm -rf "$home"' EXIT
cat > "$home/screen.json" <<EOF
{"screens": [{"name": "screen", "x": 0, "y": 0, "width": $width, "height": $height,
              "logicalDpi": 96, "logicalBaseDpi": 96, "dpr": 1}]}
EOF
status=0
MARLIX_AUDIO_HOME="$home" XDG_RUNTIME_DIR="$home" QT_QPA_PLATFORM="offscreen:configfile=$home/screen.json" \
  timeout 120 build-release/bin/marlixaudio --screens "$out" || status=$?
if [ "$status" -ne 0 ]; then
  echo "screens: marlixaudio failed (exit $status)" >&2
  exit "$status"
fi
for name in toolkit Fo_Conductor Fo_Playlist Fo_Information Fo_Properties Fo_About Fo_Browser Fo_Browser2 \
            Fo_Search Fo_Download Fo_Tonkara Fo_GetNew \
            layout-1 layout-2 layout-3 layout-4 layout-5 layout-6 Fo_Main_loading \
            TFo_Equalizer-flow TFo_Equalizer-effect TFo_Equalizer-convolver TFo_Equalizer-matrix \
            TFo_Equalizer-equalizer TFo_Equalizer-master Fo_Spectrum \
            Fo_Setup-Operation Fo_Setup-View Fo_Setup-Function Fo_Setup-Output Fo_Setup-MME \
            Fo_Setup-ASIO Fo_Setup-Filter Fo_Setup-ReSampling1 Fo_Setup-ReSampling2 Fo_Setup-Measure \
            Fo_Measure-1 Fo_Measure-2 Fo_Measure-3 Fo_Measure-4; do
  if [ ! -s "$out/$name.png" ]; then
    echo "screens: $name.png was not written" >&2
    exit 1
  fi
  echo "screens: $out/$name.png"
done

