#pragma once
#include "dsp/fft.h"
#include "dsp/filterstage.h"
#include "base/alignedarray.h"
#include "base/fifo.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <span>
#include <thread>
#include <vector>

namespace marlix {

class TFlexBuf;

// Multichannel streaming FIR by fast convolution with block overlap-add. Two
// channels share one transform pair (real and imaginary parts). The output lags
// the input by exactly 2 × BlockSize samples. In threaded mode the block
// transform runs on the filter's own worker thread, so that a long filter never
// stalls the caller; the caller then never finishes a block while the previous
// transform is still pending, nor sends out what that transform still owes.
class TFIRFilter : public TFilterStage {
public:
    TFIRFilter(int channels, bool secondFIFO, bool threaded, int capacity, int taps);
    ~TFIRFilter() override;

    // Installs channel `channel`'s impulse response: the block's first channel,
    // taken as doubles, at most BlockSize coefficients. Not while another thread streams.
    void SetTaps(int channel, TFlexBuf& block);
    // The same for channels 0 … blocks.size() − 1 at once, two channels per transform.
    void SetTaps(std::span<TFlexBuf* const> blocks);
    void GetTaps(int channel, TFlexBuf& block) const;
    // The longest response that will be installed, when shorter than BlockSize: input
    // blocks then grow to use the room the 2 × BlockSize transform has beyond it, so
    // fewer transforms run per second; the lag stays 2 × BlockSize. Later responses are
    // cut to that length. Before any taps and before streaming; not with stuffing.
    void SetResponseLength(int taps);

    // New taps while streaming, from one background thread: once SpareFree, StageTaps
    // fills the spare set channel by channel and CommitStaged hands it over; the
    // streaming side switches to it at its next block boundary. With a crossfade set,
    // both sets filter the whole signal for two blocks and the output glides from the
    // old filter's result to the new one's; otherwise the switch falls between two blocks.
    bool SpareFree() const { return Swap.load(std::memory_order_acquire) == 0; }
    void StageTaps(int channel, TFlexBuf& block);
    void CommitStaged() { Swap.store(1, std::memory_order_release); }
    // The length in samples of the glide between tap sets (at most one input block; 0:
    // none). Before streaming; not with stuffing.
    void SetCrossfade(int samples);
    // Streaming side: how many switches completed, and the signal time (the input
    // sample an output sample is the filtered value of) where the last one began: the
    // first sample filtered by the new taps, or the first of the glide.
    int Switches() const { return SwitchCount.load(std::memory_order_acquire); }
    int64_t SwitchedAt() const { return SwitchSample.load(std::memory_order_acquire); }
    int CrossfadeLength() const { return FadeLength; }

    // Moves up to `count` samples per channel from `in` through the filter into `out`.
    void Process(TMChFIFO& in, TMChFIFO& out, int count) override;

    // The input is a zero-stuffed stream without its zeros: the stream carries factor − 1
    // zeros after each input sample, which the filter supplies itself. Counts, positions and
    // the lag are those of the stuffed stream; a stuffed position that holds a zero needs no
    // input. With a power of two up to BlockSize / 2 (and input blocks of BlockSize) a
    // block is transformed without its zeros, at a fraction of the cost. 1 for a plain
    // stream. Before streaming.
    void SetStuffing(int factor);
    // Pair transforms that took the form without the zeros.
    int64_t StuffedTransforms() const { return StuffedCount.load(std::memory_order_acquire); }

    int GetChannels() const { return Channels; }
    bool IsPending() const { return Pending.load(std::memory_order_acquire) != 0; }
    // Blocks until no transform is outstanding (offline callers; never the pipeline).
    void WaitForTransform();

    int BlockSize = 0;

private:
    void FinishBlock();
    void Load(TMChFIFO& in, int pair, int count, int samples);
    // Stuffed-stream positions: the fill position, the input samples that precede a
    // position, and how far `samples` input samples reach from the fill position.
    int64_t InPos() const { return BlocksIn * Step + Fill; }
    int64_t SamplesBefore(int64_t pos) const { return (pos + Stuffing - 1) / Stuffing; }
    int Reach(int samples) const;
    void Emit(TMChFIFO& out, int pair, int count);
    void BlockTransform();
    void TransformPair(int p);
    void Crossfade(int p);
    void AdvanceSwitch();
    void WorkerLoop();

    int Channels = 0;
    // Per channel pair three transform buffers of 2N + 1 values; block k lives in buffer
    // k mod 3. While block j takes input (below Step), the buffer still holds block
    // j − 3's tail (from Step up), the last of it being sent out; block j − 1 is being
    // transformed, and blocks j − 2 and j − 1 are sent out.
    std::vector<std::array<AlignedArray<Complex>, 3>> Bufs;
    static int SlotOf(int64_t block) { return static_cast<int>(((block % 3) + 3) % 3); }
    int WorkSlot = 0;
    // Input samples per block: BlockSize, or more for a shorter response.
    int Step = 0;
    // The next output sample: its block, and its place in that block's result.
    int64_t EmitBlock = -2;
    int EmitOff = 0;
    // One set of coefficients: per channel the taps and their scaled spectrum.
    struct TTapSet {
        std::vector<AlignedArray<Complex>> Spectrum;
        std::vector<AlignedArray<double>> Taps;
    };
    void Install(TTapSet& set, int channel, TFlexBuf& block, TFFTTables& tables);
    void CopyTaps(TTapSet& set, int channel, TFlexBuf& block) const;
    void TapSpectra(TTapSet& set, int a, int b, TFFTTables& tables, Complex* work) const;

    // Sets[Active] filters; the other is the spare a background thread fills. Swap is 1
    // while a filled spare waits for the block boundary.
    std::array<TTapSet, 2> Sets;
    int Active = 0;
    std::atomic<int> Swap{0};
    TFFTTables SpareTables;
    std::atomic<int> SwitchCount{0};
    std::atomic<int64_t> SwitchSample{0};
    // The glide: FadeState 1 while the block before it is transformed by both sets (its
    // result by the new set kept per pair in FadePrev), 2 while the block it lies in is
    // (its new result in FadeCur, then mixed in). The transform reads WorkFade.
    int FadeLength = 0;
    int FadeState = 0;
    int WorkFade = 0;
    int64_t FadeStart = 0;
    std::vector<AlignedArray<Complex>> FadePrev, FadeCur;
    int64_t BlocksIn = 0;
    AlignedArray<double> Scratch;
    int Fill = 0;
    TFFTTables Tables;
    // The stuffing factor. Each block's input samples lie packed from the buffer's start
    // when Stuffed holds the short transform buffers (one per pair) or the factor is 1;
    // otherwise at their stuffed positions with zeros between.
    int Stuffing = 1;
    std::vector<AlignedArray<Complex>> Stuffed;
    TFFTTables StuffedTables;
    std::atomic<int64_t> StuffedCount{0};
    bool Threaded = false;
    std::atomic<int> Pending{0};
    std::atomic<bool> Terminate{false};
    std::thread Worker;
};

} // namespace marlix
