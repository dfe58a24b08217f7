#include "engine/spectrumanalyser.h"

#include "base/fifo.h"
#include "engine/spectrumthread.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <numbers>
#include <thread>

namespace marlix {
namespace {

constexpr double kFloor = 0x1p-64;

double Magnitude(const Complex& z)
{
    const double re = std::isnan(z.real()) ? 0.0 : z.real();
    const double im = std::isnan(z.imag()) ? 0.0 : z.imag();
    return std::hypot(re, im);
}

// Below -192 dB (the widest display range) a level can no longer be seen.
constexpr double kUnseen = 0x1p-32;

bool AllUnseen(const std::vector<std::vector<double>>& channels)
{
    return std::all_of(channels.begin(), channels.end(),
                       [](const auto& c) { return std::all_of(c.begin(), c.end(), [](double v) { return v < kUnseen; }); });
}

int64_t NowMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

} // namespace

TSpectrumAnalyser::TSpectrumAnalyser(TMainThread* dispatcher) : Dispatcher(dispatcher) {}

TSpectrumAnalyser::~TSpectrumAnalyser()
{
    Teardown();
}

void TSpectrumAnalyser::Hook(int channels, int rate)
{
    OutChannels.store(channels, std::memory_order_relaxed);
    OutRate.store(rate, std::memory_order_relaxed);
}

bool TSpectrumAnalyser::BeginTap(int frames)
{
    // Announce the tap before looking at the FIFO, so Teardown either sees us or we see it gone.
    InTap.store(true);
    Tapping = TapFifo.load();
    if (Tapping && Tapping->Free() >= frames)
        return true;
    InTap.store(false);
    return false;
}

void TSpectrumAnalyser::Tap(int channel, const double* x, int frames)
{
    if (channel < Tapping->Channels)
        Tapping->FIFOs[channel]->Write(x, frames);
}

void TSpectrumAnalyser::EndTap()
{
    Tapping = nullptr;
    InTap.store(false);
}

void TSpectrumAnalyser::Update(bool shown)
{
    const int channels = OutChannels.load(std::memory_order_relaxed);
    const int rate = OutRate.load(std::memory_order_relaxed);
    if (!shown) {
        Teardown();
    } else if (channels > 0 && (!Active() || channels != Channels())) {
        Setup(channels, rate);
    } else if (Active() && channels == 0 && Silent.load()) {
        Teardown(); // the output stopped and the display has fallen silent: nothing is left to do
    } else if (Active() && rate > 0) {
        SampleRate = rate;
    }
}

void TSpectrumAnalyser::Setup(int channels, int rate, int n)
{
    Teardown();
    channels = std::clamp(channels, 1, 16);
    NextPow2(n);
    N = n;
    SampleRate = rate;
    Scale = 2.0 / N;
    FFTInit(N, Tables);
    Z.assign(N + 1, Complex());
    A.assign(N / 2 + 1, Complex());
    B.assign(N / 2 + 1, Complex());
    Samples.assign(N, 0.0);
    Window.resize(N);
    for (int i = 0; i < N; ++i)
        Window[i] = 0.5 + 0.5 * std::cos((i - (N - 1) / 2.0) * 2 * std::numbers::pi / (N + 1));
    Levels.assign(channels, std::vector<double>(N / 2 + 1, 0.0));
    PeakLevels.assign(channels, std::vector<double>(N / 2 + 1, 0.0));
    Hold.assign(channels, std::vector<int32_t>(N / 2 + 1, 0));
    TapFIFO = std::make_unique<TMChFIFO>(channels, 2 * N + 8192);
    TapFifo.store(TapFIFO.get());
    Silent = true;
    if (Dispatcher)
        Thread = std::make_unique<TSpectrumThread>(*Dispatcher, [this] { Pass(NowMs()); }, [this] { return PassDue(); });
}

void TSpectrumAnalyser::Teardown()
{
    TapFifo.store(nullptr);
    while (InTap.load())
        std::this_thread::yield();
    if (Thread)
        Thread->Stop();
    Thread.reset();
    TapFIFO.reset();
    FFTFree(Tables);
    Levels.clear();
    PeakLevels.clear();
    Hold.clear();
    NewData = false;
}

bool TSpectrumAnalyser::PassDue() const
{
    if (NowMs() - LastPassAt.load() < kPassStepMs)
        return false;
    const TMChFIFO* fifo = TapFifo.load();
    return (fifo && fifo->Available() >= N) || !Silent.load();
}

void TSpectrumAnalyser::Pass(int64_t nowMs)
{
    const int64_t dt = nowMs - LastTime;
    if (HasLastTime && dt >= 0 && dt < 100)
        Decay(dt);
    LastTime = nowMs;
    HasLastTime = true;
    LastPassAt = nowMs;
    // Whole frames only: the driver thread may be between the channels of a tap, and a
    // channel read or skipped without its samples would stay behind the others.
    if (!Active() || TapFIFO->Available() < N) {
        Silent = AllUnseen(Levels) && AllUnseen(PeakLevels);
        return;
    }
    // Every whole block waiting is transformed and the levels keep the loudest, so a
    // pass per drawing loses no peak between them.
    while (TapFIFO->Available() >= N)
        for (int c = 0; c < Channels(); c += 2)
            TransformPair(c);
    HoldPeaks();
    NewData = true;
    Silent = false;
}

void TSpectrumAnalyser::Decay(int64_t dt)
{
    const double d = std::pow(0.5, dt / 500.0);
    for (int c = 0; c < Channels(); ++c) {
        for (size_t k = 0; k < PeakLevels[c].size(); ++k) {
            if (Hold[c][k] <= 0) {
                PeakLevels[c][k] *= d;
                if (PeakLevels[c][k] < kFloor)
                    PeakLevels[c][k] = 0;
            } else {
                Hold[c][k] = static_cast<int32_t>(std::max<int64_t>(0, Hold[c][k] - dt));
            }
            double& s = Levels[c][k];
            s *= d * d;
            if (s < kFloor)
                s = 0;
        }
    }
}

// Two real channels in one complex transform: the first as real parts, the second
// (when there is one) as imaginary parts, separated afterwards.
void TSpectrumAnalyser::TransformPair(int first)
{
    std::fill(Z.begin(), Z.end(), Complex());
    const bool second = first + 1 < Channels();
    TapFIFO->FIFOs[first]->Read(Samples.data(), N);
    for (int i = 0; i < N; ++i)
        Z[i].real(Samples[i] * Window[i]);
    if (second) {
        TapFIFO->FIFOs[first + 1]->Read(Samples.data(), N);
        for (int i = 0; i < N; ++i)
            Z[i].imag(Samples[i] * Window[i]);
    }
    FFTForward(Z.data(), N, Tables);
    ++TransformCount;
    SplitPair(Z.data(), N, A.data(), second ? B.data() : nullptr);
    for (int k = 0; k <= N / 2; ++k) {
        double& a = Levels[first][k];
        a = std::max(a, Magnitude(A[k]) * Scale);
        if (second) {
            double& b = Levels[first + 1][k];
            b = std::max(b, Magnitude(B[k]) * Scale);
        }
    }
}

void TSpectrumAnalyser::HoldPeaks()
{
    for (int c = 0; c < Channels(); ++c)
        for (size_t k = 0; k < PeakLevels[c].size(); ++k)
            if (Levels[c][k] > PeakLevels[c][k]) {
                PeakLevels[c][k] = Levels[c][k];
                Hold[c][k] = kHoldMs;
            }
}

} // namespace marlix
