#include "dsp/firfilter.h"

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
    for (size_t p = 0; p < PairBuf.size(); ++p) {
        const Complex* z = PairBuf[p].data();
        double* a = Overlap[2 * p].data();
        double* b = 2 * p + 1 < Overlap.size() ? Overlap[2 * p + 1].data() : nullptr;
        for (int i = 0; i < n; ++i) {
            a[OutPos + i] += z[i].real();
            a[other + i] = z[n + i].real();
        }
        if (b)
            for (int i = 0; i < n; ++i) {
                b[OutPos + i] += z[i].imag();
                b[other + i] = z[n + i].imag();
            }
    }
    // The first half carries the new block; the transform pads the rest with zeros,
    // on whichever thread runs it, so that half never crosses between threads.
    for (size_t p = 0; p < PairBuf.size(); ++p) {
        Complex* z = PairBuf[p].data();
        const double* a = InBlock[2 * p].data();
        const double* b = 2 * p + 1 < InBlock.size() ? InBlock[2 * p + 1].data() : nullptr;
        for (int i = 0; i < n; ++i)
            z[i] = Complex(a[i], b ? b[i] : 0.0);
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

void TFIRFilter::TransformPair(int p)
{
    const int n = BlockSize;
    const int m = 2 * n;
    Complex* z = PairBuf[p].data();
    const int a = 2 * p, b = 2 * p + 1;
    const std::vector<AlignedArray<Complex>>& spectrum = Sets[Active].Spectrum;
    const Complex* sa = spectrum[a].data();
    const Complex* sb = b < Channels ? spectrum[b].data() : nullptr;
    std::fill(z + n, z + m + 1, Complex());
    FFTForward(z, m, Tables);
    for (int k = 0; k <= n; ++k) {
        const int km = k == 0 ? 0 : m - k;
        const double zr = z[k].real(), zi = z[k].imag(), mr = z[km].real(), mi = z[km].imag();
        // A and B: twice the spectra of the two packed channels, times their filters.
        double ar = zr + mr, ai = zi - mi;
        const double tar = ar * sa[k].real() - ai * sa[k].imag();
        ai = ar * sa[k].imag() + ai * sa[k].real();
        ar = tar;
        double br = 0, bi = 0;
        if (sb) {
            const double ur = zi + mi, ui = mr - zr;
            br = ur * sb[k].real() - ui * sb[k].imag();
            bi = ur * sb[k].imag() + ui * sb[k].real();
        }
        z[m - k] = Complex(0.5 * (ar + bi), 0.5 * (br - ai));
        z[k] = Complex(0.5 * (ar - bi), 0.5 * (ai + br));
    }
    FFTInverseUnscaled(z, m, Tables);
}

} // namespace marlix
