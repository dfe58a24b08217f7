#include "dsp/matrixfilter.h"


#include <algorithm>
#include <cmath>

namespace marlix {

TMatrixFilter::TMatrixFilter(int channels, bool secondFIFO, int rate, int capacity, const TMatrixRouting& routing,
                             bool fromIdentity)
    : TFilterStage(channels, secondFIFO, capacity), Rate(rate), Routing(&routing),
      FadeFrames(static_cast<int>(std::lround(rate * 0.01)))
{
    for (int c = 0; c < TMChFIFO::MaxChannels; ++c) {
        Input.emplace_back(kChunk);
        Sum.emplace_back(kChunk);
    }
    for (int j = 0; j < 2; ++j)
        for (int k = 0; k < 2; ++k)
            Gains[j][k].Jump(fromIdentity && j == k ? 1.0 : 0.0);
    AimGains(fromIdentity);
}

// Each gain heads for the routing's value, or for the pass-through once leaving.
void TMatrixFilter::AimGains(bool glide)
{
    for (int j = 0; j < 2; ++j) {
        for (int k = 0; k < 2; ++k) {
            double gain = Leaving ? (j == k ? 1.0 : 0.0) : 0.0;
            if (!Leaving && Routing->bONOFF[j][k]) {
                gain = std::exp2(Routing->fLevel[j][k] / 60.0);
                if (Routing->bInv[j][k])
                    gain = -gain;
            }
            Gains[j][k].Set(gain, glide ? FadeFrames : 0);
        }
    }
}

bool TMatrixFilter::AtIdentity() const
{
    for (int j = 0; j < 2; ++j)
        for (int k = 0; k < 2; ++k)
            if (Gains[j][k].Moving() || Gains[j][k].Value() != (j == k ? 1.0 : 0.0))
                return false;
    return true;
}

void TMatrixFilter::Process(TMChFIFO& in, TMChFIFO& out, int count)
{
    AimGains(true);
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
            Gains[j][k].AddScaled(Input[j].data(), Sum[k].data(), count);
        }
    }
    for (int k = 0; k < out.Channels; ++k)
        out.FIFOs[k]->Write(Sum[k].data(), count);
}

} // namespace marlix
