#pragma once
#include "dsp/filterstage.h"
#include "dsp/matrixrouting.h"
#include "base/alignedarray.h"

#include <vector>

namespace marlix {


// The 2 × 2 channel matrix: output k is the sum of the inputs j routed to it, each
// with its own switch, gain and polarity. The routing is read on every call, so
// edits apply at once. Channels beyond the table pass through unchanged.
class TMatrixFilter : public TFilterStage {
public:
    TMatrixFilter(int channels, bool secondFIFO, int rate, int capacity, const TMatrixRouting& routing);
    void Process(TMChFIFO& in, TMChFIFO& out, int count) override;
    // Reads `routing` from the next call on (the caller keeps it alive).
    void SetRouting(const TMatrixRouting& routing) { Routing = &routing; }

    int Rate;

private:
    void ProcessChunk(TMChFIFO& in, TMChFIFO& out, int count, int m);

    static constexpr int kChunk = 4096;
    const TMatrixRouting* Routing;
    std::vector<AlignedArray<double>> Input;
    std::vector<AlignedArray<double>> Sum;
};

} // namespace marlix
