#include "engine/filterthread.h"

#include "dsp/convfilter.h"
#include "dsp/efxfilter.h"
#include "dsp/firdesign.h"
#include "dsp/firfilter.h"
#include "dsp/matrixfilter.h"
#include "base/boundedwait.h"
#include "base/threadpriority.h"
#include "engine/eqdesigner.h"
#include "engine/eqstage.h"
#include "engine/stageposition.h"
#include "settings/settings.h"

#include <algorithm>
#include <chrono>
#include <cmath>

namespace marlix {
namespace {

template <class F> void IgnoringFailure(F f)
{
    try {
        f();
    } catch (const std::exception&) {
    }
}

} // namespace

TFilterThread::TFilterThread(int channels, int capacity, TMChFIFO& source, const TSettings& settings,
                             TChainSwitches switches)
    : OutFIFO(std::make_unique<TMChFIFO>(channels, capacity)), Channels(channels), Source(source), Config(settings),
      Switches(switches)
{
    OutFIFO->State.store(2);
}

// An owner that gave up on the thread has left this object behind; otherwise the
// thread is waited for here.
TFilterThread::~TFilterThread()
{
    Stop.store(true, std::memory_order_release);
    if (Thread.joinable())
        Thread.join();
}

int TFilterThread::Nearest(double x) const
{
    return static_cast<int>(std::lround(x));
}

void TFilterThread::Resume()
{
    if (Thread.joinable())
        return;
    Stop.store(false);
    Ended.store(false);
    Thread = std::thread([this] {
        RaiseNormalPriority();
        Setup();
        while (!Stop.load(std::memory_order_acquire)) {
            Step();
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        Teardown();
        Ended.store(true, std::memory_order_release);
    });
}

void TFilterThread::Halt()
{
    RunState.store(TRunState::Stopped, std::memory_order_release);
    OutFIFO->Reset();
}

void TFilterThread::Abandon()
{
    LeftBehind.store(true, std::memory_order_release);
    // The designer runs on a thread of its own and is not stuck: it stops reading the
    // curves now, before the next chain's designer starts to.
    if (TEQDesigner* designer = EQDesigner)
        designer->Quit();
}

bool TFilterThread::Terminate()
{
    Stop.store(true, std::memory_order_release);
    if (!Thread.joinable())
        return true;
    if (!WaitUntilDone([this] { return Ended.load(std::memory_order_acquire); }, StopTimeout)) {
        ReportAbandoned("the filter thread", StopTimeout);
        return false;
    }
    Thread.join();
    return true;
}

void TFilterThread::Setup()
{
    Busy.store(true);
    if (!Live) {
        OwnLive.PublishAll(Config);
        Live = &OwnLive;
    }
    const int capacity = StageCapacity();
    EFXPlace = std::make_unique<TStagePosition>(Channels, InRate, capacity);
    ConvPlace = std::make_unique<TStagePosition>(Channels, InRate, capacity);
    EQPlace = std::make_unique<TStagePosition>(Channels, InRate, capacity);
    Streaming = false;
    if (TChainSwitches::On(Switches.Convolver))
        StartConvolverBuild();
    if (TChainSwitches::On(Switches.EQ))
        StartEQBuild();
    Upsampling = UpFactor > 1 || InRate > OutRate;
    if (Upsampling)
        UpFilter = CreateInterpolationFilter(Channels, UpTaps, UpWindow, InRate, OutRate, UpFactor, BufferSec);
    SilenceFIFO = std::make_unique<TMChFIFO>(Channels, capacity);
    SilenceFIFO->State.store(2);
    // The up-sampler's own FIFO stages its input, which holds frames at the input rate
    // (the filter stuffs the zeros itself): one buffer of them.
    if (Upsampling)
        UpFilter->OutFIFO = std::make_unique<TMChFIFO>(Channels, capacity);
    Idle.store(false, std::memory_order_release);
}

void TFilterThread::Teardown()
{
    // A build still running is waited for; one that failed has left nothing to free.
    IgnoringFailure([this] { TakeConvolverBuild(); });
    IgnoringFailure([this] {
        if (EQBuild.valid())
            EQBuild.get();
    });
    UpFilter.reset();
    for (auto* place : {&EQPlace, &ConvPlace, &EFXPlace})
        if (*place)
            (*place)->Clear();
    ViewStages();
    MatrixFilter.reset();
    if (Live && !LeftBehind.load(std::memory_order_acquire)) {
        Live->Convolver.Release();
        Live->Matrix.Release();
    }
    SilenceFIFO.reset();
    Idle.store(true, std::memory_order_release);
}

int TFilterThread::StageCapacity() const
{
    return std::max(1, Nearest(InRate * BufferSec));
}

void TFilterThread::StageUpkeep()
{
    EQUpkeep();
    EFXUpkeep();
    ConvolverUpkeep();
    MatrixUpkeep(StageCapacity());
    ViewStages();
}

// Written only when they change: a test may read them between steps while the stages
// stay the same.
void TFilterThread::ViewStages()
{
    const auto set = [](auto*& view, auto* now) {
        if (view != now)
            view = now;
    };
    auto* eq = EQPlace ? static_cast<TEQStage*>(EQPlace->Stage()) : nullptr;
    set(EQFilter, eq ? &eq->FIR() : nullptr);
    set(EQDesigner, eq ? &eq->Designer() : nullptr);
    set(ConvFilter, ConvPlace ? static_cast<TConvFilter*>(ConvPlace->Stage()) : nullptr);
    set(EFXFilter, EFXPlace ? static_cast<TEFXFilter*>(EFXPlace->Stage()) : nullptr);
}

namespace {

template <class T> bool Ready(const std::future<T>& f)
{
    return f.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
}

} // namespace

// A new equaliser is designed on its own thread while the chain plays on, then fades
// in; before the first samples the step waits for it. New curves go to the running
// stage's designer.
void TFilterThread::EQUpkeep()
{
    const bool on = TChainSwitches::On(Switches.EQ);
    TStagePosition& place = *EQPlace;
    if (EQBuild.valid() && (!Streaming || Ready(EQBuild))) {
        std::unique_ptr<TEQStage> stage = EQBuild.get();
        if (on && !place.Stage() && !place.Changing()) {
            const int latency = stage->Latency();
            if (Streaming)
                place.Replace(std::move(stage), latency, latency);
            else
                place.Install(std::move(stage), latency);
        }
    }
    if (place.Changing())
        return;
    auto* eq = static_cast<TEQStage*>(place.Stage());
    if (!on) {
        if (eq)
            Streaming ? place.Replace(nullptr, 0, 0) : place.Clear();
        return;
    }
    if (!eq) {
        if (!EQBuild.valid()) {
            StartEQBuild();
            if (!Streaming)
                EQUpkeep();
        }
        return;
    }
    TEQDesigner& designer = eq->Designer();
    const uint64_t version = Live->EQ.Version();
    const bool forced = Switches.EQChanged && Switches.EQChanged->exchange(false);
    if (forced || version != designer.RequestedVersion) {
        designer.RequestedVersion = version;
        designer.Request();
    }
}

std::unique_ptr<TEQStage> TFilterThread::BuildEQ(int capacity, int taps) const
{
    return std::make_unique<TEQStage>(Channels, InRate, capacity, taps, Live->EQ);
}

// The designer is the curves' only reader, on whichever thread it runs.
void TFilterThread::StartEQBuild()
{
    if (!Streaming)
        Busy.store(true);
    if (Switches.EQChanged)
        Switches.EQChanged->store(false); // an edit from now on asks for a new design
    EQBuild = std::async(std::launch::async, [this, capacity = StageCapacity(), taps = Config.Filter.EQFilterTaps] {
        return BuildEQ(capacity, taps);
    });
}

void TFilterThread::EFXUpkeep()
{
    TStagePosition& place = *EFXPlace;
    if (place.Changing())
        return;
    const bool on = TChainSwitches::On(Switches.EFX) && Plugins;
    if (on && !place.Stage()) {
        auto stage = std::make_unique<TEFXFilter>(Channels, false, InRate, StageCapacity(), *Plugins, Config.EFX.Slots);
        if (Streaming) {
            place.Replace(std::move(stage), 0, 0);
        } else {
            Busy.store(true);
            place.Install(std::move(stage), 0);
        }
    } else if (!on && place.Stage()) {
        Streaming ? place.Replace(nullptr, 0, 0) : place.Clear();
    }
}

// The stage copies the responses in: new responses build a new stage, which takes over
// as the old one fades out; new levels and dry/wet switches glide in the running one.
void TFilterThread::ConvolverUpkeep()
{
    const bool on = TChainSwitches::On(Switches.Convolver);
    TStagePosition& place = *ConvPlace;
    if (ConvolverBuild.valid()) {
        if (Streaming && !Ready(ConvolverBuild))
            return; // the build holds the responses: nothing else reads them meanwhile
        std::unique_ptr<TConvFilter> stage = TakeConvolverBuild();
        if (on && !place.Changing()) {
            const int latency = stage->Latency();
            if (Streaming)
                place.Replace(std::move(stage), 0, latency);
            else
                place.Install(std::move(stage), latency);
            ConvolverVersion = ConvolverBuildVersion;
            ConvolverResponses = ConvolverBuildResponses;
        }
    }
    if (place.Changing())
        return;
    if (!on) {
        if (place.Stage())
            Streaming ? place.Replace(nullptr, 0, 0) : place.Clear();
        return;
    }
    const uint64_t version = Live->Convolver.Version();
    if (place.Stage() && version == ConvolverVersion)
        return;
    if (place.Stage() && Live->ConvolverResponses.load(std::memory_order_acquire) == ConvolverResponses) {
        ApplyConvolverMix(version);
        return;
    }
    StartConvolverBuild();
    if (!Streaming)
        ConvolverUpkeep();
}

void TFilterThread::ApplyConvolverMix(uint64_t version)
{
    static_cast<TConvFilter*>(ConvPlace->Stage())->SetMix(*Live->Convolver.Acquire());
    Live->Convolver.Release();
    ConvolverVersion = version;
}

void TFilterThread::StartConvolverBuild()
{
    if (!Streaming)
        Busy.store(true);
    ConvolverBuildResponses = Live->ConvolverResponses.load(std::memory_order_acquire);
    ConvolverBuildVersion = Live->Convolver.Version();
    const TConvolverSet* responses = Live->Convolver.Acquire();
    ConvolverBuild = std::async(std::launch::async, [this, responses, capacity = StageCapacity()] {
        return std::make_unique<TConvFilter>(Channels, false, InRate, capacity, *responses);
    });
}

// Waits for a build, if any, and lets go of the version it read.
std::unique_ptr<TConvFilter> TFilterThread::TakeConvolverBuild()
{
    if (!ConvolverBuild.valid())
        return nullptr;
    std::unique_ptr<TConvFilter> built;
    const auto release = [this] {
        if (!LeftBehind.load(std::memory_order_acquire))
            Live->Convolver.Release();
    };
    try {
        built = ConvolverBuild.get();
    } catch (...) {
        release();
        throw;
    }
    release();
    return built;
}

// The stage reads the routing on every call: it gets the newest at every step. Switched
// on or off while samples flow, its gains glide from or to a plain pass-through.
void TFilterThread::MatrixUpkeep(int capacity)
{
    const bool on = TChainSwitches::On(Switches.Matrix);
    if (!MatrixFilter && !on) {
        Live->Matrix.Release();
        return;
    }
    const TMatrixRouting& routing = *Live->Matrix.Acquire();
    if (!MatrixFilter) {
        MatrixFilter = std::make_unique<TMatrixFilter>(Channels, false, InRate, capacity, routing, Streaming);
        return;
    }
    MatrixFilter->SetRouting(routing);
    MatrixFilter->SetLeaving(!on);
    const bool done = MatrixFilter->AtIdentity() && MatrixFilter->OutFIFO->Available() == 0;
    if (!on && (!Streaming || done)) {
        MatrixFilter.reset();
        Live->Matrix.Release();
    }
}

// The up-sampler delays by its FIR's lag and half its taps (at the internal rate); the
// output FIFO holds internal-rate samples whatever rate the device reads them at.
void TFilterThread::PublishHeld()
{
    const double internal = static_cast<double>(InRate) * UpFactor;
    double frames = 0;
    for (const auto* place : {&EFXPlace, &ConvPlace, &EQPlace})
        if (*place)
            frames += (*place)->Held();
    if (MatrixFilter)
        frames += MatrixFilter->OutFIFO->FIFOs[0]->Stored();
    double samples = OutFIFO->FIFOs[0]->Stored();
    if (Upsampling && UpFilter) {
        frames += UpFilter->OutFIFO->FIFOs[0]->Stored();
        samples += 2.0 * UpFilter->BlockSize + (UpTaps - 1) / 2.0;
    }
    HeldSeconds.store(frames / InRate + samples / internal, std::memory_order_release);
}

int TFilterThread::Wanted() const
{
    return EFXPlace->Wanted() + ConvPlace->Wanted() + EQPlace->Wanted();
}

// Runs the stages in their fixed order; n becomes what the last one holds.
TMChFIFO& TFilterThread::RunStages(TMChFIFO& source, int& n)
{
    TMChFIFO* current = &source;
    const auto pass = [&](TMChFIFO& out) {
        if (&out != current) {
            current = &out;
            n = out.Available();
        }
    };
    // A stage may have held this thread past its owner's patience: then nothing more.
    const auto abandoned = [this] { return LeftBehind.load(std::memory_order_acquire); };
    pass(EFXPlace->Run(*current, n));
    if (abandoned())
        return *current;
    pass(ConvPlace->Run(*current, n));
    if (abandoned())
        return *current;
    if (MatrixFilter) {
        MatrixFilter->Process(*current, *MatrixFilter->OutFIFO, n);
        pass(*MatrixFilter->OutFIFO);
    }
    pass(EQPlace->Run(*current, n));
    return *current;
}

// Moves n frames on; destination channels beyond the source's get zeros. The up-sampler
// inserts the UpFactor − 1 zeros after each frame itself, so the frames go across as they
// are; with a factor, a source holding fewer than n frames moves nothing this step.
void TFilterThread::RaiseRate(TMChFIFO& source, TMChFIFO& destination, int n)
{
    if (UpFactor >= 2) {
        n = std::min(n, destination.Free());
        if (n <= 0 || source.Available() < n)
            return;
    }
    source.TransferTo(destination, n);
}

void TFilterThread::Step()
{
    StageUpkeep();
    if (RunState.load(std::memory_order_acquire) == TRunState::Running) {
        const int internal = InRate * UpFactor;
        const int deficit = Nearest(static_cast<double>(internal) * BufferSec - OutFIFO->Available());
        // A stage switched in while playing takes its lead-in on top.
        int n = deficit / UpFactor + (deficit > 0 ? Wanted() : 0);
        TMChFIFO* source = &Source;
        if (TChainSwitches::On(Switches.Paused)) {
            const int missing = std::max(0, n - SilenceFIFO->Available());
            for (int c = 0; c < SilenceFIFO->Channels; ++c)
                SilenceFIFO->FIFOs[c]->WriteZeros(std::min(missing, SilenceFIFO->Free()));
            source = SilenceFIFO.get();
        } else {
            n = std::min(n, Source.PlayingAvailable());
        }
        if (n > 0) {
            Streaming = true;
            TMChFIFO& staged = RunStages(*source, n);
            if (LeftBehind.load(std::memory_order_acquire))
                return;
            ViewStages();
            // One set, published whole: the device thread reads every channel of a block with one.
            const bool interpolate = internal != OutRate || OutFIFO->Reader().Interpolate;
            OutFIFO->SetReader({static_cast<double>(internal) / OutRate, interpolate, Config.ReSampler.RFType,
                                Config.ReSampler.nRFFilterTaps / 2});
            // The up-sampler's own FIFO serves as its staging input.
            TMChFIFO& destination = Upsampling ? *UpFilter->OutFIFO : *OutFIFO;
            RaiseRate(staged, destination, n);
            if (Upsampling)
                UpFilter->Process(destination, *OutFIFO, deficit);
        }
    }
    PublishHeld();
    Busy.store(false, std::memory_order_release);
}

} // namespace marlix
