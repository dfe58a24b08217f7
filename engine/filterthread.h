#pragma once
#include "base/fifo.h"
#include "settings/livesettings.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <future>
#include <memory>
#include <thread>

namespace marlix {

class TFIRFilter;
class TConvFilter;
class TMatrixFilter;
class TEFXFilter;
class TEQDesigner;
class TEQStage;
class TPluginHost;
class TSettings;
class TStagePosition;

// The stage switches the pipeline reads on every step; they live with the player
// state, which the control loop and the windows write.
struct TChainSwitches {
    const std::atomic<bool>* EQ = nullptr;
    const std::atomic<bool>* EFX = nullptr;
    const std::atomic<bool>* Convolver = nullptr;
    const std::atomic<bool>* Matrix = nullptr;
    const std::atomic<bool>* Paused = nullptr;
    std::atomic<bool>* EQChanged = nullptr;

    static bool On(const std::atomic<bool>* flag) { return flag && flag->load(std::memory_order_acquire); }
};

// Stopped until Run; the values are those the thread's state word had.
enum class TRunState : int32_t { Stopped = 0, Running = 2 };

// The pipeline driver: every 10 ms it tops its output FIFO up to one buffer at the
// internal rate, pulling decoded frames through the switched-on stages (effects →
// convolver → matrix → equaliser), and raising the rate by the integer up-sampling
// factor through the up-sampling low-pass, which stuffs the zeros itself. The output
// stage reads OutFIFO at the device rate.
//
// Stages present at the first step run from the first sample. Later switches never
// click: the matrix glides between its routing and a plain pass-through; the other
// stages are built beside the running chain and then fade in as the old signal fades
// out (TStagePosition); new EQ curves glide in inside the FIR; convolver levels and
// the dry/wet switches glide in the running stage.
class TFilterThread {
public:
    TFilterThread(int channels, int capacity, TMChFIFO& source, const TSettings& settings, TChainSwitches switches);
    ~TFilterThread();
    TFilterThread(const TFilterThread&) = delete;
    TFilterThread& operator=(const TFilterThread&) = delete;

    // Starts the thread (set-up, then a step every 10 ms until Terminate).
    void Resume();
    void Run() { RunState.store(TRunState::Running, std::memory_order_release); }
    void Halt();
    // The owner gives up on a thread stuck in a stage and leaves this object behind: should
    // the thread ever return, it touches nothing shared any more (the hand-over, which the
    // next chain reads), finishes no step and frees only its own stages.
    void Abandon();
    // Stops the loop and waits for the thread (which frees the stages) up to StopTimeout.
    // False when it did not end in time, e.g. inside a plug-in that never returns: it is
    // reported and keeps running on this object, which the caller must then leave behind.
    [[nodiscard]] bool Terminate();
    std::chrono::milliseconds StopTimeout{5000};

    // The thread body's parts, callable directly (the offline renderer clocks them).
    void Setup();
    void Step();
    void Teardown();

    std::atomic<bool> Idle{true};
    std::unique_ptr<TMChFIFO> OutFIFO;
    std::unique_ptr<TFIRFilter> UpFilter;
    // The stages running now (null: none), owned by their places in the chain; for
    // inspection on the thread that steps.
    TFIRFilter* EQFilter = nullptr;
    TEQDesigner* EQDesigner = nullptr;
    TConvFilter* ConvFilter = nullptr;
    TEFXFilter* EFXFilter = nullptr;
    std::unique_ptr<TMatrixFilter> MatrixFilter;
    // Where the curves, responses and matrix come from; set before Setup. Without it the
    // thread publishes the settings' values once, at Setup, into its own.
    TLiveSettings* Live = nullptr;
    // The effect slots; without a host the effect stage is never made.
    TPluginHost* Plugins = nullptr;
    bool Upsampling = false;
    int UpFactor = 1;
    int InRate = 44100;
    int OutRate = 44100;
    int UpTaps = 1023;
    int UpWindow = 4;
    std::unique_ptr<TMChFIFO> SilenceFIFO;
    int Channels;
    double BufferSec = 0.5;
    std::atomic<TRunState> RunState{TRunState::Stopped};
    std::atomic<bool> Busy{false};
    // Seconds of decoded sound inside the chain that the device has not yet been given:
    // in the stages (their delays and FIFOs), the up-sampler and the output FIFO.
    // Published at every step.
    std::atomic<double> HeldSeconds{0.0};

private:
    void StageUpkeep();
    void EQUpkeep();
    void EFXUpkeep();
    void ConvolverUpkeep();
    std::unique_ptr<TEQStage> BuildEQ(int capacity, int taps) const;
    void StartEQBuild();
    void StartConvolverBuild();
    std::unique_ptr<TConvFilter> TakeConvolverBuild();
    void ApplyConvolverMix(uint64_t version);
    void MatrixUpkeep(int capacity);
    void ViewStages();
    int Wanted() const;
    void PublishHeld();
    TMChFIFO& RunStages(TMChFIFO& source, int& n);
    void RaiseRate(TMChFIFO& source, TMChFIFO& destination, int n);
    int Nearest(double x) const;
    int StageCapacity() const;

    TMChFIFO& Source;
    const TSettings& Config;
    TChainSwitches Switches;
    std::thread Thread;
    std::atomic<bool> Stop{false};
    std::atomic<bool> LeftBehind{false};
    std::atomic<bool> Ended{false}; // the thread has left its body
    TLiveSettings OwnLive;
    // The places of the effect, convolver and equaliser stages (made at Setup).
    std::unique_ptr<TStagePosition> EFXPlace, ConvPlace, EQPlace;
    // Whether samples have passed: until then stages are put in place at once.
    bool Streaming = false;
    uint64_t ConvolverVersion = 0;
    uint64_t ConvolverResponses = 0;
    // New convolver and equaliser stages are built on threads of their own (a
    // convolver's response transforms or an EQ design take long). A convolver build reads
    // the version this thread acquired, which stays valid until this thread's next
    // Acquire or Release: no other use of the responses while it runs.
    std::future<std::unique_ptr<TConvFilter>> ConvolverBuild;
    std::future<std::unique_ptr<TEQStage>> EQBuild;
    uint64_t ConvolverBuildVersion = 0;
    uint64_t ConvolverBuildResponses = 0;
};

} // namespace marlix
