#pragma once
#include <array>
#include <atomic>
#include <cstdint>
#include <vector>

namespace marlix {

// One channel's analysis: arrival delay (ms), level (dB of the response's energy) and
// polarity.
struct TMeasureResult {
    double Delay = 0;
    double Level = -192;
    uint8_t Inverted = 0;
};

// Where the measurement plays and records: the output pair (Device0), the source pair
// routed to it (ChAssign0) and the input pair whose first channel is the microphone
// (InDevice0).
struct TMeasureRouting {
    int Device0 = 0;
    int ChAssign0 = 0;
    int InDevice0 = 0;
};

// The state shared by the user interface and the device callback while a measurement
// window is open. The callback plays Excitation[Channel] periodically and, while
// Recording, sums AddNum periods of the microphone into Sum; it then sets Done and
// leaves Sum alone, which is when the user interface may analyse it.
class TMeasureState {
public:
    TMeasureState(int n, int rate, int addNum, TMeasureRouting routing);

    // Restarts the periodic excitation on `channel` with an empty sum, recording on.
    void StartChannelMeasurement(int channel);
    // Averages the sum, deconvolves it by the reference into Response[Channel] (zero mean,
    // unit energy) and derives Results[Channel].
    void AnalyseChannel();
    // Stops recording and waits until a callback in progress has left the sum.
    void StopRecording();

    // One device buffer (the host's render callback shape).
    void BufferSwitch(int frames, int inputCount, int32_t* const* inputs, int outputCount, int32_t* const* outputs);

    const int N;
    const int AddNum;
    const TMeasureRouting Routing;
    std::atomic<int> Rate;
    std::vector<double> Reference;
    std::array<std::vector<double>, 2> Excitation;
    std::vector<double> Sum;
    std::atomic<int64_t> Position{0};
    std::atomic<int> Channel{-1};
    std::atomic<bool> Recording{false};
    std::atomic<bool> Done{false};
    std::array<std::vector<double>, 2> Response;
    std::array<TMeasureResult, 2> Results;
    std::atomic<double> InputLevel{-192};

private:
    void Accumulate(const int32_t* input, int frames);
    void Play(int frames, int outputCount, int32_t* const* outputs);
    void HoldLevel(double level, int frames);

    int HoldCounter = 0;
    std::atomic<bool> InCallback{false};
};

// Peak of 32-bit samples in dB (full scale 2^31 reads 0 dB, silence −192).
double PeakLevelDB(const int32_t* samples, int frames);

// The host's render callback during a measurement; works on the active state (none:
// it leaves the zeroed outputs as they are).
void MeasureBufferSwitch(int frames, int inputCount, int32_t* const* inputs, int outputCount,
                         int32_t* const* outputs);
void SetActiveMeasurement(TMeasureState* state);

} // namespace marlix
