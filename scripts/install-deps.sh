#!/usr/bin/env bash
# Installs every build and test dependency with apt. Safe to run again: it only
# installs what is missing, and skips apt entirely when nothing is.
set -euo pipefail

PACKAGES=(
  build-essential cmake ninja-build pkg-config ccache git
  clang libclang-rt-14-dev
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  qt6-base-dev qt6-base-dev-tools libgl-dev
  libasound2-dev alsa-utils
  jackd2 libjack-jackd2-dev
  libavformat-dev libavcodec-dev libavutil-dev libswresample-dev ffmpeg sox
  libfftw3-dev
  libcurl4-openssl-dev libcpp-httplib-dev libsqlite3-dev
  libmicrohttpd-dev libpq-dev postgresql
  qt6-webengine-dev
  ladspa-sdk
  xvfb xauth x11-utils fonts-noto-cjk
  dbus-daemon dbus-bin
  pipewire pipewire-bin wireplumber pipewire-alsa pipewire-jack libpipewire-0.3-dev
  python3
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "install-deps: installing ${missing[*]}" >&2
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
# jackd2 asks whether to enable real-time scheduling; answer without a prompt.
echo "jackd2 jackd/tweak_rt_limits boolean false" | $SUDO debconf-set-selections 2>/dev/null || true
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
