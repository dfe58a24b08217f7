#pragma once
#include "base/flexbuf.h"
#include "base/snapshot.h"
#include "settings/settingeq.h"

#include <atomic>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

namespace marlix {

class TFIRFilter;

// Designs the equaliser's taps away from the pipeline: on its own thread, from the
// newest published curves, into the FIR's spare set, which the FIR switches to at its
// next block boundary. The output keeps playing the old curve until then, so an edit
// is never heard as a gap. It is the only reader of `curves` while it exists.
class TEQDesigner {
public:
    // Designs the first taps at once, on the calling thread, then starts the thread.
    TEQDesigner(TFIRFilter& filter, const TSnapshot<TEQCurves>& curves, int rate, int taps);
    ~TEQDesigner();
    TEQDesigner(const TEQDesigner&) = delete;
    TEQDesigner& operator=(const TEQDesigner&) = delete;

    // Asks for a design from the newest curves; never waits (the filter thread calls it).
    void Request();
    // Ends the designer's thread: it reads the curves no more (a pipeline left behind).
    void Quit();
    // The curves' version the last request was made for (the filter thread's own).
    uint64_t RequestedVersion = 0;
    // Designs finished and handed to the FIR.
    std::atomic<int> Designs{0};

private:
    void Loop();
    void Design();

    TFIRFilter& Filter;
    const TSnapshot<TEQCurves>& Curves;
    int Rate;
    int Taps;
    std::vector<TFlexBuf> Blocks;
    std::atomic<uint64_t> Wanted{0};
    std::atomic<bool> Stop{false};
    std::mutex Joining;
    std::thread Thread;
};

} // namespace marlix
