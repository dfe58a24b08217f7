#include "player/outputchain.h"

#include "base/mainthread.h"
#include "dsp/pluginhost.h"
#include "engine/decoder.h"
#include "engine/filterthread.h"
#include "player/playerstate.h"
#include "settings/settings.h"

#include <cmath>

namespace marlix {

TOutputChain::TOutputChain(TSettings& settings, TPlayerState& state, TFo_Decoder& decoder)
    : Settings_(settings), State(state), Decoder(decoder), Spectrum(&TMainThread::Instance()), Stage(settings, Controls())
{
}

TOutputChain::~TOutputChain()
{
    Stop();
}

// The plan the settings would give if the device's rate were the only one allowed.
TRatePlan TOutputChain::PlanForDevice(int sourceRate, int deviceRate) const
{
    TSettingOutput only = Settings_.Output;
    only.bFreq.fill(false);
    TSettingReSampler resampler = Settings_.ReSampler;
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
    Plan_ = ChooseOutputRate(Settings_.ReSampler, Settings_.Output, rate);
    if (deviceRate > 0 && deviceRate != Plan_.OutRate)
        Plan_ = PlanForDevice(rate, deviceRate);
    InRate_ = rate;
    const double seconds = Decoder.BufferSec.load();
    const int capacity = static_cast<int>(std::lround(seconds * 2 * rate * Plan_.UpFactor));
    TChainSwitches switches{&State.EQ, &State.EFX, &State.Convolver, &State.Matrix, &State.Paused, &EQChanged};
    Filter_ = std::make_unique<TFilterThread>(channels, capacity, Decoder.FIFO, Settings_, switches);
    Filter_->UpFactor = Plan_.UpFactor;
    Filter_->InRate = rate;
    Filter_->OutRate = Plan_.OutRate;
    Filter_->UpTaps = Settings_.ReSampler.nITaps;
    Filter_->UpWindow = Settings_.ReSampler.IWindow;
    Filter_->BufferSec = seconds;
    Filter_->Plugins = dynamic_cast<TPluginHost*>(Settings_.EFX.Host());
    Live.PublishAll(Settings_);
    Filter_->Live = &Live;
    Filter_->OutFIFO->Reset();
    Stage.Start(Filter_.get(), Plan_.OutRate, Settings_.Filter.HSCMode);
    if (ownThread)
        Filter_->Resume();
    else
        Filter_->Setup();
    Filter_->Run();
    return true;
}

void TOutputChain::Stop()
{
    if (!Filter_)
        return;
    Filter_->Halt();
    Stage.Stop();
    Filter_->Terminate();
    if (!Filter_->Idle.load())
        Filter_->Teardown();
    Filter_.reset();
}

} // namespace marlix
