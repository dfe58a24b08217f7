#pragma once
#include "base/alignedarray.h"
#include "base/fifo.h"
#include "dsp/filterstage.h"

#include <memory>

namespace marlix {

// One place in the chain where a stage may run: it passes its input on while empty,
// runs its stage while filled, and changes from one to the other while audio runs
// without a click or a lost sample. The outgoing signal fades out over 10 ms (a stage
// first gets enough further input to send out what it still holds), then the incoming
// one fades in over 10 ms from the first input sample after what the outgoing one sent.
// A new stage also gets its first 10 ms of input faded in, so what it makes of the
// start (an echo, a reverberation) starts softly too; its lead-in (its delay) is
// dropped. Runs on the filter thread only.
class TStagePosition {
public:
    TStagePosition(int channels, int rate, int capacity);
    ~TStagePosition();
    TStagePosition(const TStagePosition&) = delete;
    TStagePosition& operator=(const TStagePosition&) = delete;

    // Before any sample has passed: `stage` (or none) runs at once, without fades.
    // `drain` is how many input samples it holds before they come out.
    void Install(std::unique_ptr<TFilterStage> stage, int drain);
    // While audio runs: `next` (null: none) takes over from what runs now. Its first
    // `leadIn` outputs are dropped; `drain` as for Install. Only when not Changing.
    void Replace(std::unique_ptr<TFilterStage> next, int leadIn, int drain);
    // A change is under way (Replace's work not yet done).
    bool Changing() const { return Phase != TPhase::Steady; }
    // The stage that runs now (during a change, the outgoing one until it is swapped).
    TFilterStage* Stage() const { return Current.get(); }
    // Input frames the position wants beyond the chain's own need: a lead-in to drop.
    int Wanted() const { return Phase == TPhase::Prime ? LeadLeft : 0; }
    // Input frames of content the position holds that have not come out yet: what its
    // stage holds in itself and in its output, and what waits in the fades' FIFOs.
    double Held() const;
    // Takes up to `n` frames of `in`; returns the FIFO holding the position's output.
    TMChFIFO& Run(TMChFIFO& in, int n);
    // Frees the stages (teardown).
    void Clear();

private:
    enum class TPhase { Steady, FadeOut, Prime, FadeIn, Through };

    TMChFIFO& RunSteady(TMChFIFO& in, int n);
    void FadeOut(TMChFIFO& in, int n);
    void Swap();
    void Prime(TMChFIFO& in, int n);
    void FadeIn(TMChFIFO& in, int n);
    void Through(TMChFIFO& in, int n);
    void DrainFeed(TMChFIFO& in, int n);
    void FeedStage(TMChFIFO& in, int n);
    int BypassCopy(TMChFIFO& in, int n, int fadeFrom);
    int Copy(TMChFIFO& from, TMChFIFO& to, int count, int fadeFrom, TMChFIFO* hold = nullptr, int holdFrom = 0);
    double GainAt(int index, int fadeFrom) const;

    static constexpr int kChunk = 4096;
    int Channels;
    int FadeFrames;
    TPhase Phase = TPhase::Steady;
    std::unique_ptr<TFilterStage> Current, Next;
    int Drain = 0, NextDrain = 0, NextLeadIn = 0;
    // The position's output while changing, and the input the outgoing stage was given
    // but did not send out, which the incoming side takes first.
    TMChFIFO Mix;
    std::unique_ptr<TMChFIFO> Hold;
    TMChFIFO Feed;
    // Counts within the phase: outputs copied of Total (the fade covers the last
    // FadeFrames of a fade-out, the first of a fade-in), inputs still to feed, lead-in left.
    int Total = 0, Copied = 0, ToFeed = 0, Fed = 0, HoldFrom = 0, LeadLeft = 0, FedNew = 0;
    bool Rising = false;
    AlignedArray<double> Scratch;
};

} // namespace marlix
