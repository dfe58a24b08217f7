#pragma once
#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace marlix {

class TFilterThread;
class THelperThread;
class THiManager;
class TSettings;
class TSpectrumAnalyser;

// Where the render stage finds the process-wide values it reads and writes.
struct TOutputControls {
    std::atomic<int>* MasterVolume = nullptr; // tenths of the level unit, −360 … 0
    const std::atomic<bool>* AVC = nullptr;
    const std::atomic<bool>* HSC = nullptr;
    const std::atomic<bool>* HSCWetOnly = nullptr;
    const std::atomic<bool>* BGMActive = nullptr;
    const std::atomic<bool>* EndOfList = nullptr;
    // The decoder's side: its end-of-source flag, its tail flag and the track length it
    // published at open (never a call into the decoder, whose source may be freed).
    const std::atomic<bool>* Finished = nullptr;
    std::atomic<bool>* TailActive = nullptr;
    const std::atomic<double>* TrackLengthMs = nullptr;
    // Gets the final samples of every block while it is active.
    TSpectrumAnalyser* Spectrum = nullptr;
};

// Turns the filter thread's output FIFO into blocks of 32-bit integers at the device
// rate: fractional read, HSC, volume, trim and polarity, delay, automatic volume
// control, the spectrum analyser's tap, clipping. It holds playback back until the FIFO has filled once and counts
// the reads that found nothing. Runs on the driver's thread; allocates nothing there.
class TOutputStage {
public:
    static constexpr int kMaxFrames = 1 << 16;

    TOutputStage(const TSettings& settings, TOutputControls controls);
    ~TOutputStage();

    // Chain start: pre-roll, delay rings of 30 ms and one HSC object per channel 0 and 1.
    void Start(TFilterThread* filter, int outRate, int hscMode);
    void Stop();

    void Render(int32_t* const* outputs, int frames, int channels);
    // Offline renders, where a second core is free: in RenderBuffers, HSC of channel 1
    // runs on a helper thread beside channel 0's. Before rendering starts.
    void UseHelperThread();
    // `count` device buffers of `frames` frames, one after another in `outputs`, exactly
    // as `count` calls of Render would fill them. With the helper, HSC of all of them runs
    // as one job per channel: one hand-over for the lot instead of one per buffer.
    static constexpr int kMaxBuffers = 8;
    void RenderBuffers(int32_t* const* outputs, int count, int frames, int channels);

    std::atomic<bool> Preroll{false};
    std::atomic<int> EmptyReads{0};
    // Reads that found nothing while the source was still delivering: the chain fell
    // behind the device. Counted over the life of the stage.
    std::atomic<int> Underruns{0};

private:
    int Available();
    void RenderBlock(int32_t* const* outputs, int frames, int channels);
    void ReadChannel(int k, double* x, int frames, int available, double& peak);
    void Complement(int k, double* x, int frames);
    void FinishChannel(int k, double* x, int32_t* out, int frames);
    bool ComplementsInParallel(int channels, bool hsc) const;
    void ComplementBoth(int frames);
    void SwitchComplements(bool hsc);
    void BeginBuffer(int channels, int frames);
    void EndBuffer(int frames, int available, double peak);
    void Delay(std::vector<double>& ring, double* x, int frames, double delayMs) const;

    const TSettings& Config;
    TOutputControls Controls;
    std::atomic<TFilterThread*> Filter{nullptr};
    int OutRate = 44100;
    std::array<std::unique_ptr<THiManager>, 2> HiManagers;
    std::array<std::vector<double>, 2> DelayRings;
    int DelayPos = 0;
    bool HiWasOn = true;
    bool Tapping = false; // this block goes to the spectrum analyser
    std::array<std::vector<double>, 2> Blocks; // the second only with the helper
    std::unique_ptr<THelperThread> Helper;
};

// The render routine the output drivers call; it renders through the stage given to
// SetRenderStage (silence when none).
void RenderOutput(int32_t* const* outputs, int frames, int channels);
void SetRenderStage(TOutputStage* stage);

} // namespace marlix
