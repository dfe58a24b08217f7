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
class TPluginHost;
class TSettings;

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
    std::unique_ptr<TFIRFilter> EQFilter;
    std::unique_ptr<TEQDesigner> EQDesigner; // lives only with EQFilter
    std::unique_ptr<TConvFilter> ConvFilter;
    std::unique_ptr<TMatrixFilter> MatrixFilter;
    std::unique_ptr<TEFXFilter> EFXFilter;
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

private:
    void StageUpkeep();
    void EQUpkeep(int capacity);
    void ConvolverUpkeep(int capacity);
    // A new equaliser stage: the filter and its designer, which has made the first taps.
    struct TEQBuild {
        std::unique_ptr<TFIRFilter> Filter;
        std::unique_ptr<TEQDesigner> Designer; // refers to Filter: freed first
    };
    TEQBuild BuildEQ(int capacity, int taps) const;
    void StartEQBuild();
    void TakeEQBuild();
    void StartConvolverBuild();
    std::unique_ptr<TConvFilter> TakeConvolverBuild();
    void MatrixUpkeep(int capacity);
    TMChFIFO& RunStages(TMChFIFO& source, int& n);
    void RaiseRate(TMChFIFO& source, TMChFIFO& destination, int n);
    int Nearest(double x) const;
    int StageCapacity() const;

    TMChFIFO& Source;
    const TSettings& Config;
    TChainSwitches Switches;
    std::thread Thread;
    std::atomic<bool> Stop{false};
    std::atomic<bool> Ended{false}; // the thread has left its body
    TLiveSettings OwnLive;
    uint64_t ConvolverVersion = 0;
    // The first convolver, built on its own thread while Setup designs the rest (its
    // response transforms are the longest part of a start); it reads the version this
    // thread acquired, which stays valid until this thread's next Acquire or Release.
    std::future<std::unique_ptr<TConvFilter>> ConvolverBuild;
    std::future<TEQBuild> EQBuild;
    uint64_t ConvolverBuildVersion = 0;
};

} // namespace marlix
