#include "dsp/firfilter.h"

#include "dsp/gainramp.h"
#include "dsp/packedspectrum.h"
#include "base/flexbuf.h"

#include <algorithm>
#include <cstring>

namespace marlix {

TFIRFilter::TFIRFilter(int channels, bool secondFIFO, bool threaded, int capacity, int taps)
    : TFilterStage(channels, secondFIFO, capacity), Channels(channels), Threaded(threaded)
{
    int n = std::max(taps, 2);
    NextPow2(n);
    BlockSize = n;
    SetResponseLength(n + 1); // blocks of N: any response up to N taps
    const size_t m = 2 * static_cast<size_t>(n);
    for (int c = 0; c < channels; ++c) {
        Sets[0].Spectrum.emplace_back(n + 1);
        Sets[0].Taps.emplace_back(n);
    }
    Bufs.resize((channels + 1) / 2);
    for (auto& pair : Bufs)
        for (auto& buf : pair)
            buf.Reset(m + 1);
    Scratch.ResetUninitialised(4 * static_cast<size_t>(n)); // a block's input per lane, blocks up to 2N
    FFTInit(static_cast<int>(m), Tables);
    if (Threaded)
        Worker = std::thread([this] { WorkerLoop(); });
}

TFIRFilter::~TFIRFilter()
{
    if (Worker.joinable()) {
        Terminate.store(true, std::memory_order_release);
        Pending.fetch_or(2, std::memory_order_acq_rel);
        Pending.notify_one();
        Worker.join();
    }
    FFTFree(Tables);
    FFTFree(SpareTables);
    FFTFree(StuffedTables);
}

void TFIRFilter::WorkerLoop()
{
    for (;;) {
        Pending.wait(0, std::memory_order_acquire);
        if (Terminate.load(std::memory_order_acquire))
            return;
        BlockTransform();
        // Clears only the request bit: a stop request raised meanwhile stays visible.
        Pending.fetch_and(~1, std::memory_order_acq_rel);
        Pending.notify_all();
    }
}

void TFIRFilter::WaitForTransform()
{
    for (int p = Pending.load(std::memory_order_acquire); p & 1; p = Pending.load(std::memory_order_acquire))
        Pending.wait(p, std::memory_order_acquire);
}

void TFIRFilter::SetTaps(int channel, TFlexBuf& block)
{
    if (channel < 0 || channel >= Channels)
        return;
    // The worker reads the spectra during a transform: let it finish first.
    WaitForTransform();
    Install(Sets[Active], channel, block, Tables);
}

void TFIRFilter::SetTaps(std::span<TFlexBuf* const> blocks)
{
    WaitForTransform();
    TTapSet& set = Sets[Active];
    const int count = std::min(static_cast<int>(blocks.size()), Channels);
    for (int c = 0; c < count; ++c)
        CopyTaps(set, c, *blocks[c]);
    // Before the first sample the first block's buffer is unused and zero: it serves as
    // the transforms' work space, and is cleared again after.
    const bool unused = BlocksIn == 0 && Fill == 0;
    AlignedArray<Complex> own;
    if (!unused)
        own.ResetUninitialised(2 * static_cast<size_t>(BlockSize) + 1);
    Complex* work = unused ? Bufs[0][0].data() : own.data();
    for (int a = 0; a < count; a += 2)
        TapSpectra(set, a, a + 1 < count ? a + 1 : -1, Tables, work);
    if (unused)
        std::fill(work, work + 2 * BlockSize + 1, Complex());
}

void TFIRFilter::SetStuffing(int factor)
{
    WaitForTransform();
    Stuffing = std::max(factor, 1);
    const bool usable =
        factor >= 2 && factor <= BlockSize / 2 && (factor & (factor - 1)) == 0 && Step == BlockSize;
    FFTFree(StuffedTables);
    Stuffed.clear();
    if (!usable)
        return;
    const int size = 2 * BlockSize / factor;
    for (size_t p = 0; p < Bufs.size(); ++p)
        Stuffed.emplace_back(size + 1);
    FFTInit(size, StuffedTables);
}

void TFIRFilter::SetResponseLength(int taps)
{
    const int n = BlockSize;
    Step = Stuffing > 1 ? n : std::clamp(2 * n - std::max(taps, 1) + 1, n, 2 * n - 1);
    // The first output is 2N samples before the first input: blocks before 0 are silence.
    EmitBlock = -((2 * static_cast<int64_t>(n) + Step - 1) / Step);
    EmitOff = static_cast<int>(-EmitBlock * Step - 2 * static_cast<int64_t>(n));
}

void TFIRFilter::SetCrossfade(int samples)
{
    WaitForTransform();
    FadeLength = Stuffing > 1 ? 0 : std::clamp(samples, 0, Step);
    FadePrev.clear();
    FadeCur.clear();
    if (FadeLength == 0)
        return;
    for (size_t p = 0; p < Bufs.size(); ++p) {
        FadePrev.emplace_back(2 * static_cast<size_t>(BlockSize) + 1);
        FadeCur.emplace_back(2 * static_cast<size_t>(BlockSize) + 1);
    }
}

void TFIRFilter::StageTaps(int channel, TFlexBuf& block)
{
    if (channel < 0 || channel >= Channels || !SpareFree())
        return;
    TTapSet& spare = Sets[Active ^ 1];
    if (spare.Taps.empty()) {
        for (int c = 0; c < Channels; ++c) {
            spare.Spectrum.emplace_back(BlockSize + 1);
            spare.Taps.emplace_back(BlockSize);
        }
        FFTInit(2 * BlockSize, SpareTables);
    }
    Install(spare, channel, block, SpareTables);
}

void TFIRFilter::Install(TTapSet& set, int channel, TFlexBuf& block, TFFTTables& tables)
{
    CopyTaps(set, channel, block);
    AlignedArray<Complex> work;
    work.ResetUninitialised(2 * static_cast<size_t>(BlockSize) + 1);
    TapSpectra(set, channel, -1, tables, work.data());
}

void TFIRFilter::CopyTaps(TTapSet& set, int channel, TFlexBuf& block) const
{
    const int n = BlockSize;
    const int length = std::min({block.GetLength(), n, 2 * n - Step + 1});
    const double* src = block.GetChannels() > 0 ? static_cast<const double*>(block.GetData(65)[0]) : nullptr;
    AlignedArray<double>& taps = set.Taps[channel];
    taps.Zero();
    if (src)
        std::copy(src, src + length, taps.data());
}

// The scaled spectra of channel a's taps and, when b ≥ 0, of channel b's, both from one
// transform (in `work`, 2N + 1 values): a's taps as real parts, b's as imaginary parts,
// split as the packed signal pairs are.
void TFIRFilter::TapSpectra(TTapSet& set, int a, int b, TFFTTables& tables, Complex* work) const
{
    const int n = BlockSize;
    const double* ta = set.Taps[a].data();
    const double* tb = b >= 0 ? set.Taps[b].data() : nullptr;
    for (int i = 0; i < n; ++i)
        work[i] = Complex(ta[i], tb ? tb[i] : 0.0);
    std::fill(work + n, work + 2 * n + 1, Complex());
    FFTForward(work, 2 * n, tables);
    // The inverse transform's 1/2N lives here (a power of two: exact).
    const double scale = 1.0 / (2 * n);
    if (!tb) {
        for (int k = 0; k <= n; ++k)
            set.Spectrum[a][k] = work[k] * scale;
        return;
    }
    Complex* sa = set.Spectrum[a].data();
    Complex* sb = set.Spectrum[b].data();
    SplitPair(work, 2 * n, sa, sb); // twice each spectrum
    for (int k = 0; k <= n; ++k) {
        sa[k] *= scale / 2;
        sb[k] *= scale / 2;
    }
}

void TFIRFilter::GetTaps(int channel, TFlexBuf& block) const
{
    block.SetBuf(nullptr, 1, 65, BlockSize);
    if (channel >= 0 && channel < Channels)
        std::copy(Sets[Active].Taps[channel].data(), Sets[Active].Taps[channel].data() + BlockSize, static_cast<double*>(block.Data[0]));
}

void TFIRFilter::Process(TMChFIFO& in, TMChFIFO& out, int count)
{
    count = std::min({count, Reach(in.Available()), out.Free()});
    while (count > 0) {
        int d = std::min(Step - Fill, count);
        if (Pending.load(std::memory_order_acquire) != 0) {
            // The block in the transform owes the outputs from its start on, and the next
            // block may not finish before it is done.
            const int64_t ready = (BlocksIn - 1) * Step - (EmitBlock * Step + EmitOff);
            d = static_cast<int>(std::min<int64_t>({d, ready, Step - Fill - 1}));
        }
        if (d <= 0)
            break;
        const int samples = static_cast<int>(SamplesBefore(InPos() + d) - SamplesBefore(InPos()));
        for (int i = Channels; i < in.Channels; ++i)
            in.FIFOs[i]->Skip(samples);
        for (int p = 0; p < static_cast<int>(Bufs.size()); ++p) {
            Load(in, p, d, samples);
            Emit(out, p, d);
        }
        for (int k = Channels; k < out.Channels; ++k)
            out.FIFOs[k]->WriteZeros(d);
        EmitOff += d;
        while (EmitOff >= Step) {
            EmitOff -= Step;
            ++EmitBlock;
        }
        Fill += d;
        if (Fill == Step)
            FinishBlock();
        count -= d;
    }
}

namespace {

template <class T>
using TParts = std::array<std::span<T>, 2>;

// Where sample i of a two-piece run lies, and how many follow it in the same piece.
template <class T>
T* PieceAt(const TParts<T>& parts, int i, int& run)
{
    const int first = static_cast<int>(parts[0].size());
    if (i < first) {
        run = first - i;
        return parts[0].data() + i;
    }
    run = static_cast<int>(parts[1].size()) - (i - first);
    return parts[1].data() + (i - first);
}

// Calls fn(a, b, offset, length) over the stretches of `count` samples where both runs
// are contiguous; a missing run gives null.
template <class T, class Fn>
void InStep(const TParts<T>* a, const TParts<T>* b, int count, Fn fn)
{
    for (int off = 0; off < count;) {
        int ra = count - off, rb = count - off;
        T* pa = a ? PieceAt(*a, off, ra) : nullptr;
        T* pb = b ? PieceAt(*b, off, rb) : nullptr;
        const int len = std::min(ra, rb);
        fn(pa, pb, off, len);
        off += len;
    }
}

} // namespace

int TFIRFilter::Reach(int samples) const
{
    const int64_t pos = InPos();
    return static_cast<int>(std::min<int64_t>((SamplesBefore(pos) + samples) * Stuffing - pos, INT32_MAX));
}

// Takes the `samples` input samples of a channel pair that fall on the next `count`
// stuffed positions into the buffer taking input; a lane without an input channel loads
// zeros. Packed, they continue the block's samples from the buffer's start; spread, they
// land on their positions, the positions between them cleared.
void TFIRFilter::Load(TMChFIFO& in, int pair, int count, int samples)
{
    const int64_t blockStart = BlocksIn * Step, first = SamplesBefore(InPos());
    Complex* z = Bufs[pair][SlotOf(BlocksIn)].data();
    const bool packed = Stuffing == 1 || !Stuffed.empty();
    if (!packed)
        std::fill(z + Fill, z + Fill + count, Complex());
    if (samples == 0)
        return;
    const int live = std::min(in.Channels, Channels), a = 2 * pair, b = a + 1;
    TFIFO::TView va{}, vb{};
    if (a < live)
        va = in.FIFOs[a]->PeekOrRead(samples, Scratch.data());
    if (b < live)
        vb = in.FIFOs[b]->PeekOrRead(samples, Scratch.data() + 2 * BlockSize);
    const TParts<const double>* pa = a < live ? &va.Parts : nullptr;
    const TParts<const double>* pb = b < live ? &vb.Parts : nullptr;
    if (packed) {
        z += first - SamplesBefore(blockStart);
        InStep<const double>(pa, pb, samples,
                             [z](const double* x, const double* y, int off, int len) { InterleavePair(x, y, z + off, len); });
    } else {
        z += first * Stuffing - blockStart;
        const int gap = Stuffing;
        InStep<const double>(pa, pb, samples, [z, gap](const double* x, const double* y, int off, int len) {
            for (int i = 0; i < len; ++i)
                z[static_cast<size_t>(off + i) * gap] = Complex(x ? x[i] : 0.0, y ? y[i] : 0.0);
        });
    }
    if (va.InPlace)
        in.FIFOs[a]->Skip(samples);
    if (vb.InPlace)
        in.FIFOs[b]->Skip(samples);
}

// Sends out `count` samples of a channel pair from the emit position on: each sample is
// its block's head plus, while the previous block's result reaches it, that one's tail.
void TFIRFilter::Emit(TMChFIFO& out, int pair, int count)
{
    const int a = 2 * pair, b = a + 1, tailEnd = 2 * BlockSize - Step;
    const bool hasA = a < out.Channels, hasB = b < out.Channels && b < Channels;
    TParts<double> ra{}, rb{};
    if (hasA)
        ra = out.FIFOs[a]->Reserve(count);
    if (hasB)
        rb = out.FIFOs[b]->Reserve(count);
    int64_t block = EmitBlock;
    int off = EmitOff;
    for (int done = 0; done < count;) {
        int len = std::min(count - done, Step - off), run = len;
        if (off < tailEnd)
            len = std::min(len, tailEnd - off);
        double* x = hasA ? PieceAt(ra, done, run) : nullptr;
        len = std::min(len, run);
        double* y = hasB ? PieceAt(rb, done, run) : nullptr;
        len = std::min(len, run);
        const Complex* head = Bufs[pair][SlotOf(block)].data() + off;
        if (off < tailEnd)
            SumAndSplit(Bufs[pair][SlotOf(block - 1)].data() + Step + off, head, x, y, len);
        else
            SplitPair(head, x, y, len);
        done += len;
        off += len;
        if (off == Step) {
            off = 0;
            ++block;
        }
    }
    if (hasA)
        out.FIFOs[a]->Commit(count);
    if (hasB)
        out.FIFOs[b]->Commit(count);
}

// The block's buffer, the tail it still held sent out and now cleared, goes to the transform.
void TFIRFilter::FinishBlock()
{
    const int n = BlockSize;
    const int slot = SlotOf(BlocksIn);
    // No transform is pending here, so every buffer is this thread's. The short transform
    // of packed samples overwrites the whole buffer with its result: nothing to clear.
    if (Stuffed.empty())
        for (auto& pair : Bufs)
            std::fill(pair[slot].data() + Step, pair[slot].data() + 2 * n, Complex());
    WorkSlot = slot;
    Fill = 0;
    AdvanceSwitch();
    ++BlocksIn;
    if (Threaded) {
        Pending.store(1, std::memory_order_release);
        Pending.notify_one();
    } else {
        BlockTransform();
    }
}

// At a block boundary, where no transform is outstanding and so nothing reads the set
// being replaced: a waiting set takes over at once, or first glides in over two blocks.
void TFIRFilter::AdvanceSwitch()
{
    bool done = false;
    if (FadeState == 2) {
        done = true;
    } else if (FadeState == 1) {
        FadeState = 2;
    } else if (Swap.load(std::memory_order_acquire) == 1) {
        FadeStart = (BlocksIn + (FadeLength > 0 ? 1 : 0)) * Step;
        if (FadeLength > 0)
            FadeState = 1;
        else
            done = true;
    }
    if (done) {
        Active ^= 1;
        FadeState = 0;
        SwitchSample.store(FadeStart, std::memory_order_relaxed);
        SwitchCount.fetch_add(1, std::memory_order_release);
        Swap.store(0, std::memory_order_release);
    }
    WorkFade = FadeState;
}

void TFIRFilter::BlockTransform()
{
    for (int p = 0; p < static_cast<int>(Bufs.size()); ++p)
        TransformPair(p);
}

// Spectrum Z of the packed pair, read as Z[k & mask] (periodic when mask < m − 1), times
// the two channels' filters, written to z[0 … m] as the spectrum of the packed result.
void TFIRFilter::TransformPair(int p)
{
    const int n = BlockSize;
    const int m = 2 * n;
    Complex* z = Bufs[p][WorkSlot].data();
    const int a = 2 * p, b = 2 * p + 1;
    const std::vector<AlignedArray<Complex>>& spectrum = Sets[Active].Spectrum;
    const Complex* sa = spectrum[a].data();
    const Complex* sb = b < Channels ? spectrum[b].data() : nullptr;
    if (!Stuffed.empty()) {
        // Zero-padded to 2N, a block of stuffed input has a spectrum of period 2N / L: that
        // of its samples alone, padded to 2N / L.
        const int count = n / Stuffing;
        Complex* s = Stuffed[p].data();
        std::copy(z, z + count, s);
        std::fill(s + count, s + 2 * count, Complex());
        FFTForward(s, 2 * count, StuffedTables);
        StuffedCount.fetch_add(1, std::memory_order_release);
        MultiplyPacked(s, 2 * count - 1, z, n, sa, sb);
    } else {
        FFTForward(z, m, Tables);
        if (WorkFade != 0) {
            // The same block through the incoming set, beside the running one.
            const TTapSet& next = Sets[Active ^ 1];
            Complex* w = (WorkFade == 1 ? FadePrev : FadeCur)[static_cast<size_t>(p)].data();
            MultiplyPacked(z, m - 1, w, n, next.Spectrum[a].data(), b < Channels ? next.Spectrum[b].data() : nullptr);
            FFTInverseUnscaled(w, m, Tables);
        }
        MultiplyPacked(z, m - 1, z, n, sa, sb);
    }
    FFTInverseUnscaled(z, m, Tables);
    if (WorkFade == 2)
        Crossfade(p);
}

// The glide's block, whose samples are its head plus the previous block's tail: both
// parts become (1 − g)·old + g·new, g rising over FadeLength; its own tail, which the
// next block's samples take, becomes the new set's alone. The previous block's tail is
// sent out only after this transform, so it may change here.
void TFIRFilter::Crossfade(int p)
{
    const int m = 2 * BlockSize, tailEnd = m - Step;
    Complex* cur = Bufs[p][WorkSlot].data();
    Complex* prev = Bufs[p][(WorkSlot + 2) % 3].data();
    const Complex* curNew = FadeCur[static_cast<size_t>(p)].data();
    const Complex* prevNew = FadePrev[static_cast<size_t>(p)].data();
    const int fade = std::min(FadeLength, Step);
    for (int i = 0; i < fade; ++i) {
        const double g = RiseGain(i, fade);
        cur[i] += g * (curNew[i] - cur[i]);
        if (i < tailEnd)
            prev[Step + i] += g * (prevNew[Step + i] - prev[Step + i]);
    }
    std::copy(curNew + fade, curNew + m, cur + fade);
    if (fade < tailEnd)
        std::copy(prevNew + Step + fade, prevNew + m, prev + Step + fade);
}

} // namespace marlix
