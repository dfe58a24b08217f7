#include "dsp/filterstage.h"

namespace marlix {

TFilterStage::TFilterStage(int channels, bool secondFIFO, int capacity)
    : OutFIFO(std::make_unique<TMChFIFO>(channels, capacity))
{
    OutFIFO->Reset();
    if (secondFIFO) {
        OutFIFO2 = std::make_unique<TMChFIFO>(channels, capacity);
        OutFIFO2->Reset();
    }
}

} // namespace marlix
