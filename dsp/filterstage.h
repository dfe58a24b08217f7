#pragma once
#include "base/fifo.h"

#include <memory>

namespace marlix {

// A pipeline stage: drains an input FIFO and fills an output FIFO (normally its own
// `OutFIFO`, which the next stage reads).
class TFilterStage {
public:
    TFilterStage(int channels, bool secondFIFO, int capacity);
    virtual ~TFilterStage() = default;
    TFilterStage(const TFilterStage&) = delete;
    TFilterStage& operator=(const TFilterStage&) = delete;

    virtual void Process(TMChFIFO& in, TMChFIFO& out, int count) = 0;

    std::unique_ptr<TMChFIFO> OutFIFO;
    std::unique_ptr<TMChFIFO> OutFIFO2; // same shape; created only on request
};

} // namespace marlix
