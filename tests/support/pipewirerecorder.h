#pragma once
// Records what a PipeWire sink plays, from its monitor, on PipeWire's real-time data
// thread, and watches the graph's playback streams. Connects to the PipeWire that
// PIPEWIRE_RUNTIME_DIR names (TPipeWireSession::Export).
#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <sys/types.h>
#include <string>
#include <vector>

namespace marlix::test {

class TPipeWireRecorder {
public:
    using Clock = std::chrono::steady_clock;

    // Keeps the first `capacity` frames (stereo, 32-bit float as the graph carries them);
    // later frames are only counted.
    explicit TPipeWireRecorder(int capacity);
    ~TPipeWireRecorder();
    TPipeWireRecorder(const TPipeWireRecorder&) = delete;
    TPipeWireRecorder& operator=(const TPipeWireRecorder&) = delete;

    // Records the monitor of the sink named `sink`; true once the stream runs, which
    // needs the session manager to have linked it.
    bool Start(const std::string& sink, std::chrono::seconds limit);
    // Why Start failed.
    std::string Error() const;

    int Frames() const { return Count.load(std::memory_order_acquire); }
    int KeptFrames() const { return std::min(Frames(), Capacity); }
    // Channel c of frame j < KeptFrames().
    float At(int c, int j) const { return Samples[2 * static_cast<size_t>(j) + static_cast<size_t>(c)]; }
    // Frames with a non-zero sample so far.
    long SoundFrames() const { return Sound.load(std::memory_order_acquire); }
    // The next frame with a non-zero sample notes its time and frame index.
    void Arm();
    // The noted frame, -1 while none came since Arm.
    int FirstSoundFrame() const { return FirstFrame.load(std::memory_order_acquire); }
    Clock::time_point FirstSoundTime() const { return Clock::time_point(Clock::duration(FirstTime.load())); }
    // The thread that records runs under a real-time scheduling policy (once it ran).
    bool RealTime() const;

    // Clients' nodes that play (playback streams, JACK clients) in the graph now, and
    // the most there were at once since Start.
    int PlaybackStreams() const;
    int MostPlaybackStreams() const;

    struct TImpl;

private:
    void Process(const float* data, int frames);

    std::vector<float> Samples;
    int Capacity;
    std::atomic<int> Count{0};
    std::atomic<long> Sound{0};
    std::atomic<bool> Armed{false};
    std::atomic<int> FirstFrame{-1};
    std::atomic<Clock::rep> FirstTime{0};
    std::atomic<bool> HaveThread{false};
    pid_t Thread = 0;
    std::unique_ptr<TImpl> Impl;
};

} // namespace marlix::test
