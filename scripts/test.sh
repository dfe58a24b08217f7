#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: the unit tests once more under
# AddressSanitizer + UndefinedBehaviorSanitizer, the threaded tests under ThreadSanitizer,
# then the whole suite (every label).
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

echo "== thread sanitizer build (threaded tests)"
# Only the libraries and tests that run threads; JACK servers stay out of it.
cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMARLIX_TSAN=ON -DMARLIX_BENCH=OFF -DMARLIX_WERROR=ON >/dev/null
# The offline renders run the command-line program, whose feed and render threads overlap.
cmake --build build-tsan -j "$jobs" --target test_base test_dsp test_engine test_player itest_online \
  itest_engine e2e_app marlixaudio-cli test_server itest_server marlixaudio-library
tsan_status=0
(cd build-tsan && TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" \
   ctest -R 'HandOver|FIFOThreads|MainThread\.|AdditionLoader\.|FilterThreadTest\.|FIRFilterTest\.|ConvFilter\.|ReportPoster\.|HelperThread\.|OutputStageTest\.|PluginHostTest\.MainThreadCalls|ASIOHost\.|WaveOutputDevice\.CloseGivesUp|PlaybackControlTest\.(CommandsWait|StopStops)|Cli\.(Render|Convolver|ShortConvolver|UpSampling|Equaliser|Matrix)|Inet\.(DownloadThread|RemovingTheRunning|SearchNews)|Sqlite/Catalogue\.Concurrent|Http\.(SlowClients|ConnectionsPerAddress)' \
   -j "$jobs" --output-on-failure --timeout 600) || tsan_status=$?

echo "== release build (all tests)"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMARLIX_WERROR=ON >/dev/null
cmake --build build -j "$jobs"
main_status=0
(cd build && ctest -j "$jobs" --output-on-failure --timeout 900) || main_status=$?

if [ "$tsan_status" -ne 0 ]; then
  echo "thread sanitizer run failed (status $tsan_status)" >&2
  exit "$tsan_status"
fi
if [ "$asan_status" -ne 0 ]; then
  echo "sanitizer run failed (status $asan_status)" >&2
  exit "$asan_status"
fi
exit "$main_status"
