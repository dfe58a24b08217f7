#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace marlix {

class TSettings;
class TPlayerState;

struct TRenderOptions {
    std::vector<std::string> Inputs;
    std::string Output;
    int Bits = 32;          // 16, 24 or 32
    double MaxSeconds = 0;  // 0: no limit
    int BlockFrames = 4096; // frames per render call, as a device buffer
};

struct TRenderResult {
    int Status = 0; // 0 done, 3 an input or the output cannot be opened or gave nothing, 4 unsupported request
    std::string Message;
    int OutRate = 0;
    int UpFactor = 1;
    int64_t Frames = 0;  // frames written
    double Seconds = 0;  // wall time
};

// Plays the inputs as a playlist through the decoder, the filter thread and the
// output render stage that playback uses, clocked by this loop instead of a device,
// and writes what the device would receive, from the end of pre-roll until the input
// is exhausted and the output has been silent for one buffer length past the inputs'
// own length (at most 10 s of tail past it), as a 2-channel PCM WAV at the output rate. The file ends with the last sound
// after the inputs' own length; that trailing silence is not written. Nothing rendered
// from inputs that have frames is a failure (status 3). Runs on the main thread, which
// feeds the chain while a second thread renders, as a device would.
TRenderResult RenderFiles(const TRenderOptions& options, TSettings& settings, TPlayerState& state);

} // namespace marlix
