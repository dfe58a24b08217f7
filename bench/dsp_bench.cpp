// Throughput of the transforms and the FIR engine, as seconds of audio per second
// of one core ("xRT"), with a plain FFTW overlap-add loop of the same design as the
// yardstick.
#include "benchutil.h"
#include "dsp/firfilter.h"
#include "base/fifo.h"
#include "base/flexbuf.h"

#include <fftw3.h>
#include <random>
#include <vector>

namespace marlix::bench {
namespace {

constexpr double kRate = 44100;

std::vector<double> Noise(size_t n, unsigned seed)
{
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> u(-0.5, 0.5);
    std::vector<double> v(n);
    for (auto& x : v)
        x = u(rng);
    return v;
}

void FFTPair(benchmark::State& state, bool external)
{
    if (!UseExternalFFT(external)) {
        state.SkipWithError("nsp.so not found");
        return;
    }
    const int n = static_cast<int>(state.range(0));
    std::vector<Complex> buffer(static_cast<size_t>(n) + 1, Complex(0.25, -0.25));
    TFFTTables tables;
    FFTInit(n, tables);
    SettleMeasuredPlans();
    for (auto _ : state) {
        FFTForward(buffer.data(), n, tables);
        FFTInverse(buffer.data(), n, tables);
        benchmark::DoNotOptimize(buffer.data());
    }
    FFTFree(tables);
    state.SetItemsProcessed(state.iterations() * n);
    UnloadFFTLibrary();
}

// Stereo FIR at 44.1 kHz: every iteration feeds and drains one block of N frames.
void FIRProcess(benchmark::State& state, bool external)
{
    if (!UseExternalFFT(external)) {
        state.SkipWithError("nsp.so not found");
        return;
    }
    const int taps = static_cast<int>(state.range(0));
    TFIRFilter filter(2, false, false, 4 * (taps + 1), taps);
    const int n = filter.BlockSize;
    TFlexBuf block;
    for (int c = 0; c < 2; ++c) {
        const auto h = Noise(taps, 1 + c);
        const void* src[1] = {h.data()};
        block.SetBuf(src, 1, 65, taps);
        filter.SetTaps(c, block);
    }
    SettleMeasuredPlans();
    TMChFIFO in(2, 2 * n);
    const auto input = Noise(2 * static_cast<size_t>(n), 7);
    std::vector<double> sink(n);
    const uint64_t before = Allocations();
    for (auto _ : state) {
        in.WriteInterleaved(input.data(), n, 2);
        filter.Process(in, *filter.OutFIFO, n);
        for (int c = 0; c < 2; ++c)
            filter.OutFIFO->FIFOs[c]->Read(sink.data(), n);
        benchmark::DoNotOptimize(sink.data());
    }
    ReportRealTime(state, n / kRate, Allocations() - before, static_cast<double>(state.iterations()));
    UnloadFFTLibrary();
}

// The yardstick: FFTW overlap-add with two channels packed into one transform pair,
// nothing else around it.
void ReferenceOverlapAdd(benchmark::State& state)
{
    const int taps = static_cast<int>(state.range(0));
    int n = taps;
    NextPow2(n);
    const int m = 2 * n;
    fftw_complex* z = fftw_alloc_complex(m + 1); // with the spare element the recombination writes
    fftw_complex* h = fftw_alloc_complex(m + 1);
    fftw_plan forward = fftw_plan_dft_1d(m, z, z, FFTW_FORWARD, FFTW_MEASURE);
    fftw_plan inverse = fftw_plan_dft_1d(m, z, z, FFTW_BACKWARD, FFTW_MEASURE);
    const auto ha = Noise(taps, 1), hb = Noise(taps, 2);
    for (int i = 0; i < m; ++i) {
        h[i][0] = i < taps ? ha[i] : 0;
        h[i][1] = i < taps ? hb[i] : 0;
    }
    fftw_execute_dft(forward, h, h);
    std::vector<Complex> sa(n + 1), sb(n + 1);
    for (int k = 0; k <= n; ++k) {
        const int km = (m - k) % m;
        sa[k] = Complex(h[k][0] + h[km][0], h[k][1] - h[km][1]) * 0.5 / double(m);
        sb[k] = Complex(h[k][1] + h[km][1], h[km][0] - h[k][0]) * 0.5 / double(m);
    }
    const auto input = Noise(2 * static_cast<size_t>(n), 7);
    std::vector<double> overlap(2 * static_cast<size_t>(m)), out(2 * static_cast<size_t>(n));
    for (auto _ : state) {
        for (int i = 0; i < n; ++i) {
            z[i][0] = input[2 * i];
            z[i][1] = input[2 * i + 1];
        }
        for (int i = n; i < m; ++i)
            z[i][0] = z[i][1] = 0;
        fftw_execute(forward);
        for (int k = 0; k <= n; ++k) {
            const int km = k == 0 ? 0 : m - k;
            const Complex a = Complex(z[k][0] + z[km][0], z[k][1] - z[km][1]) * sa[k];
            const Complex b = Complex(z[k][1] + z[km][1], z[km][0] - z[k][0]) * sb[k];
            const Complex lo(a.real() - b.imag(), a.imag() + b.real());
            const Complex hi(a.real() + b.imag(), b.real() - a.imag());
            z[m - k][0] = hi.real();
            z[m - k][1] = hi.imag();
            z[k][0] = lo.real();
            z[k][1] = lo.imag();
        }
        fftw_execute(inverse);
        for (int i = 0; i < n; ++i) {
            out[2 * i] = overlap[2 * i] + z[i][0];
            out[2 * i + 1] = overlap[2 * i + 1] + z[i][1];
            overlap[2 * i] = z[n + i][0];
            overlap[2 * i + 1] = z[n + i][1];
        }
        benchmark::DoNotOptimize(out.data());
    }
    state.counters["xRT"] = benchmark::Counter(n / kRate * static_cast<double>(state.iterations()),
                                               benchmark::Counter::kIsRate);
    fftw_destroy_plan(forward);
    fftw_destroy_plan(inverse);
    fftw_free(z);
    fftw_free(h);
}

BENCHMARK_CAPTURE(FFTPair, builtin, false)->RangeMultiplier(2)->Range(1 << 10, 1 << 21)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(FFTPair, nsp, true)->RangeMultiplier(2)->Range(1 << 10, 1 << 21)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(FIRProcess, builtin, false)->Arg(1023)->Arg(8191)->Arg(65535)->Arg(1048575)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(FIRProcess, nsp, true)->Arg(1023)->Arg(8191)->Arg(65535)->Arg(1048575)->Unit(benchmark::kMillisecond);
BENCHMARK(ReferenceOverlapAdd)->Arg(1023)->Arg(8191)->Arg(65535)->Arg(144000)->Arg(1048575)->Unit(benchmark::kMillisecond);

} // namespace
} // namespace marlix::bench

BENCHMARK_MAIN();
