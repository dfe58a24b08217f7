#include "player/offlinerender.h"

#include "engine/decoder.h"
#include "engine/filterthread.h"
#include "base/flexfilebuf.h"
#include "base/mainthread.h"
#include "player/outputchain.h"
#include "player/playerstate.h"
#include "settings/settings.h"

#include <chrono>
#include <cstring>
#include <optional>
#include <thread>

namespace marlix {
namespace {

// Runs the decoder's main-thread steps now instead of waiting for its timers.
void FeedDecoder(TFo_Decoder& decoder)
{
    TMainThread::Instance().Pump();
    if (!decoder.IsOpen)
        return;
    if (decoder.SourceKind == TFo_Decoder::WavSource)
        decoder.WavFeedStep();
    else
        decoder.LibraryEndStep();
}

// The output rate every input would need; an error when one cannot be opened or
// two need different rates.
TRenderResult PlanRates(const TRenderOptions& options, TSettings& settings, TFo_Decoder& decoder)
{
    TRenderResult result;
    std::optional<int> outRate;
    for (const std::string& input : options.Inputs) {
        decoder.OpenSource(input);
        if (!decoder.IsOpen) {
            result.Status = 3;
            result.Message = "cannot open " + input;
            break;
        }
        const TRatePlan plan = ChooseOutputRate(settings.ReSampler, settings.Output,
                                                static_cast<int>(decoder.Format.nSamplesPerSec));
        if (outRate && *outRate != plan.OutRate) {
            result.Status = 4;
            result.Message = input + " needs the output rate " + std::to_string(plan.OutRate) + " Hz, the first input " +
                std::to_string(*outRate) + " Hz";
            break;
        }
        outRate = plan.OutRate;
        result.OutRate = plan.OutRate;
        result.UpFactor = plan.UpFactor;
    }
    decoder.CloseSource();
    decoder.FIFO.Reset();
    return result;
}

class TRenderLoop {
public:
    TRenderLoop(const TRenderOptions& options, TSettings& settings, TPlayerState& state, TFo_Decoder& decoder)
        : Options(options), State(state), Decoder(decoder), Chain(settings, state, decoder),
          Left(options.BlockFrames), Right(options.BlockFrames)
    {
    }

    TRenderResult Run(TRenderResult result)
    {
        Decoder.OpenSource(Options.Inputs[0]);
        State.EndOfList = false;
        if (!Decoder.IsOpen || !Chain.Start(false)) {
            result.Status = 3;
            result.Message = "cannot open " + Options.Inputs[0];
            return result;
        }
        Decoder.PlaySource();
        TFlexFileBuf file;
        if (file.OpenFile(1, {Options.Output}, result.OutRate, Options.Bits, 1, 2) != 0) {
            result.Status = 3;
            result.Message = "cannot write " + Options.Output;
            return result;
        }
        result.Frames = Loop(file, result.OutRate);
        file.CloseFile(1);
        Chain.Stop();
        Decoder.CloseSource();
        return result;
    }

private:
    int64_t Loop(TFlexFileBuf& file, int outRate)
    {
        const int block = Options.BlockFrames;
        const int64_t limit = Options.MaxSeconds > 0 ? static_cast<int64_t>(Options.MaxSeconds * outRate) : -1;
        const int64_t quietEnough = static_cast<int64_t>(outRate * Decoder.BufferSec.load());
        int64_t written = 0, quiet = 0, tail = 0;
        for (int waits = 0; limit < 0 || written < limit;) {
            Fill(block);
            int32_t* outputs[2] = {Left.data(), Right.data()};
            Chain.Stage.Render(outputs, block, 2);
            if (Chain.Stage.Preroll) {
                if (++waits > 1000)
                    break; // a source that never delivers
                continue;
            }
            int frames = block;
            if (limit >= 0)
                frames = static_cast<int>(std::min<int64_t>(frames, limit - written));
            Write(file, frames);
            written += frames;
            if (!State.EndOfList)
                continue;
            tail += frames;
            quiet = Silent(frames) ? quiet + frames : 0;
            if (quiet >= quietEnough || tail >= 10LL * outRate)
                break;
        }
        return written;
    }

    // Steps decoder and filter thread until a block is buffered, or nothing more comes.
    void Fill(int block)
    {
        TFilterThread& filter = Chain.Filter();
        for (int idle = 0; filter.OutFIFO->Available() < block;) {
            NextTrackIfDone();
            const int before = filter.OutFIFO->Available() + Decoder.FIFO.Available();
            FeedDecoder(Decoder);
            filter.Step();
            if (filter.OutFIFO->Available() + Decoder.FIFO.Available() != before) {
                idle = 0;
                continue;
            }
            // A long filter's transform may still run on its worker; the end of the
            // input gives up sooner.
            if (++idle > (State.EndOfList && !Decoder.TailActive ? 20 : 20000))
                return;
            std::this_thread::sleep_for(std::chrono::microseconds(100));
        }
    }

    void NextTrackIfDone()
    {
        if (!Decoder.Finished || State.EndOfList)
            return;
        if (++Track < Options.Inputs.size()) {
            Decoder.OpenSource(Options.Inputs[Track]);
            Decoder.PlaySource();
        } else {
            State.EndOfList = true;
            // The output still carries the end of the last track: keep the decoder
            // feeding silence so the filters' tails drain, until the output stage
            // finds its blocks silent. A device would have set this already.
            Decoder.TailActive = true;
        }
    }

    bool Silent(int frames) const
    {
        for (int i = 0; i < frames; ++i)
            if (Left[i] != 0 || Right[i] != 0)
                return false;
        return true;
    }

    void Write(TFlexFileBuf& file, int frames)
    {
        const void* channels[2] = {Left.data(), Right.data()};
        file.SetBuf(channels, 2, 32, frames);
        file.WriteBlock(0, frames);
    }

    const TRenderOptions& Options;
    TPlayerState& State;
    TFo_Decoder& Decoder;
    TOutputChain Chain;
    std::vector<int32_t> Left, Right;
    size_t Track = 0;
};

} // namespace

TRenderResult RenderFiles(const TRenderOptions& options, TSettings& settings, TPlayerState& state)
{
    TRenderResult result;
    if (options.Inputs.empty() || (options.Bits != 16 && options.Bits != 24 && options.Bits != 32)) {
        result.Status = 4;
        result.Message = "nothing to render";
        return result;
    }
    const auto start = std::chrono::steady_clock::now();
    TFo_Decoder decoder;
    result = PlanRates(options, settings, decoder);
    if (result.Status != 0)
        return result;
    TRenderLoop loop(options, settings, state, decoder);
    result = loop.Run(result);
    result.Seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return result;
}

} // namespace marlix
