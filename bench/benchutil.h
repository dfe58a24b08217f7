#pragma once
#include "alloccount.h"
#include "dsp/fft.h"

#include <benchmark/benchmark.h>
#include <chrono>
#include <dlfcn.h>
#include <string>
#include <thread>

namespace marlix::bench {

// Selects the external transform (nsp.so from the build's program folder) or the built-in one.
inline bool UseExternalFFT(bool external)
{
    if (!external) {
        UnloadFFTLibrary();
        return true;
    }
    return LoadFFTLibrary(std::string(MARLIX_BENCH_BIN_DIR) + "nsp.so");
}

// Waits (two minutes at most) until nsp.so has measured the plans of every size prepared
// so far, so that the figures are for the measured plans the program settles on, as the
// FFTW reference loop's are; with the sizes in the wisdom cache this returns at once.
inline void SettleMeasuredPlans()
{
    void* lib = dlopen((std::string(MARLIX_BENCH_BIN_DIR) + "nsp.so").c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (!lib)
        return;
    auto measuring = reinterpret_cast<int (*)()>(dlsym(lib, "nspzFftMeasuring"));
    for (int i = 0; measuring && measuring() != 0 && i < 1200; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    dlclose(lib);
}

// Reports seconds of audio processed per second as "xRT", and heap allocations per
// processed block as "allocs/block".
inline void ReportRealTime(benchmark::State& state, double audioSecondsPerIteration, uint64_t allocations,
                           double blocks)
{
    state.counters["xRT"] = benchmark::Counter(audioSecondsPerIteration * static_cast<double>(state.iterations()),
                                               benchmark::Counter::kIsRate);
    state.counters["allocs/block"] = blocks > 0 ? static_cast<double>(allocations) / blocks : 0.0;
}

} // namespace marlix::bench
