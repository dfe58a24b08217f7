#include "player/offlinerender.h"

#include "engine/decoder.h"
#include "engine/filterthread.h"
#include "base/flexfilebuf.h"
#include "base/mainthread.h"
#include "player/outputchain.h"
#include "player/playerstate.h"
#include "settings/settings.h"

#include <array>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
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
    if (decoder.SourceKind == TSourceKind::Wav)
        decoder.WavFeedStep();
    else
        decoder.LibraryEndStep();
}

// The output rate every input would need; an error when one cannot be opened or
// two need different rates.
TRenderResult PlanRates(const TRenderOptions& options, TSettings& settings, TFo_Decoder& decoder,
                        double& inputSeconds)
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
        inputSeconds += decoder.GetLengthMs() / 1000;
        result.OutRate = plan.OutRate;
        result.UpFactor = plan.UpFactor;
    }
    decoder.CloseSource();
    decoder.FIFO.Reset();
    return result;
}

// Rendered blocks on their way from the render thread to the file, which the feed
// thread writes: one producer, one consumer, a fixed ring of block buffers.
class TBlockQueue {
public:
    struct TBlock {
        std::vector<int32_t> Left, Right;
        int Frames = 0;
        int64_t Position = 0;   // of its first frame in the output
        bool EndOfList = false; // as it was when the block was rendered
    };

    explicit TBlockQueue(int frames)
    {
        for (TBlock& b : Blocks) {
            b.Left.resize(static_cast<size_t>(frames));
            b.Right.resize(static_cast<size_t>(frames));
        }
    }

    // Render side: the block to fill next, null while the writer is behind; Push hands it over.
    TBlock* Free()
    {
        const int64_t pushed = Pushed.load(std::memory_order_relaxed);
        return pushed - Popped.load(std::memory_order_acquire) < kBlocks ? &Blocks[pushed % kBlocks] : nullptr;
    }
    void Push() { Pushed.fetch_add(1, std::memory_order_release); }

    // Writer side: the oldest block handed over, null when none; Pop frees it.
    TBlock* Next()
    {
        const int64_t popped = Popped.load(std::memory_order_relaxed);
        return popped < Pushed.load(std::memory_order_acquire) ? &Blocks[popped % kBlocks] : nullptr;
    }
    void Pop() { Popped.fetch_add(1, std::memory_order_release); }

private:
    static constexpr int kBlocks = 8;
    std::array<TBlock, kBlocks> Blocks;
    std::atomic<int64_t> Pushed{0}, Popped{0};
};

class TRenderLoop {
public:
    TRenderLoop(const TRenderOptions& options, TSettings& settings, TPlayerState& state, TFo_Decoder& decoder,
                double inputSeconds)
        : Options(options), State(state), Decoder(decoder), Chain(settings, state, decoder),
          Queue(kBatch * options.BlockFrames), Zeros(options.BlockFrames), InputSeconds(inputSeconds)
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
        InputFrames = std::llround(InputSeconds * result.OutRate);
        // The output stage renders on its own thread, as a device would, while this
        // thread feeds the decoder and the filters and writes the file: the two halves
        // of the chain overlap.
        Chain.Stage.UseHelperThread();
        int64_t written = 0;
        std::thread device([&] {
            written = Loop(result.OutRate);
            Done.store(true, std::memory_order_release);
        });
        Feed(file);
        device.join();
        WriteQueued(file);
        result.Frames = written - Held;
        file.CloseFile(1);
        Chain.Stop();
        Decoder.CloseSource();
        if (result.Frames == 0 && InputFrames > 0) {
            std::remove(Options.Output.c_str());
            result.Status = 3;
            result.Message = "nothing was rendered from " + Options.Inputs[0];
        }
        return result;
    }

