#include "dsp/matrixfilter.h"


#include <algorithm>
#include <cmath>

namespace marlix {

TMatrixFilter::TMatrixFilter(int channels, bool secondFIFO, int rate, int capacity, const TMatrixRouting& routing)
    : TFilterStage(channels, secondFIFO, capacity), Rate(rate), Routing(&routing)
{
    for (int c = 0; c < TMChFIFO::MaxChannels; ++c) {
        Input.emplace_back(kChunk);
        Sum.emplace_back(kChunk);
    }
}

void TMatrixFilter::Process(TMChFIFO& in, TMChFIFO& out, int count)
{
    count = std::min({count, in.Available(), out.Free()});
    const int m = std::max(in.Channels, out.Channels);
    while (count > 0) {
        const int d = std::min(count, kChunk);
        ProcessChunk(in, out, d, m);
        count -= d;
    }
}

void TMatrixFilter::ProcessChunk(TMChFIFO& in, TMChFIFO& out, int count, int m)
{
    for (int j = 0; j < m; ++j) {
        if (j < in.Channels)
            in.FIFOs[j]->Read(Input[j].data(), count);
        else
            std::fill_n(Input[j].data(), count, 0.0);
        // Beyond the 2 × 2 table a channel passes unchanged.
        if (j >= 2)
            std::copy_n(Input[j].data(), count, Sum[j].data());
        else
            std::fill_n(Sum[j].data(), count, 0.0);
    }
    for (int j = 0; j < std::min(m, 2); ++j) {
        for (int k = 0; k < std::min(m, 2); ++k) {
            if (!Routing->bONOFF[j][k])
                continue;
            double gain = std::exp2(Routing->fLevel[j][k] / 60.0);
            if (Routing->bInv[j][k])
                gain = -gain;
            const double* x = Input[j].data();
            double* y = Sum[k].data();
            for (int i = 0; i < count; ++i)
                y[i] += gain * x[i];
        }
    }
    for (int k = 0; k < out.Channels; ++k)
        out.FIFOs[k]->Write(Sum[k].data(), count);
}

} // namespace marlix
