#pragma once
#include "base/snapshot.h"
#include "dsp/convolverset.h"
#include "dsp/matrixrouting.h"
#include "settings/settingeq.h"

#include <atomic>
#include <cstdint>

namespace marlix {

class TSettings;

// The values the filter thread reads from containers, handed over as immutable
// versions: an editor changes the record on the main thread, then publishes it here;
// the pipeline takes the newest at its next step. The main thread is the only writer;
// each value has one reader (the EQ designer, the convolver and matrix stages of the
// filter thread).
class TLiveSettings {
public:
    TLiveSettings();

    void PublishEQ(const TSettingEQ& eq) { EQ.Publish(eq.Curves); }
    // A set whose responses differ from the newest also counts in ConvolverResponses, so
    // the pipeline can tell a new level or dry/wet mix from new responses.
    void PublishConvolver(const TConvolverSet& convolver);
    void PublishMatrix(const TMatrixRouting& matrix) { Matrix.Publish(matrix); }
    void PublishAll(const TSettings& settings);

    TSnapshot<TEQCurves> EQ;
    TSnapshot<TConvolverSet> Convolver;
    TSnapshot<TMatrixRouting> Matrix;
    std::atomic<uint64_t> ConvolverResponses{0};
};

} // namespace marlix
