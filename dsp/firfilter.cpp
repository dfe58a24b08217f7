#include "dsp/firfilter.h"

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
    const size_t m = 2 * static_cast<size_t>(n);
    for (int c = 0; c < channels; ++c) {
        InBlock.emplace_back(n);
        Sets[0].Spectrum.emplace_back(n + 1);
        Sets[0].Taps.emplace_back(n);
        Overlap.emplace_back(m);
    }
    for (int p = 0; p < (channels + 1) / 2; ++p)
        PairBuf.emplace_back(m + 1);
    Discard.Reset(n);
    Zeros.Reset(n);
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

void TFIRFilter::SetStuffing(int factor)
{
    WaitForTransform();
    const bool usable = factor >= 2 && factor <= BlockSize / 2 && (factor & (factor - 1)) == 0;
    FFTFree(StuffedTables);
    Stuffed.clear();
    Stuffing = usable ? factor : 1;
    if (!usable)
        return;
    const int size = 2 * BlockSize / factor;
    for (size_t p = 0; p < PairBuf.size(); ++p)
        Stuffed.emplace_back(size + 1);
    FFTInit(size, StuffedTables);
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
    const int n = BlockSize;
    const int length = std::min(block.GetLength(), n);
    const double* src = block.GetChannels() > 0 ? static_cast<const double*>(block.GetData(65)[0]) : nullptr;
    AlignedArray<double>& taps = set.Taps[channel];
    taps.Zero();
    if (src)
        std::copy(src, src + length, taps.data());
    AlignedArray<Complex> work(2 * static_cast<size_t>(n) + 1);
    for (int i = 0; i < n; ++i)
        work[i] = Complex(taps[i], 0);
    FFTForward(work.data(), 2 * n, tables);
    // The inverse transform's 1/2N lives here (a power of two: exact).
    const double scale = 1.0 / (2 * n);
    for (int k = 0; k <= n; ++k)
        set.Spectrum[channel][k] = work[k] * scale;
}

void TFIRFilter::GetTaps(int channel, TFlexBuf& block) const
{
    block.SetBuf(nullptr, 1, 65, BlockSize);
    if (channel >= 0 && channel < Channels)
        std::copy(Sets[Active].Taps[channel].data(), Sets[Active].Taps[channel].data() + BlockSize, static_cast<double*>(block.Data[0]));
}

void TFIRFilter::Process(TMChFIFO& in, TMChFIFO& out, int count)
{
    const int n = BlockSize;
    count = std::min({count, in.Available(), out.Free()});
    while (count > 0) {
        const int d = std::min(n - Fill, count);
        if (d == 0 || (Fill + d >= n && Pending.load(std::memory_order_acquire) != 0))
            break;
        for (int i = 0; i < in.Channels; ++i)
            in.FIFOs[i]->Read(i < Channels ? InBlock[i].data() + Fill : Discard.data(), d);
        for (int c = in.Channels; c < Channels; ++c)
            std::fill_n(InBlock[c].data() + Fill, d, 0.0);
        Fill += d;
        for (int k = 0; k < out.Channels; ++k)
            out.FIFOs[k]->Write(k < Channels ? Overlap[k].data() + OutPos : Zeros.data(), d);
        OutPos += d;
        if (OutPos == 2 * n)
            OutPos = 0;
        if (Fill == n)
            FinishBlock();
        count -= d;
    }
}

// Adds the previous block's convolution into the output ring, then loads the
// collected block for its transform.
void TFIRFilter::FinishBlock()
{
    const int n = BlockSize;
    const int other = OutPos == 0 ? n : 0;
    // Adds the transform's output into the ring and loads the collected block, zero-padded,
    // in one pass. No transform is pending here, so the buffers are this thread's.
    for (size_t p = 0; p < PairBuf.size(); ++p) {
        const bool pair = 2 * p + 1 < InBlock.size();
        double* a = Overlap[2 * p].data();
        double* b = pair ? Overlap[2 * p + 1].data() : nullptr;
        OverlapAddAndLoad(PairBuf[p].data(), n, a + OutPos, a + other, b ? b + OutPos : nullptr,
                          b ? b + other : nullptr, InBlock[2 * p].data(), pair ? InBlock[2 * p + 1].data() : nullptr);
    }
    Fill = 0;
    // No transform is outstanding here, so nothing reads the set being replaced.
    if (Swap.load(std::memory_order_acquire) == 1) {
        Active ^= 1;
        SwitchSample.store(BlocksIn * n, std::memory_order_relaxed);
        SwitchCount.fetch_add(1, std::memory_order_release);
        Swap.store(0, std::memory_order_release);
    }
    ++BlocksIn;
    if (Threaded) {
        Pending.store(1, std::memory_order_release);
        Pending.notify_one();
    } else {
        BlockTransform();
    }
}

void TFIRFilter::BlockTransform()
{
    for (int p = 0; p < static_cast<int>(PairBuf.size()); ++p)
        TransformPair(p);
}

// Spectrum Z of the packed pair, read as Z[k & mask] (periodic when mask < m − 1), times
// the two channels' filters, written to z[0 … m] as the spectrum of the packed result.
void TFIRFilter::TransformPair(int p)
{
    const int n = BlockSize;
    const int m = 2 * n;
    Complex* z = PairBuf[p].data();
    const int a = 2 * p, b = 2 * p + 1;
    const std::vector<AlignedArray<Complex>>& spectrum = Sets[Active].Spectrum;
    const Complex* sa = spectrum[a].data();
    const Complex* sb = b < Channels ? spectrum[b].data() : nullptr;
    if (TransformStuffed(p)) {
        MultiplyPacked(Stuffed[p].data(), 2 * n / Stuffing - 1, z, n, sa, sb);
    } else {
        FFTForward(z, m, Tables);
        MultiplyPacked(z, m - 1, z, n, sa, sb);
    }
    FFTInverseUnscaled(z, m, Tables);
}

// A block of zero-stuffed input, zero-padded to 2N, has a spectrum of period 2N / L: that
// of its every L-th sample, padded to 2N / L. False when the block breaks the pattern.
bool TFIRFilter::TransformStuffed(int p)
{
    if (Stuffing < 2)
        return false;
    const int n = BlockSize, step = Stuffing;
    const Complex* z = PairBuf[p].data();
    for (int i = 0; i < n; i += step)
        for (int j = 1; j < step; ++j)
            if (z[i + j] != Complex())
                return false;
    Complex* s = Stuffed[p].data();
    const int count = n / step;
    for (int t = 0; t < count; ++t)
        s[t] = z[t * step];
    std::fill(s + count, s + 2 * count, Complex());
    FFTForward(s, 2 * count, StuffedTables);
    StuffedCount.fetch_add(1, std::memory_order_release);
    return true;
}

} // namespace marlix
