#pragma once
#include "dsp/filterstage.h"
#include "base/alignedarray.h"

#include <array>
#include <memory>

namespace marlix {

class TFIRFilter;
struct TConvolverSet;

// The convolver stage: up to two impulse responses, each taking one input channel
// and mixing its convolution, at its level, into one output channel, beside or
// instead of the dry signal. Both share one FIR, one channel per active convolver.
// The responses are copied in at creation; later edits need a new stage.
class TConvFilter : public TFilterStage {
public:
    TConvFilter(int channels, bool secondFIFO, int rate, int capacity, const TConvolverSet& setting);
    ~TConvFilter() override;
    void Process(TMChFIFO& in, TMChFIFO& out, int count) override;

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
    void AddWet(TFIFO& wet, double gain, double* y, int n);
    void InstallTaps(const TConvolverSet& setting);

    static constexpr int kChunk = 4096;
    static constexpr int kInFlight = 4 * kChunk;
    int DryWet;
    std::array<int, 2> InCh{0, 0}, OutCh{0, 0};
    std::array<double, 2> Gain{0, 0};
    AlignedArray<double> Samples;
    AlignedArray<double> Wet;
};

} // namespace marlix
