#include "engine/eqstage.h"

#include "dsp/firfilter.h"
#include "engine/eqdesigner.h"

#include <algorithm>
#include <cmath>

namespace marlix {

TEQStage::TEQStage(int channels, int rate, int capacity, int taps, const TSnapshot<TEQCurves>& curves)
    : TFilterStage(channels, false, capacity), Taps(taps),
      // The output goes straight into this stage's FIFO: the FIR's own stays minimal.
      Filter(std::make_unique<TFIRFilter>(channels, false, static_cast<double>(taps) / rate > 0.1, 1, taps))
{
    Filter->SetCrossfade(static_cast<int>(std::lround(rate * 0.02)));
    Design = std::make_unique<TEQDesigner>(*Filter, curves, rate, taps);
}

TEQStage::~TEQStage() = default;

void TEQStage::Process(TMChFIFO& in, TMChFIFO& out, int count)
{
    Filter->Process(in, out, count);
}

int TEQStage::Latency() const
{
    return 2 * Filter->BlockSize + std::max(Taps - 1, 0) / 2;
}

} // namespace marlix