private:
    // The render side: device buffers of BlockFrames, up to kBatch of them at a time.
    int64_t Loop(int outRate)
    {
        const int block = Options.BlockFrames;
        const int64_t limit = Options.MaxSeconds > 0 ? static_cast<int64_t>(Options.MaxSeconds * outRate) : -1;
        const int64_t quietEnough = static_cast<int64_t>(outRate * Decoder.BufferSec.load());
        int64_t written = 0, quiet = 0, tail = 0;
        while (limit < 0 || written < limit) {
            TBlockQueue::TBlock* out = Queue.Free();
            if (!out) {
                std::this_thread::sleep_for(kPause); // the file is behind
                continue;
            }
            WaitForBlock(block, written);
            // Several buffers at once where the FIFO holds them: the stage hands its HSC
            // to the helper thread once for all of them. The samples are those of
            // buffer-by-buffer calls.
            const int count = Chain.Stage.Preroll ? 1 : BuffersReady(block, limit, written);
            int32_t* outputs[2] = {out->Left.data(), out->Right.data()};
            Chain.Stage.RenderBuffers(outputs, count, block, 2);
            if (Chain.Stage.Preroll) {
                // Pre-roll ends once the feed has filled the buffer.
                if (Misses.load(std::memory_order_acquire) > kPatience)
                    break; // a source that never delivers
                std::this_thread::sleep_for(kPause);
                continue;
            }
            int frames = 0;
            bool end = false;
            for (int i = 0; i < count && !end; ++i) {
                const int n = limit >= 0 ? static_cast<int>(std::min<int64_t>(block, limit - written - frames)) : block;
                // The tail is what follows the inputs' own length: counted in output frames,
                // it does not depend on how far ahead of the output the decoder has read.
                if (Beyond(written + frames)) {
                    tail += n;
                    quiet = Silent(*out, frames, n) ? quiet + n : 0;
                }
                frames += n;
                end = quiet >= quietEnough || tail >= 10LL * outRate || (limit >= 0 && written + frames >= limit);
            }
            out->Frames = frames;
            out->Position = written;
            out->EndOfList = State.EndOfList;
            Queue.Push();
            written += frames;
            if (end)
                break;
        }
        return written;
    }

    // Whole buffers the FIFO holds now, at least one, at most a batch, none past the limit.
    int BuffersReady(int block, int64_t limit, int64_t written)
    {
        int64_t ready = Chain.Filter().OutFIFO->Available() / block;
        if (limit >= 0)
            ready = std::min(ready, (limit - written + block - 1) / block);
        return static_cast<int>(std::clamp<int64_t>(ready, 1, kBatch));
    }

    bool Beyond(int64_t position) const { return State.EndOfList && position >= InputFrames; }

    // Until a block is buffered, or the feed has found nothing to do for long enough:
    // a long filter's transform may still run on its worker, while a tail that has
    // sounded out gives up sooner.
    void WaitForBlock(int block, int64_t position)
    {
        while (Chain.Filter().OutFIFO->Available() < block) {
            const int patience = Beyond(position) && !Decoder.TailActive ? kEndPatience : kPatience;
            if (Misses.load(std::memory_order_acquire) > patience)
                return;
            std::this_thread::sleep_for(kPause);
        }
    }

    // The feed side, on the calling thread (it runs the decoder's main-thread steps):
    // steps decoder and filter thread while the render side runs. Misses counts the
    // passes in a row that moved nothing while the render side was short of a block.
    void Feed(TFlexFileBuf& file)
    {
        const int block = Options.BlockFrames;
        while (!Done.load(std::memory_order_acquire)) {
            WriteQueued(file);
            const bool short_ = Chain.Filter().OutFIFO->Available() < block || Chain.Stage.Preroll;
            if (StepOnce()) {
                Misses.store(0, std::memory_order_release);
                continue;
            }
            Misses.store(short_ ? Misses.load(std::memory_order_relaxed) + 1 : 0, std::memory_order_release);
            std::this_thread::sleep_for(kPause);
        }
    }

    // One pass of the decoder's feed and the filter thread; true when samples moved.
    // The output's write position tells, as the render side reads it meanwhile.
    bool StepOnce()
    {
        TFilterThread& filter = Chain.Filter();
        NextTrackIfDone();
        const auto written = [&] { return filter.OutFIFO->FIFOs[0]->WriteIndex.load(std::memory_order_acquire); };
        const int32_t before = written();
        const int decoded = Decoder.FIFO.Available();
        FeedDecoder(Decoder);
        filter.Step();
        return written() != before || Decoder.FIFO.Available() != decoded;
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

    static bool Silent(const TBlockQueue::TBlock& b, int from, int frames)
    {
        for (int i = from; i < from + frames; ++i)
            if (b.Left[i] != 0 || b.Right[i] != 0)
                return false;
        return true;
    }

    void WriteQueued(TFlexFileBuf& file)
    {
        for (const TBlockQueue::TBlock* b; (b = Queue.Next()) != nullptr; Queue.Pop())
            WriteHoldingSilence(file, *b);
    }

    // Once the input has ended, silent frames are held back and written only when sound
    // follows, so the file ends with the tails' last sound. Frames within the inputs'
    // own length are always written.
    void WriteHoldingSilence(TFlexFileBuf& file, const TBlockQueue::TBlock& b)
    {
        int keep = b.Frames;
        if (b.EndOfList)
            while (keep > 0 && b.Left[keep - 1] == 0 && b.Right[keep - 1] == 0 && b.Position + keep > InputFrames)
                --keep;
        if (keep > 0) {
            for (; Held > 0; Held -= std::min<int64_t>(Held, Options.BlockFrames))
                Write(file, Zeros.data(), Zeros.data(), static_cast<int>(std::min<int64_t>(Held, Options.BlockFrames)));
            Write(file, b.Left.data(), b.Right.data(), keep);
        }
        Held += b.Frames - keep;
    }

    static void Write(TFlexFileBuf& file, const int32_t* left, const int32_t* right, int frames)
    {
        const void* channels[2] = {left, right};
        file.WriteFrames(channels, 2, 32, frames);
    }

    const TRenderOptions& Options;
    TPlayerState& State;
    TFo_Decoder& Decoder;
    TOutputChain Chain;
    TBlockQueue Queue;
    const std::vector<int32_t> Zeros;
    const double InputSeconds;
    int64_t InputFrames = 0; // the inputs' length at the output rate
    int64_t Held = 0;        // silent frames not yet written
    size_t Track = 0;
    std::atomic<bool> Done{false};
    std::atomic<int> Misses{0};
    static constexpr auto kPause = std::chrono::microseconds(100);
    static constexpr int kPatience = 20000;
    static constexpr int kEndPatience = 20;
    static constexpr int kBatch = 4;
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
    double inputSeconds = 0;
    result = PlanRates(options, settings, decoder, inputSeconds);
    if (result.Status != 0)
        return result;
    TRenderLoop loop(options, settings, state, decoder, inputSeconds);
    result = loop.Run(result);
    result.Seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return result;
}

} // namespace marlix
