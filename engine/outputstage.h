#pragma once
#include "dsp/gainramp.h"

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
// control, the spectrum analyser's tap, clipping. It holds playback back until the FIFO
// has filled once and counts the reads that found nothing. Runs on the driver's
// thread; allocates nothing there.
//
// Edits while playing never click: volume, trim, polarity and the BGM level glide over
// 10 ms (automatic volume control acts at once, as it must stop clipping); a new delay
// crossfades from the old one over 10 ms; HSC switched on or off fades the output out
// over 10 ms, switches, waits out HSC's own delay, and fades back in.
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
    // The HSC switch's fades: the output fades out, HSC switches at the end of that, a
    // newly started HSC's delay passes in silence, then the output fades in.
    enum class THSCFade { Steady, Out, Hole, In };

    int Available();
    void RenderBlock(int32_t* const* outputs, int frames, int channels);
    int FramesBeforeSwitch() const;
    void FollowHSCSwitch(int frames);
    void AdvanceHSCFade(int frames);
    double EnvelopeAt(int i) const;
    void ReadChannel(int k, double* x, int frames, int available, double& peak);
    void Complement(int k, double* x, int frames);
    void FinishChannel(int k, double* x, int32_t* out, int frames);
    bool ComplementsInParallel(int channels, bool hsc) const;
    void ComplementBoth(int frames);
    void BeginBuffer(int channels, int frames);
    void EndBuffer(int frames, int available, double peak);
    void Delay(int k, double* x, int frames, double delayMs);
    bool Glide(int k, double* x, int frames, double gain, int volume);

    const TSettings& Config;
    TOutputControls Controls;
    std::atomic<TFilterThread*> Filter{nullptr};
    int OutRate = 44100;
    std::array<std::unique_ptr<THiManager>, 2> HiManagers;
    std::array<std::vector<double>, 2> DelayRings;
    int DelayPos = 0;
    // Glides: 10 ms at the device rate; per channel the gain, and the delay in samples
    // with the one a crossfade comes from (DelayLeft samples of it still to go).
    int GlideFrames = 441;
    std::array<TGainRamp, 16> Gains;
    std::array<bool, 16> GainSet{};
    std::array<int, 16> LastVolume{};
    std::array<int, 2> DelayNow{0, 0}, DelayFrom{0, 0}, DelayLeft{0, 0};
    std::array<bool, 2> DelaySet{};
    // The volume automatic volume control set last: applied at once, not glided to.
    int AVCVolume = 1;
    // HSC as switched now (HSCOn, HSCWet) and the fades towards what the controls ask.
    bool HSCOn = false, HSCWet = false;
    THSCFade HSCFade = THSCFade::Steady;
    int HSCFadeLeft = 0;
    std::vector<double> Envelope; // this block's gains while the HSC fades run
    bool Tapping = false; // this block goes to the spectrum analyser
    std::array<std::vector<double>, 2> Blocks; // the second only with the helper
    std::unique_ptr<THelperThread> Helper;
};

// The render routine the output drivers call; it renders through the stage given to
// SetRenderStage (silence when none).
void RenderOutput(int32_t* const* outputs, int frames, int channels);
void SetRenderStage(TOutputStage* stage);

} // namespace marlix
