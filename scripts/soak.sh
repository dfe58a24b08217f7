#!/usr/bin/env bash
# Plays the heavy setting of the render benchmark (up-sampling to 176.4 kHz with 65535
# taps, EQ 65535 taps, convolver with two 3-second responses, HSC C) through a private
# JACK server on the dummy backend for MINUTES minutes, then prints the under-run count.
# Usage: scripts/soak.sh MINUTES   (SOAK_PERIOD sets the JACK period in frames, default 4096)
#
# The period is 85 ms by default. A player needs no low latency, and in a virtual machine a
# real-time thread can wait 10-60 ms for its virtual processor now and then, which a
# 21 ms period (1024 frames) does not survive however little the callback does.
set -euo pipefail
cd "$(dirname "$0")/.."
minutes=${1:?usage: scripts/soak.sh MINUTES}
period=${SOAK_PERIOD:-4096}

scripts/install-deps.sh
cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release -DMARLIX_TESTS=OFF -DMARLIX_BENCH=OFF >/dev/null
cmake --build build-release -j "$(nproc)"

work=$(mktemp -d)
server="marlix-soak-$$"
jack_pid=""
cleanup() {
  [ -n "$jack_pid" ] && kill "$jack_pid" 2>/dev/null && wait "$jack_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

export JACK_DEFAULT_SERVER="$server" JACK_NO_START_SERVER=1 JACK_NO_AUDIO_RESERVATION=1
jackd -n "$server" -d dummy -r 48000 -p "$period" -C 2 -P 2 >"$work/jackd.log" 2>&1 &
jack_pid=$!
jack_wait -s "$server" -w -t 10 >/dev/null

home="$work/home"
mkdir -p "$home"
ln -s "$PWD/build-release/bin/nsp.so" "$home/nsp.so"
python3 - "$home/convolversetting.bin" <<'PY'
import random, struct, sys
rate, n = 44100, 3 * 44100
rng = random.Random(3)
data = struct.pack("<i", 3)
for i in range(2):
    data += struct.pack("<BBBB", 1, 1, 0, 1) + struct.pack("<iii", i, i, -12)
    data += bytes([4]) + b"soak" + bytes(251)
    ir = [rng.gauss(0, 0.3) * 2.718281828 ** (-6.0 * k / n) for k in range(n)]
    data += struct.pack("<ii", n, rate) + struct.pack(f"<{n}d", *ir)
open(sys.argv[1], "wb").write(data)
PY
cat >"$home/setting.ini" <<'INI'
[Output]
nDriverType=1
bFreq5=1
[ASIO]
DriverName=JACK
[Filter]
EQFilterTaps=65535
HSCMode=2
[ReSampler]
bUpSampling=1
nUpFreq=176400
nITaps=65535
[Status]
EQ=1
Convolver=1
HSC=1
Repeat=1
AVC=1
[Global]
IniVersion=117
INI
sox -n -r 44100 -c 2 -b 16 "$work/music.wav" synth 60 pinknoise vol 0.3

echo "soak: playing the heavy setting through JACK for $minutes min, period $period frames"
MARLIX_AUDIO_HOME="$home" timeout --signal=TERM "$((minutes * 60))" \
  build-release/bin/marlixaudio-cli play "$work/music.wav" >"$work/play.log" 2>&1 || true
grep -E "^output:|^under-runs:" "$work/play.log" || { cat "$work/play.log"; exit 1; }
echo "jackd reported $(grep -c XRun "$work/jackd.log" || true) xrun lines"
