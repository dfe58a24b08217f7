#pragma once
#include "engine/outputstage.h"
#include "settings/livesettings.h"
#include "settings/outputrate.h"

#include <atomic>
#include <memory>

namespace marlix {

class TFilterThread;
class TFo_Decoder;
class TPlayerState;
class TSettings;

// The chain between decoder and device: the rate plan, the filter thread and the
// output render stage, started for the decoder's current rate and stopped again.
// The device itself (wave output or pro-audio host) is the caller's.
class TOutputChain {
    // Declared first: the render stage's controls point into them.
    TSettings& Config;
    TPlayerState& State;
    TFo_Decoder& Decoder;

public:
    TOutputChain(TSettings& settings, TPlayerState& state, TFo_Decoder& decoder);
    ~TOutputChain();
    TOutputChain(const TOutputChain&) = delete;
    TOutputChain& operator=(const TOutputChain&) = delete;

    // Plans the rates for the decoder's rate, creates the filter thread and readies the
    // render stage. With `ownThread` the filter thread runs by itself every 10 ms;
    // otherwise the caller clocks Filter().Step(). False when the decoder has no rate.
    // A positive `deviceRate` is a device that keeps its own rate: the chain is planned
    // for it, so nothing plays at the wrong speed.
    bool Start(bool ownThread, int channels = 2, int deviceRate = 0);
    void Stop();
    bool Running() const { return Chain != nullptr; }

    TFilterThread& Filter() { return *Chain; }
    int InRate() const { return SourceRate; }
    const TRatePlan& Plan() const { return RatePlan; }

    // What editors publish while the chain runs (EQ curves, responses, matrix); Start
    // publishes the records' values first. The filter thread picks up new versions itself.
    TLiveSettings Live;
    // Asks the filter thread for an EQ redesign from the newest published curves.
    std::atomic<bool> EQChanged{false};
    // The HSC stage outputs only what it synthesises.
    std::atomic<bool> HSCWetOnly{false};
    TOutputStage Stage;

private:
    TOutputControls Controls();
    TRatePlan PlanForDevice(int sourceRate, int deviceRate) const;

    std::unique_ptr<TFilterThread> Chain;
    TRatePlan RatePlan;
    int SourceRate = 0;
};

} // namespace marlix
