#pragma once
#include "dsp/fft.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <span>
#include <utility>
#include <vector>

namespace marlix {

class TMainThread;
class TMChFIFO;
class TSpectrumThread;

// The running spectrum of every output channel, with a falling display and a 5 s peak
// hold. The output stage taps its final samples into the analyser's FIFO on the
// driver's thread (without allocating, locking or waiting); everything else runs on the
// main thread. Set up only while its window shows, so a hidden analyser costs nothing;
// once the output has stopped and the display has fallen out of sight it is torn down too.
class TSpectrumAnalyser {
public:
    static constexpr int kDefaultSize = 512;
    static constexpr int kHoldMs = 5000;

    // With a dispatcher, set-up starts the pacing thread; without one the caller clocks Pass.
    explicit TSpectrumAnalyser(TMainThread* dispatcher = nullptr);
    ~TSpectrumAnalyser();
    TSpectrumAnalyser(const TSpectrumAnalyser&) = delete;
    TSpectrumAnalyser& operator=(const TSpectrumAnalyser&) = delete;

    // Driver's thread, before each block: the output's channel count (0: output stopped) and rate.
    void Hook(int channels, int rate);
    // Driver's thread: BeginTap says whether this block of `frames` goes to the analyser
    // (active and room for all of it, else the block is dropped); Tap copies one channel;
    // EndTap must follow a BeginTap that answered true.
    bool BeginTap(int frames);
    void Tap(int channel, const double* x, int frames);
    void EndTap();

    // Main thread: sets up for the output's channels when shown, takes over a changed
    // rate, tears down when hidden or when the output has stopped and nothing shows.
    void Update(bool shown);
    void Setup(int channels, int rate, int n = kDefaultSize);
    void Teardown();
    // One processing pass at time `nowMs` (decay, transform, peak hold).
    void Pass(int64_t nowMs);

    bool Active() const { return TapFIFO != nullptr; }
    // The output reports no channels: nothing more will arrive.
    bool OutputStopped() const { return OutChannels.load(std::memory_order_relaxed) == 0; }
    int Channels() const { return static_cast<int>(Levels.size()); }
    int Rate() const { return SampleRate; }
    int Size() const { return N; }
    std::span<const double> Spectrum(int c) const { return Levels[c]; }
    std::span<const double> Peak(int c) const { return PeakLevels[c]; }
    // True once after a pass that transformed new samples.
    bool TakeNewData() { return std::exchange(NewData, false); }
    uint64_t Transforms() const { return TransformCount; }

private:
    void Decay(int64_t dt);
    void TransformPair(int first);
    void HoldPeaks();
    // Pacing thread: a pass is worth the main thread's time when the last one is
    // kPassStepMs old and a block waits or the display still falls.
    bool PassDue() const;
    // The window draws every 50 ms: passes more often would never be seen.
    static constexpr int64_t kPassStepMs = 50;

    TMainThread* Dispatcher;
    std::atomic<int> OutChannels{0};
    std::atomic<int> OutRate{0};
    std::atomic<TMChFIFO*> TapFifo{nullptr};
    std::atomic<bool> InTap{false};
    TMChFIFO* Tapping = nullptr; // the driver thread's FIFO between BeginTap and EndTap

    std::unique_ptr<TMChFIFO> TapFIFO;
    std::unique_ptr<TSpectrumThread> Thread;
    TFFTTables Tables;
    std::vector<Complex> Z, A, B;
    std::vector<double> Window, Samples;
    std::vector<std::vector<double>> Levels, PeakLevels;
    std::vector<std::vector<int32_t>> Hold;
    int N = kDefaultSize;
    int SampleRate = 44100;
    double Scale = 2.0 / kDefaultSize;
    int64_t LastTime = 0;
    std::atomic<int64_t> LastPassAt{0};
    std::atomic<bool> Silent{true}; // every level and peak has fallen out of sight
    bool HasLastTime = false;
    bool NewData = false;
    uint64_t TransformCount = 0;
};

} // namespace marlix
