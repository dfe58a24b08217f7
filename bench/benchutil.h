#pragma once
#include "alloccount.h"
#include "dsp/fft.h"

#include <benchmark/benchmark.h>
#include <string>

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
