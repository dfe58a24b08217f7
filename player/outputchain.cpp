#include "player/outputchain.h"

#include "base/boundedwait.h"
#include "base/mainthread.h"
#include "dsp/pluginhost.h"
#include "engine/decoder.h"
#include "engine/filterthread.h"
#include "player/playerstate.h"
#include "settings/settings.h"

#include <cmath>

namespace marlix {

TOutputChain::TOutputChain(TSettings& settings, TPlayerState& state, TFo_Decoder& decoder)
    : Config(settings), State(state), Decoder(decoder), Spectrum(&TMainThread::Instance()), Stage(settings, Controls())
{
}

TOutputChain::~TOutputChain()
{
    Stop();
}

// The plan the settings would give if the device's rate were the only one allowed.
TRatePlan TOutputChain::PlanForDevice(int sourceRate, int deviceRate) const
{
    TSettingOutput only = Config.Output;
    only.bFreq.fill(false);
    TSettingReSampler resampler = Config.ReSampler;
    resampler.bFixFreq = false;
    for (size_t i = 0; i < RateTable.size(); ++i)
        if (RateTable[i] == deviceRate)
            only.bFreq[i] = true;
    TRatePlan plan = ChooseOutputRate(resampler, only, sourceRate);
    if (plan.OutRate != deviceRate) { // a rate outside the table
        plan = TRatePlan{};
        plan.OutRate = deviceRate;
        plan.DownConversion = deviceRate < sourceRate;
        plan.Fractional = deviceRate != sourceRate;
    }
    return plan;
}

TOutputControls TOutputChain::Controls()
{
    TOutputControls c;
    c.MasterVolume = &State.MasterVolume;
    c.AVC = &State.AVC;
    c.HSC = &State.HSC;
    c.HSCWetOnly = &HSCWetOnly;
    c.BGMActive = &State.BGMActive;
    c.EndOfList = &State.EndOfList;
    c.Finished = &Decoder.Finished;
    c.TailActive = &Decoder.TailActive;
    c.TrackLengthMs = &Decoder.LengthMs;
    c.Spectrum = &Spectrum;
    return c;
}

bool TOutputChain::Start(bool ownThread, int channels, int deviceRate)
{
    const int rate = static_cast<int>(Decoder.Format.nSamplesPerSec);
    if (Running() || rate <= 0)
        return false;
    RatePlan = ChooseOutputRate(Config.ReSampler, Config.Output, rate);
    if (deviceRate > 0 && deviceRate != RatePlan.OutRate)
        RatePlan = PlanForDevice(rate, deviceRate);
    SourceRate = rate;
    const double seconds = Decoder.BufferSec.load();
    const int capacity = static_cast<int>(std::lround(seconds * 2 * rate * RatePlan.UpFactor));
    TChainSwitches switches{&State.EQ, &State.EFX, &State.Convolver, &State.Matrix, &State.Paused, &EQChanged};
    Chain = std::make_unique<TFilterThread>(channels, capacity, Decoder.FIFO, Config, switches);
    Chain->UpFactor = RatePlan.UpFactor;
    Chain->InRate = rate;
    Chain->OutRate = RatePlan.OutRate;
    Chain->UpTaps = Config.ReSampler.nITaps;
    Chain->UpWindow = Config.ReSampler.IWindow;
    Chain->BufferSec = seconds;
    Chain->Plugins = dynamic_cast<TPluginHost*>(Config.EFX.Host());
    Live.PublishAll(Config);
    Chain->Live = &Live;
    Chain->OutFIFO->Reset();
    Stage.Start(Chain.get(), RatePlan.OutRate, Config.Filter.HSCMode);
    if (ownThread)
        Chain->Resume();
    else
        Chain->Setup();
    Chain->Run();
    return true;
}

void TOutputChain::Stop()
{
    if (!Chain)
        return;
    Chain->Halt();
    Stage.Stop();
    if (!Chain->Terminate()) {
        // Still inside a stage (a plug-in that does not return): it keeps what it uses.
        Chain->Abandon();
        LeaveBehind(Chain.release());
        return;
    }
    if (!Chain->Idle.load())
        Chain->Teardown();
    Chain.reset();
}

} // namespace marlix
