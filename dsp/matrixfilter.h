#pragma once
#include "dsp/filterstage.h"
#include "dsp/gainramp.h"
#include "dsp/matrixrouting.h"
#include "base/alignedarray.h"

#include <vector>

namespace marlix {


// The 2 × 2 channel matrix: output k is the sum of the inputs j routed to it, each
// with its own switch, gain and polarity. The routing is read on every call; each
// gain glides to a new value over 10 ms, so an edit never clicks. Channels beyond the
// table pass through unchanged.
class TMatrixFilter : public TFilterStage {
public:
    // `fromIdentity`: the gains start as a plain pass-through and glide to the routing's,
    // for a stage switched on while audio runs.
    TMatrixFilter(int channels, bool secondFIFO, int rate, int capacity, const TMatrixRouting& routing,
                  bool fromIdentity = false);
    void Process(TMChFIFO& in, TMChFIFO& out, int count) override;
    // Reads `routing` from the next call on (the caller keeps it alive).
    void SetRouting(const TMatrixRouting& routing) { Routing = &routing; }
    // While leaving, the gains glide to a plain pass-through, for a stage switched off;
    // back to the routing when it is switched on again meanwhile.
    void SetLeaving(bool leaving) { Leaving = leaving; }
    bool IsLeaving() const { return Leaving; }
    // Whether the stage has reached that pass-through and may be removed.
    bool AtIdentity() const;

    int Rate;

private:
    void ProcessChunk(TMChFIFO& in, TMChFIFO& out, int count, int m);
    void AimGains(bool glide);

    static constexpr int kChunk = 4096;
    const TMatrixRouting* Routing;
    int FadeFrames;
    bool Leaving = false;
    TGainRamp Gains[2][2];
    std::vector<AlignedArray<double>> Input;
    std::vector<AlignedArray<double>> Sum;
};

} // namespace marlix
