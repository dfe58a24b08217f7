#include "measure/measurestate.h"

#include "dsp/fft.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <numeric>
#include <thread>

namespace marlix {
namespace {

std::atomic<TMeasureState*> gActive{nullptr};

int32_t ToInt32(double x)
{
    return static_cast<int32_t>(std::clamp(std::nearbyint(x * 2147483648.0), -2147483648.0, 2147483647.0));
}

std::vector<Complex> Spectrum(const std::vector<double>& x, int n, TFFTTables& tables)
{
    std::vector<Complex> s(static_cast<size_t>(n) + 1);
    std::copy(x.begin(), x.begin() + n, s.begin());
    FFTForward(s.data(), n, tables);
    return s;
}

// Index and value of the first peak that reaches three quarters of the largest one.
std::pair<int, double> FirstPeak(const std::vector<double>& h)
{
    double max = 0;
    for (double v : h)
        max = std::max(max, std::abs(v));
    int j = 0;
    double b = h.empty() ? 0 : h[0];
    for (size_t k = 1; k < h.size(); ++k) {
        if (std::abs(h[k]) > std::abs(b)) {
            b = h[k];
            j = static_cast<int>(k);
        } else if (std::abs(b) > 0.75 * max) {
            break;
        }
    }
    return {j, b};
}

} // namespace

TMeasureState::TMeasureState(int n, int rate, int addNum, TMeasureRouting routing)
    : N(n), AddNum(std::clamp(addNum, 1, 256)), Routing(routing), Rate(rate),
      Sum(static_cast<size_t>(n)), Response{std::vector<double>(static_cast<size_t>(n)), std::vector<double>(static_cast<size_t>(n))}
{
}

void TMeasureState::StopRecording()
{
    Recording.store(false);
    while (InCallback.load())
        std::this_thread::yield();
}

void TMeasureState::StartChannelMeasurement(int channel)
{
    StopRecording();
    Position.store(0);
    Done.store(false);
    Channel.store(channel);
    std::fill(Sum.begin(), Sum.end(), 0.0);
    Recording.store(true);
}

void TMeasureState::AnalyseChannel()
{
    const int ch = Channel.load();
    if (ch < 0 || ch > 1)
        return;
    for (double& v : Sum)
        v /= AddNum;
    TFFTTables tables;
    FFTInit(N, tables);
    std::vector<Complex> y = Spectrum(Sum, N, tables);
    const std::vector<Complex> x = Spectrum(Reference, N, tables);
    for (size_t k = 0; k < y.size(); ++k) {
        const double p = std::norm(x[k]);
        y[k] = p > 0 ? y[k] * std::conj(x[k]) / p : Complex{};
    }
    FFTInverse(y.data(), N, tables);
    FFTFree(tables);
    std::vector<double>& h = Response[static_cast<size_t>(ch)];
    for (int k = 0; k < N; ++k)
        h[static_cast<size_t>(k)] = y[static_cast<size_t>(k)].real();
    const double mean = std::accumulate(h.begin(), h.end(), 0.0) / N;
    for (double& v : h)
        v -= mean;
    const double e = std::sqrt(std::inner_product(h.begin(), h.end(), h.begin(), 0.0));
    TMeasureResult& r = Results[static_cast<size_t>(ch)];
    r.Level = e > 0 ? 6 * std::log2(e) : -192;
    if (e > 0)
        for (double& v : h)
            v /= e;
    const auto [j, b] = FirstPeak(h);
    r.Delay = j * 1000.0 / Rate.load();
    r.Inverted = b < 0;
}

void TMeasureState::BufferSwitch(int frames, int inputCount, int32_t* const* inputs, int outputCount,
                                 int32_t* const* outputs)
{
    InCallback.store(true);
    const int mic = 2 * Routing.InDevice0;
    const int32_t* input = mic >= 0 && mic < inputCount && inputs ? inputs[mic] : nullptr;
    HoldLevel(input ? PeakLevelDB(input, frames) : -192, frames);
    if (input && Recording.load() && Channel.load() >= 0)
        Accumulate(input, frames);
    Play(frames, outputCount, outputs);
    if (Channel.load() >= 0)
        Position.fetch_add(frames);
    InCallback.store(false);
}

void TMeasureState::HoldLevel(double level, int frames)
{
    if (level > InputLevel.load(std::memory_order_relaxed)) {
        InputLevel.store(level, std::memory_order_relaxed);
        HoldCounter = Rate.load(std::memory_order_relaxed);
        return;
    }
    HoldCounter -= frames;
    if (HoldCounter < 0)
        InputLevel.store(level, std::memory_order_relaxed);
}

void TMeasureState::Accumulate(const int32_t* input, int frames)
{
    // The recording lags the playback by two buffers. The first period is not summed: the
    // room is still filling with the excitation's earlier periods.
    const int64_t start = Position.load() - 2 * static_cast<int64_t>(frames);
    const int64_t end = static_cast<int64_t>(AddNum + 1) * N;
    for (int k = 0; k < frames; ++k) {
        const int64_t t = start + k;
        if (t < N)
            continue;
        if (t >= end) {
            Done.store(true);
            break;
        }
        Sum[static_cast<size_t>(t % N)] += input[k] * (1.0 / 2147483648.0);
    }
}

void TMeasureState::Play(int frames, int outputCount, int32_t* const* outputs)
{
    for (int c = 0; c < outputCount; ++c)
        std::fill(outputs[c], outputs[c] + frames, 0);
    const int ch = Channel.load();
    const int pair = Routing.Device0;
    if (ch < 0 || ch > 1 || pair < 0 || pair >= outputCount / 2 || Routing.ChAssign0 != ch / 2 || Done.load())
        return;
    const std::vector<double>& x = Excitation[static_cast<size_t>(ch)];
    if (x.size() != static_cast<size_t>(N))
        return;
    int32_t* out = outputs[2 * pair + (ch & 1)];
    const int64_t position = Position.load();
    for (int k = 0; k < frames; ++k)
        out[k] = ToInt32(x[static_cast<size_t>((position + k) % N)]);
}

double PeakLevelDB(const int32_t* samples, int frames)
{
    int64_t peak = 0;
    for (int k = 0; k < frames; ++k)
        peak = std::max(peak, std::abs(static_cast<int64_t>(samples[k])));
    return peak == 0 ? -192 : 6 * std::log2(static_cast<double>(peak)) - 186;
}

void MeasureBufferSwitch(int frames, int inputCount, int32_t* const* inputs, int outputCount,
                         int32_t* const* outputs)
{
    if (TMeasureState* state = gActive.load(std::memory_order_acquire))
        state->BufferSwitch(frames, inputCount, inputs, outputCount, outputs);
}

void SetActiveMeasurement(TMeasureState* state)
{
    gActive.store(state, std::memory_order_release);
}

} // namespace marlix
