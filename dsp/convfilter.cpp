#include "dsp/convfilter.h"

#include "dsp/firfilter.h"
#include "base/flexbuf.h"
#include "dsp/convolverset.h"

#include <algorithm>
#include <cmath>

namespace marlix {

TConvFilter::TConvFilter(int channels, bool secondFIFO, int rate, int capacity, const TConvolverSet& setting)
    : TFilterStage(channels, secondFIFO, capacity), Rate(rate), FadeFrames(static_cast<int>(std::lround(rate * 0.01))),
      Samples(kChunk), Wet(kChunk)
{
    for (int i = 0; i < 2; ++i) {
        const TConvolverEntry& c = setting.Conv[i];
        const bool inRange = c.InCh >= 0 && c.InCh < channels && c.OutCh >= 0 && c.OutCh < channels;
        if (!c.HasIR || !c.On || !inRange || c.IR.empty())
            continue;
        Items[Count] = i;
        InCh[Count] = c.InCh;
        OutCh[Count] = c.OutCh;
        MaxLen = std::max(MaxLen, static_cast<int>(c.IR.size()));
        ++Count;
    }
    for (int j = 0; j < Count; ++j)
        Gain[j].Jump(WetGain(setting, j));
    for (auto& g : DryGain)
        g.Jump(setting.DryWet & 1 ? 1.0 : 0.0);
    // The inner rings hold a few chunks in flight, not the stage's whole capacity: small
    // rings stay in the cache, and the samples pass through them in step anyway.
    const int inner = std::min(capacity, kInFlight);
    if (Count > 0) {
        const bool threaded = static_cast<double>(MaxLen) / rate > 0.1;
        FIR = std::make_unique<TFIRFilter>(Count, false, threaded, inner, MaxLen);
        FIR->SetResponseLength(MaxLen);
        InstallTaps(setting);
        WetInFIFO = std::make_unique<TMChFIFO>(Count, inner);
    }
    // The FIR's output lags by twice its block size: the dry line lags as much, and the
    // lead-in of both is dropped.
    Lead = FIR ? 2 * FIR->BlockSize : 0;
    DryFIFO = std::make_unique<TMChFIFO>(channels, inner + Lead);
    for (int c = 0; c < channels; ++c)
        DryFIFO->FIFOs[c]->WriteZeros(Lead);
    Skip = Lead;
}

double TConvFilter::WetGain(const TConvolverSet& setting, int j) const
{
    return setting.DryWet & 2 ? std::exp2(setting.Conv[Items[j]].Level / 6.0) : 0.0;
}

void TConvFilter::SetMix(const TConvolverSet& setting)
{
    for (int j = 0; j < Count; ++j)
        Gain[j].Set(WetGain(setting, j), FadeFrames);
    for (auto& g : DryGain)
        g.Set(setting.DryWet & 1 ? 1.0 : 0.0, FadeFrames);
}

TConvFilter::~TConvFilter() = default;

void TConvFilter::CutDirectSound(double* ir, int n)
{
    if (n <= 0)
        return;
    auto sign = [](double v) { return (v > 0) - (v < 0); };
    const int a = std::min(128, n - 1);
    const int s = sign(ir[a]);
    int j0 = a - 1;
    while (j0 >= 0 && sign(ir[j0]) == s)
        --j0;
    if (j0 > 0)
        std::fill(ir, ir + j0, 0.0);
}

void TConvFilter::InstallTaps(const TConvolverSet& setting)
{
    std::vector<TFlexBuf> blocks(static_cast<size_t>(Count));
    std::vector<TFlexBuf*> each;
    for (int j = 0; j < Count; ++j) {
        const TConvolverEntry& c = setting.Conv[Items[j]];
        TFlexBuf& block = blocks[static_cast<size_t>(j)];
        block.SetBuf(nullptr, 1, 65, MaxLen);
        double* taps = static_cast<double*>(block.Data[0]);
        std::copy(c.IR.begin(), c.IR.end(), taps);
        if (c.CutDS)
            CutDirectSound(taps, static_cast<int>(c.IR.size()));
        each.push_back(&block);
    }
    FIR->SetTaps(each);
}

void TConvFilter::Process(TMChFIFO& in, TMChFIFO& out, int count)
{
    const int m = std::max(in.Channels, out.Channels);
    count = std::min({count, in.Available(), DryFIFO->Free()});
    if (WetInFIFO)
        count = std::min(count, WetInFIFO->Free());
    count = std::max(count, 0);
    for (int done = 0; done < count; done += kChunk)
        Feed(in, std::min(kChunk, count - done), m);

    if (FIR) {
        FIR->Process(*WetInFIFO, *FIR->OutFIFO, std::min(WetInFIFO->Available(), FIR->OutFIFO->Free()));
        count = FIR->OutFIFO->Available();
    }
    count = std::min(count, DryFIFO->Available());
    if (Skip > 0 && count > 0) {
        const int s = std::min(Skip, count);
        for (int c = 0; c < DryFIFO->Channels; ++c)
            DryFIFO->FIFOs[c]->Skip(s);
        for (int j = 0; j < Count; ++j)
            FIR->OutFIFO->FIFOs[j]->Skip(s);
        Skip -= s;
        count -= s;
    }
    count = std::min(count, out.Free());
    for (int done = 0; done < count; done += kChunk)
        Mix(out, std::min(kChunk, count - done), m);
}

// Appends input to the dry line and to the FIR input of every convolver it feeds,
// straight from the input ring where it can be seen in place.
void TConvFilter::Feed(TMChFIFO& in, int count, int m)
{
    for (int i = 0; i < m; ++i) {
        TFIFO::TView v{{std::span<const double>(Samples.data(), static_cast<size_t>(count)), {}}, false};
        if (i < in.Channels)
            v = in.FIFOs[i]->PeekOrRead(count, Samples.data());
        else
            std::fill_n(Samples.data(), count, 0.0);
        for (const auto& part : v.Parts) {
            const auto n = static_cast<int32_t>(part.size());
            if (i < DryFIFO->Channels)
                DryFIFO->FIFOs[i]->Write(part.data(), n);
            for (int j = 0; j < Count; ++j)
                if (InCh[j] == i)
                    WetInFIFO->FIFOs[j]->Write(part.data(), n);
        }
        if (v.InPlace)
            in.FIFOs[i]->Skip(count);
    }
}

// Dry signal (or silence) plus every convolver aimed at the channel, in step, summed
// straight into the output ring.
void TConvFilter::Mix(TMChFIFO& out, int count, int m)
{
    for (int i = 0; i < m; ++i) {
        std::array<std::span<double>, 2> target{};
        if (i < out.Channels)
            target = out.FIFOs[i]->Reserve(count);
        else
            target = {std::span<double>(Samples.data(), static_cast<size_t>(count)), {}};
        for (const auto& part : target) {
            const auto n = static_cast<int32_t>(part.size());
            if (n == 0)
                continue;
            double* y = part.data();
            if (i < DryFIFO->Channels)
                DryFIFO->FIFOs[i]->Read(y, n);
            TGainRamp& dry = DryGain[static_cast<size_t>(std::min(i, 15))];
            if (i >= DryFIFO->Channels || (dry.Value() == 0 && !dry.Moving()))
                std::fill_n(y, n, 0.0);
            else
                dry.Apply(y, n);
            for (int j = 0; j < Count; ++j)
                if (OutCh[j] == i)
                    AddWet(*FIR->OutFIFO->FIFOs[j], Gain[j], y, n);
        }
        if (i < out.Channels)
            out.FIFOs[i]->Commit(count);
    }
}

// y += gain · wet for the next n samples of a convolver's output (consumed even when
// the wet signal is switched off).
void TConvFilter::AddWet(TFIFO& wet, TGainRamp& gain, double* y, int n)
{
    const TFIFO::TView v = wet.PeekOrRead(n, Wet.data());
    for (const auto& part : v.Parts) {
        gain.AddScaled(part.data(), y, static_cast<int>(part.size()));
        y += part.size();
    }
    if (v.InPlace)
        wet.Skip(n);
}

} // namespace marlix
