#pragma once
#include "base/snapshot.h"
#include "dsp/filterstage.h"
#include "settings/settingeq.h"

#include <memory>

namespace marlix {

class TEQDesigner;
class TFIRFilter;

// The equaliser stage: its FIR filter, and the designer that gives it new taps from the
// newest curves, which the FIR glides to over 20 ms. The first taps are designed in the
// constructor.
class TEQStage : public TFilterStage {
public:
    TEQStage(int channels, int rate, int capacity, int taps, const TSnapshot<TEQCurves>& curves);
    ~TEQStage() override;
    void Process(TMChFIFO& in, TMChFIFO& out, int count) override;

    TFIRFilter& FIR() const { return *Filter; }
    TEQDesigner& Designer() const { return *Design; }
    // Input samples held before a sample comes out at the taps' centre: the FIR's delay
    // plus half the taps. An equaliser switched in while playing drops that many first
    // outputs, so it lines up with the signal it takes over from.
    int Latency() const;

private:
    int Taps;
    std::unique_ptr<TFIRFilter> Filter;
    std::unique_ptr<TEQDesigner> Design; // refers to Filter: freed first
};

} // namespace marlix
