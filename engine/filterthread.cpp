#include "engine/filterthread.h"

#include "dsp/convfilter.h"
#include "dsp/efxfilter.h"
#include "dsp/firdesign.h"
#include "dsp/firfilter.h"
#include "dsp/matrixfilter.h"
#include "base/boundedwait.h"
#include "base/threadpriority.h"
#include "engine/eqdesigner.h"
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
    StartConvolverBuild();
    StartEQBuild();
    Upsampling = UpFactor > 1 || InRate > OutRate;
    if (Upsampling)
        UpFilter = CreateInterpolationFilter(Channels, UpTaps, UpWindow, InRate, OutRate, UpFactor, BufferSec);
    SilenceFIFO = std::make_unique<TMChFIFO>(Channels, StageCapacity());
    SilenceFIFO->State.store(2);
    // The up-sampler's own FIFO stages its input, which holds frames at the input rate
    // (the filter stuffs the zeros itself): one buffer of them.
    if (Upsampling)
        UpFilter->OutFIFO = std::make_unique<TMChFIFO>(Channels, StageCapacity());
    Idle.store(false, std::memory_order_release);
}

void TFilterThread::Teardown()
{
    // A build still running is waited for; one that failed has left nothing to free.
    IgnoringFailure([this] { TakeConvolverBuild(); });
    IgnoringFailure([this] { TakeEQBuild(); });
    UpFilter.reset();
    EQDesigner.reset();
    EQFilter.reset();
    ConvFilter.reset();
    MatrixFilter.reset();
    if (Live) {
        Live->Convolver.Release();
        Live->Matrix.Release();
    }
    EFXFilter.reset();
    SilenceFIFO.reset();
    Idle.store(true, std::memory_order_release);
}

int TFilterThread::StageCapacity() const
{
    return std::max(1, Nearest(InRate * BufferSec));
}

void TFilterThread::StageUpkeep()
{
    const int capacity = StageCapacity();
    EQUpkeep(capacity);
    if (TChainSwitches::On(Switches.EFX) && Plugins) {
        if (!EFXFilter) {
            Busy.store(true);
            EFXFilter = std::make_unique<TEFXFilter>(Channels, false, InRate, capacity, *Plugins, Config.EFX.Slots);
        }
    } else {
        EFXFilter.reset();
    }
    ConvolverUpkeep(capacity);
    MatrixUpkeep(capacity);
}

// The first design mutes the output while it runs; later ones run on the designer's
// thread and switch in between two blocks.
void TFilterThread::EQUpkeep(int capacity)
{
    if (EQBuild.valid())
        TakeEQBuild();
    if (!TChainSwitches::On(Switches.EQ)) {
        EQDesigner.reset();
        EQFilter.reset();
        return;
    }
    if (!EQFilter) {
        Busy.store(true);
        if (Switches.EQChanged)
            Switches.EQChanged->store(false);
        TEQBuild build = BuildEQ(capacity, Config.Filter.EQFilterTaps);
        EQFilter = std::move(build.Filter);
        EQDesigner = std::move(build.Designer);
    }
    const uint64_t version = Live->EQ.Version();
    const bool forced = Switches.EQChanged && Switches.EQChanged->exchange(false);
    if (forced || version != EQDesigner->RequestedVersion) {
        EQDesigner->RequestedVersion = version;
        EQDesigner->Request();
    }
}

TFilterThread::TEQBuild TFilterThread::BuildEQ(int capacity, int taps) const
{
    TEQBuild build;
    build.Filter =
        std::make_unique<TFIRFilter>(Channels, false, static_cast<double>(taps) / InRate > 0.1, capacity, taps);
    build.Designer = std::make_unique<TEQDesigner>(*build.Filter, Live->EQ, InRate, taps);
    return build;
}

// The first equaliser, designed on its own thread while Setup designs the rest. The
// designer is the curves' only reader, on whichever thread it runs.
void TFilterThread::StartEQBuild()
{
    if (!TChainSwitches::On(Switches.EQ) || EQFilter || EQBuild.valid())
        return;
    if (Switches.EQChanged)
        Switches.EQChanged->store(false); // an edit from now on asks for a new design
    EQBuild = std::async(std::launch::async,
                         [this, capacity = StageCapacity(), taps = Config.Filter.EQFilterTaps] {
                             return BuildEQ(capacity, taps);
                         });
}

void TFilterThread::TakeEQBuild()
{
    if (!EQBuild.valid())
        return;
    TEQBuild build = EQBuild.get();
    EQFilter = std::move(build.Filter);
    EQDesigner = std::move(build.Designer);
}

// The stage copies the responses in: a new version builds a new stage.
void TFilterThread::ConvolverUpkeep(int capacity)
{
    if (ConvolverBuild.valid()) {
        ConvFilter = TakeConvolverBuild();
        ConvolverVersion = ConvolverBuildVersion;
    }
    if (!TChainSwitches::On(Switches.Convolver)) {
        ConvFilter.reset();
        return;
    }
    const uint64_t version = Live->Convolver.Version();
    if (ConvFilter && version == ConvolverVersion)
        return;
    Busy.store(true);
    ConvFilter.reset();
    ConvFilter = std::make_unique<TConvFilter>(Channels, false, InRate, capacity, *Live->Convolver.Acquire());
    Live->Convolver.Release();
    ConvolverVersion = version;
}

void TFilterThread::StartConvolverBuild()
{
    if (!TChainSwitches::On(Switches.Convolver) || ConvFilter || ConvolverBuild.valid())
        return;
    ConvolverBuildVersion = Live->Convolver.Version();
    const TConvolverSet* responses = Live->Convolver.Acquire();
    ConvolverBuild = std::async(std::launch::async, [this, responses, capacity = StageCapacity()] {
        return std::make_unique<TConvFilter>(Channels, false, InRate, capacity, *responses);
    });
}

// Waits for the build started at Setup, if any, and lets go of the version it read.
std::unique_ptr<TConvFilter> TFilterThread::TakeConvolverBuild()
{
    if (!ConvolverBuild.valid())
        return nullptr;
    std::unique_ptr<TConvFilter> built;
    try {
        built = ConvolverBuild.get();
    } catch (...) {
        Live->Convolver.Release();
        throw;
    }
    Live->Convolver.Release();
    return built;
}

// The stage reads the routing on every call: it gets the newest at every step.
void TFilterThread::MatrixUpkeep(int capacity)
{
    if (!TChainSwitches::On(Switches.Matrix)) {
        MatrixFilter.reset();
        Live->Matrix.Release();
        return;
    }
    const TMatrixRouting& routing = *Live->Matrix.Acquire();
    if (!MatrixFilter)
        MatrixFilter = std::make_unique<TMatrixFilter>(Channels, false, InRate, capacity, routing);
    else
        MatrixFilter->SetRouting(routing);
}

// Runs the switched-on stages in their fixed order; n becomes what the last one holds.
TMChFIFO& TFilterThread::RunStages(TMChFIFO& source, int& n)
{
    TMChFIFO* current = &source;
    TFilterStage* stages[] = {EFXFilter.get(), ConvFilter.get(), MatrixFilter.get(), EQFilter.get()};
    for (TFilterStage* stage : stages) {
        if (!stage)
            continue;
        stage->Process(*current, *stage->OutFIFO, n);
        current = stage->OutFIFO.get();
        n = current->Available();
    }
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
        int n = deficit / UpFactor;
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
            TMChFIFO& staged = RunStages(*source, n);
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
    Busy.store(false, std::memory_order_release);
}

} // namespace marlix
