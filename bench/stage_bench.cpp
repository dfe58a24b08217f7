// Throughput of the convolver, the high-frequency complement and the fractional
// FIFO reader, as seconds of audio per second of one core ("xRT").
#include "benchutil.h"
#include "dsp/convfilter.h"
#include "dsp/firdesign.h"
#include "dsp/firfilter.h"
#include "dsp/himanager.h"
#include "base/fifo.h"
#include "settings/settingconvolver.h"

#include <chrono>
#include <cmath>
#include <ctime>
#include <random>
#include <thread>
#include <vector>

namespace marlix::bench {
namespace {

// CPU time of every thread of the process, in seconds.
double ProcessCpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + t.tv_nsec * 1e-9;
}

std::vector<double> Decaying(size_t n, unsigned seed, double rate)
{
    std::mt19937 rng(seed);
    std::normal_distribution<double> g(0, 0.3);
    std::vector<double> v(n);
    for (size_t i = 0; i < n; ++i)
        v[i] = g(rng) * std::exp(-3.0 * static_cast<double>(i) / rate);
    return v;
}

// Two 3-second reverb responses at 48 kHz, one per channel, wet and dry.
void ConvolverProcess(benchmark::State& state, bool external)
{
    if (!UseExternalFFT(external)) {
        state.SkipWithError("nsp.so not found");
        return;
    }
    constexpr int kRate = 48000, kLength = 3 * kRate, kChunk = 8192;
    TSettingConvolver setting;
    for (int i = 0; i < 2; ++i) {
        TConvolverEntry& c = setting.Conv[i];
        c.HasIR = true;
        c.CutDS = false;
        c.InCh = c.OutCh = i;
        c.IR = Decaying(kLength, 10 + i, kRate);
        c.IRLength = kLength;
        c.IRRate = kRate;
    }
    // Its long transforms run on the filter's worker thread: the time taken is the
    // whole process's CPU time, so the figure is still for one core's work.
    TConvFilter stage(2, false, kRate, 1 << 20, setting);
    SettleMeasuredPlans();
    TMChFIFO in(2, 1 << 20);
    const auto input = Decaying(2 * kChunk, 3, 1e9);
    std::vector<double> sink(1 << 20);
    uint64_t allocations = 0;
    for (auto _ : state) {
        const double start = ProcessCpuSeconds();
        in.WriteInterleaved(input.data(), kChunk, 2);
        const uint64_t before = Allocations();
        stage.Process(in, *stage.OutFIFO, kChunk);
        allocations += Allocations() - before;
        stage.FIR->WaitForTransform();
        const int got = stage.OutFIFO->Available();
        for (int c = 0; c < 2; ++c)
            stage.OutFIFO->FIFOs[c]->Read(sink.data(), got);
        state.SetIterationTime(ProcessCpuSeconds() - start);
    }
    const double blocks = static_cast<double>(state.iterations()) * kChunk / stage.FIR->BlockSize;
    ReportRealTime(state, static_cast<double>(kChunk) / kRate, allocations, blocks);
    UnloadFFTLibrary();
}

// The up-sampler of the heavy chain: 44.1 kHz × 4 through 65535 taps, stereo, fed as the
// filter thread feeds it (the frames alone; the filter supplies the zeros). `stuffed`
// false feeds it the stuffed stream and makes it transform the zeros too, as a yardstick
// for what skipping them saves.
void UpSampler(benchmark::State& state, bool stuffed)
{
    if (!UseExternalFFT(true)) {
        state.SkipWithError("nsp.so not found");
        return;
    }
    constexpr int kRate = 44100, kFactor = 4, kChunk = 8192;
    auto filter = CreateInterpolationFilter(2, 65535, 4, kRate, kRate * kFactor, kFactor, 1.0);
    const int spacing = stuffed ? 1 : kFactor;
    if (!stuffed)
        filter->SetStuffing(1);
    SettleMeasuredPlans();
    TMChFIFO in(2, 1 << 20);
    std::vector<double> input(2 * static_cast<size_t>(kChunk) * spacing, 0.0);
    const auto noise = Decaying(2 * kChunk, 4, 1e9);
    for (int t = 0; t < kChunk; ++t)
        for (int c = 0; c < 2; ++c)
            input[2 * static_cast<size_t>(t) * spacing + c] = noise[2 * static_cast<size_t>(t) + c];
    std::vector<double> sink(1 << 20);
    for (auto _ : state) {
        const double start = ProcessCpuSeconds();
        in.WriteInterleaved(input.data(), kChunk * spacing, 2);
        while (in.Available() > 0) {
            filter->Process(in, *filter->OutFIFO, kChunk * kFactor);
            filter->WaitForTransform();
            const int got = filter->OutFIFO->Available();
            for (int c = 0; c < 2; ++c)
                filter->OutFIFO->FIFOs[c]->Read(sink.data(), got);
        }
        state.SetIterationTime(ProcessCpuSeconds() - start);
    }
    ReportRealTime(state, static_cast<double>(kChunk) / kRate, 0, 0);
    UnloadFFTLibrary();
}

void HiManagerModeC(benchmark::State& state)
{
    if (!UseExternalFFT(state.range(1) != 0)) {
        state.SkipWithError("nsp.so not found");
        return;
    }
    const double rate = static_cast<double>(state.range(0));
    THiManager hsc(3, rate);
    SettleMeasuredPlans();
    std::vector<double> block = Decaying(4410, 5, 1e9);
    // A band-limited signal, so that the detector finds a cut-off and the predictor works.
    for (size_t i = 0; i < block.size(); ++i)
        block[i] = 0.3 * std::sin(0.05 * static_cast<double>(i)) + 0.1 * std::sin(0.9 * static_cast<double>(i));
    const uint64_t before = Allocations();
    for (auto _ : state) {
        hsc.Process(block.data(), static_cast<int>(block.size()), false);
        benchmark::DoNotOptimize(block.data());
    }
    ReportRealTime(state, 4410 / rate, Allocations() - before, static_cast<double>(state.iterations()) * 4410 / 256);
    UnloadFFTLibrary();
}

// 176.4 kHz to 44.1 kHz (step 4), Gaussian kernel of half-width 5, one channel.
void GaussianReader(benchmark::State& state)
{
    constexpr int kOut = 4410;
    TMChFIFO fifo(1, 1 << 16);
    fifo.SetReader({4.0, true, 1, 5});
    const auto input = Decaying(4 * kOut, 9, 1e9);
    std::vector<double> out(kOut);
    const uint64_t before = Allocations();
    for (auto _ : state) {
        fifo.WriteInterleaved(input.data(), 4 * kOut, 1);
        fifo.TakeReader();
        fifo.FIFOs[0]->Read(out.data(), kOut);
        benchmark::DoNotOptimize(out.data());
    }
    ReportRealTime(state, static_cast<double>(kOut) / 44100, Allocations() - before,
                   static_cast<double>(state.iterations()));
}

BENCHMARK_CAPTURE(ConvolverProcess, nsp, true)->Unit(benchmark::kMillisecond)->UseManualTime();
BENCHMARK_CAPTURE(ConvolverProcess, builtin, false)->Unit(benchmark::kMillisecond)->UseManualTime();
BENCHMARK_CAPTURE(UpSampler, stuffed, true)->Unit(benchmark::kMillisecond)->UseManualTime();
BENCHMARK_CAPTURE(UpSampler, full, false)->Unit(benchmark::kMillisecond)->UseManualTime();
// Arguments: the rate, and 1 for the external transform.
BENCHMARK(HiManagerModeC)->ArgsProduct({{44100, 176400}, {0, 1}})->Unit(benchmark::kMillisecond);
BENCHMARK(GaussianReader)->Unit(benchmark::kMicrosecond);

} // namespace
} // namespace marlix::bench
