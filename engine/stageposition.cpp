#include "engine/stageposition.h"

#include "dsp/gainramp.h"

#include <algorithm>
#include <cmath>

namespace marlix {

TStagePosition::TStagePosition(int channels, int rate, int capacity)
    : Channels(channels), FadeFrames(std::max(1, static_cast<int>(std::lround(rate * 0.01)))),
      Mix(channels, std::max(capacity, 2 * FadeFrames)), Feed(channels, kChunk), Scratch(kChunk)
{
    Mix.State.store(2);
    Feed.State.store(2);
}

TStagePosition::~TStagePosition() = default;

void TStagePosition::Install(std::unique_ptr<TFilterStage> stage, int drain)
{
    Current = std::move(stage);
    Drain = drain;
}

void TStagePosition::Clear()
{
    Next.reset();
    Current.reset();
    Hold.reset();
    Phase = TPhase::Steady;
}

void TStagePosition::Replace(std::unique_ptr<TFilterStage> next, int leadIn, int drain)
{
    if (Changing())
        return;
    Next = std::move(next);
    NextLeadIn = std::max(leadIn, 0);
    NextDrain = std::max(drain, 0);
    Copied = Fed = 0;
    Rising = false;
    if (Current) {
        // What the stage holds comes out first: fed on with as much further input, of
        // which the part it will not send out before the swap is kept for the other side.
        const int queued = Current->OutFIFO->Available();
        ToFeed = std::max(Drain, FadeFrames - queued);
        HoldFrom = ToFeed - Drain;
        Total = queued + ToFeed;
        if (Drain > 0) {
            Hold = std::make_unique<TMChFIFO>(Channels, Drain);
            Hold->State.store(2);
        }
    } else {
        ToFeed = 0;
        Total = FadeFrames;
    }
    Phase = TPhase::FadeOut;
}

double TStagePosition::Held() const
{
    double held = Mix.FIFOs[0]->Stored() + Feed.FIFOs[0]->Stored();
    if (Hold)
        held += Hold->FIFOs[0]->Stored();
    if (Current)
        held += Drain + Current->OutFIFO->FIFOs[0]->Stored();
    return held;
}

TMChFIFO& TStagePosition::Run(TMChFIFO& in, int n)
{
    if (Phase == TPhase::Through && Mix.Available() == 0 && (!Hold || Hold->Available() == 0)) {
        Hold.reset();
        Phase = TPhase::Steady;
    }
    if (Phase == TPhase::Steady)
        return RunSteady(in, n);
    // Each phase may finish within this call and leave the rest of the budget to the next.
    for (TPhase last = TPhase::Steady; Phase != last && Phase != TPhase::Steady;) {
        last = Phase;
        const int32_t mark = in.FIFOs[0]->ReadIndex.load(std::memory_order_relaxed);
        switch (Phase) {
        case TPhase::FadeOut: FadeOut(in, n); break;
        case TPhase::Prime: Prime(in, n); break;
        case TPhase::FadeIn: FadeIn(in, n); break;
        default: Through(in, n); break;
        }
        const int32_t size = in.FIFOs[0]->BufSize;
        n -= (in.FIFOs[0]->ReadIndex.load(std::memory_order_relaxed) - mark + size) % size;
        n = std::max(n, 0);
    }
    return Mix;
}

TMChFIFO& TStagePosition::RunSteady(TMChFIFO& in, int n)
{
    if (!Current)
        return in;
    Current->Process(in, *Current->OutFIFO, n);
    return *Current->OutFIFO;
}

// The outgoing signal: a stage's remaining output, or the input itself, its last
// FadeFrames fading out.
void TStagePosition::FadeOut(TMChFIFO& in, int n)
{
    if (Current) {
        DrainFeed(in, n);
        Current->Process(Feed, *Current->OutFIFO, Feed.Available());
        const int k = std::min({Total - Copied, Current->OutFIFO->Available(), Mix.Free()});
        Copied += Copy(*Current->OutFIFO, Mix, k, Copied);
    } else {
        const int k = std::min({Total - Copied, n, in.Available(), Mix.Free()});
        Copied += Copy(in, Mix, k, Copied);
    }
    if (Copied == Total)
        Swap();
}

// Input for the outgoing stage: up to `n` frames more of what it is still owed, the
// part past HoldFrom copied aside for the incoming side.
void TStagePosition::DrainFeed(TMChFIFO& in, int n)
{
    const int k = std::min({ToFeed, n, in.Available(), Feed.Free()});
    if (k <= 0)
        return;
    Copy(in, Feed, k, -1, Hold.get(), HoldFrom - Fed);
    Fed += k;
    ToFeed -= k;
}

void TStagePosition::Swap()
{
    Current = std::move(Next);
    Drain = NextDrain;
    Copied = 0;
    Rising = true;
    Total = FadeFrames;
    LeadLeft = NextLeadIn;
    FedNew = 0;
    Phase = Current ? TPhase::Prime : TPhase::FadeIn;
}

// The incoming stage takes input from the swap on; its lead-in is dropped.
void TStagePosition::Prime(TMChFIFO& in, int n)
{
    FeedStage(in, n);
    TMChFIFO& out = *Current->OutFIFO;
    const int k = std::min(LeadLeft, out.Available());
    for (int c = 0; c < out.Channels; ++c)
        out.FIFOs[c]->Skip(k);
    LeadLeft -= k;
    if (LeadLeft == 0)
        Phase = TPhase::FadeIn;
}

void TStagePosition::FadeIn(TMChFIFO& in, int n)
{
    if (Current) {
        FeedStage(in, n);
        const int k = std::min({Total - Copied, Current->OutFIFO->Available(), Mix.Free()});
        Copied += Copy(*Current->OutFIFO, Mix, k, Copied);
    } else {
        Copied += BypassCopy(in, std::min(n, Total - Copied), Copied);
    }
    if (Copied == Total)
        Phase = TPhase::Through;
}

// After the fade-in, until what waits in the mix and the held input has gone out.
void TStagePosition::Through(TMChFIFO& in, int n)
{
    if (Current) {
        FeedStage(in, n);
        Copy(*Current->OutFIFO, Mix, std::min(Current->OutFIFO->Available(), Mix.Free()), -1);
    } else {
        BypassCopy(in, n, -1);
    }
}

// Feeds the current stage the held input first, then up to `n` frames of `in`; the
// first FadeFrames after the swap go through Feed, rising.
void TStagePosition::FeedStage(TMChFIFO& in, int n)
{
    while (FedNew < FadeFrames && Feed.Free() > 0) {
        TMChFIFO& from = Hold && Hold->Available() > 0 ? *Hold : in;
        const int limit = &from == &in ? n : from.Available();
        const int k = std::min({FadeFrames - FedNew, limit, from.Available(), Feed.Free()});
        if (k <= 0)
            break;
        Copy(from, Feed, k, FedNew);
        FedNew += k;
        if (&from == &in)
            n -= k;
    }
    if (Feed.Available() > 0) {
        Current->Process(Feed, *Current->OutFIFO, Feed.Available());
        if (Feed.Available() > 0 || FedNew < FadeFrames)
            return;
    }
    if (Hold && Hold->Available() > 0) {
        Current->Process(*Hold, *Current->OutFIFO, Hold->Available());
        if (Hold->Available() > 0)
            return;
    }
    Current->Process(in, *Current->OutFIFO, std::min(n, in.Available()));
}

// The input itself into the mix: the held input first, then up to `n` frames of `in`.
int TStagePosition::BypassCopy(TMChFIFO& in, int n, int fadeFrom)
{
    int done = 0;
    if (Hold && Hold->Available() > 0) {
        const int k = std::min({n, Hold->Available(), Mix.Free()});
        done += Copy(*Hold, Mix, k, fadeFrom);
        if (Hold->Available() > 0)
            return done;
    }
    const int k = std::min({n - done, in.Available(), Mix.Free()});
    done += Copy(in, Mix, k, fadeFrom < 0 ? -1 : fadeFrom + done);
    return done;
}

double TStagePosition::GainAt(int index, int fadeFrom) const
{
    if (fadeFrom < 0)
        return 1.0;
    if (Rising)
        return RiseGain(index, FadeFrames);
    return 1.0 - RiseGain(index - (Total - FadeFrames), FadeFrames);
}

// Moves `count` frames from `from` to `to`, sample index fadeFrom + i taking the
// phase's gain (−1: unchanged); with `hold`, the frames from index holdFrom on are also
// written there. Channels `to` lacks are dropped, channels `from` lacks get zeros.
int TStagePosition::Copy(TMChFIFO& from, TMChFIFO& to, int count, int fadeFrom, TMChFIFO* hold, int holdFrom)
{
    double* x = Scratch.data();
    for (int done = 0; done < count;) {
        const int k = std::min(kChunk, count - done);
        for (int c = 0; c < std::max(from.Channels, to.Channels); ++c) {
            if (c >= to.Channels) {
                from.FIFOs[c]->Skip(k);
                continue;
            }
            if (c < from.Channels)
                from.FIFOs[c]->Read(x, k);
            else
                std::fill_n(x, k, 0.0);
            if (fadeFrom >= 0)
                for (int i = 0; i < k; ++i)
                    x[i] *= GainAt(fadeFrom + done + i, fadeFrom);
            to.FIFOs[c]->Write(x, k);
            const int skip = std::clamp(holdFrom - done, 0, k);
            if (hold && skip < k)
                hold->FIFOs[c]->Write(x + skip, k - skip);
        }
        done += k;
    }
    return count;
}

} // namespace marlix
