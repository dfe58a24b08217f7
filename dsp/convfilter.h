#pragma once
#include "dsp/filterstage.h"
#include "dsp/gainramp.h"
#include "base/alignedarray.h"

#include <array>
#include <memory>

namespace marlix {

class TFIRFilter;
struct TConvolverSet;

// The convolver stage: up to two impulse responses, each taking one input channel
// and mixing its convolution, at its level, into one output channel, beside or
// instead of the dry signal. Both share one FIR, one channel per active convolver.
// The dry path is delayed as the FIR delays the wet one, and both lead-ins are
// dropped, so the two stay in step and the stage adds no delay. The responses are
// copied in at creation; later edits of them need a new stage, while levels and the
// dry/wet switches glide to new values in the running one.
class TConvFilter : public TFilterStage {
public:
    TConvFilter(int channels, bool secondFIFO, int rate, int capacity, const TConvolverSet& setting);
    ~TConvFilter() override;
    void Process(TMChFIFO& in, TMChFIFO& out, int count) override;

    // Levels and dry/wet switches of `setting` (whose responses are this stage's), in a
    // glide of 10 ms.
    void SetMix(const TConvolverSet& setting);
    // Input samples the stage holds before they come out: its FIR's delay.
    int Latency() const { return Lead; }

    // Zeroes what precedes the direct sound: everything before the last sign change
    // found going back from sample min(128, n − 1).
    static void CutDirectSound(double* ir, int n);

    int Rate;
    int Count = 0;
    int MaxLen = 0;
    std::array<int, 2> Items{0, 0};
    int Skip = 0;
    std::unique_ptr<TMChFIFO> DryFIFO;
    std::unique_ptr<TMChFIFO> WetInFIFO;
    std::unique_ptr<TFIRFilter> FIR;

private:
    void Feed(TMChFIFO& in, int count, int m);
    void Mix(TMChFIFO& out, int count, int m);
    void AddWet(TFIFO& wet, TGainRamp& gain, double* y, int n);
    void InstallTaps(const TConvolverSet& setting);
    double WetGain(const TConvolverSet& setting, int j) const;

    static constexpr int kChunk = 4096;
    static constexpr int kInFlight = 4 * kChunk;
    int Lead = 0;
    int FadeFrames;
    std::array<int, 2> InCh{0, 0}, OutCh{0, 0};
    // Per output channel the dry path's gain, per convolver its wet gain (level × switch).
    std::array<TGainRamp, 16> DryGain;
    std::array<TGainRamp, 2> Gain;
    AlignedArray<double> Samples;
    AlignedArray<double> Wet;
};

} // namespace marlix
