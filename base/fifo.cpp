#include "base/fifo.h"

#include <immintrin.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <thread>

namespace marlix {
namespace {

constexpr auto kRelaxed = std::memory_order_relaxed;
constexpr auto kAcquire = std::memory_order_acquire;
constexpr auto kRelease = std::memory_order_release;

constexpr int32_t kMaxCapacity = 1 << 30;

int32_t ToCount(double v)
{
    if (!(v > 0))
        return 0;
    if (v >= std::numeric_limits<int32_t>::max())
        return std::numeric_limits<int32_t>::max();
    return static_cast<int32_t>(v);
}

// Weighted mean of the kernel around the slot at(0), whose weight is 1. Right-hand
// weights are rr, rr² c, rr³ c³, …, left-hand ones rl, rl² c, …: the ratios of
// successive Gaussian weights form a geometric sequence of factor c = exp(2q).
template <class Get>
double Kernel(Get at, int32_t left, int32_t right, double rl, double rr, double c)
{
    double sum = at(0);
    double wsum = 1.0;
    double w = 1.0;
    double r = rr;
    for (int32_t m = 1; m <= right; ++m) {
        w *= r;
        r *= c;
        sum += w * at(m);
        wsum += w;
    }
    w = 1.0;
    r = rl;
    for (int32_t m = 1; m <= left; ++m) {
        w *= r;
        r *= c;
        sum += w * at(-m);
        wsum += w;
    }
    return sum / wsum;
}

// l[i] = s[2i] and r[i] = s[2i + 1] for i < n, two frames at a time (SSE2 is part of every x86-64).
void Deinterleave2(const double* s, double* l, double* r, int32_t n)
{
    int32_t i = 0;
    for (; i + 2 <= n; i += 2) {
        const __m128d a = _mm_loadu_pd(s + 2 * i), b = _mm_loadu_pd(s + 2 * i + 2);
        _mm_storeu_pd(l + i, _mm_unpacklo_pd(a, b));
        _mm_storeu_pd(r + i, _mm_unpackhi_pd(a, b));
    }
    for (; i < n; ++i) {
        l[i] = s[2 * i];
        r[i] = s[2 * i + 1];
    }
}

} // namespace

TFIFO::TFIFO(int32_t capacity)
    : Buf(static_cast<size_t>(std::clamp(capacity, 0, kMaxCapacity)) + 1, 0.0)
    , BufSize(static_cast<int32_t>(Buf.size()))
{
    static_assert(std::atomic<double>::is_always_lock_free);
}

void TFIFO::Reset()
{
    WriteIndex.store(0, kRelease);
    ReadIndex.store(0, kRelease);
    ReadPoint.store(0.0, kRelease);
}

template <class Fill>
void TFIFO::WriteWith(int32_t n, Fill fill)
{
    if (n <= 0)
        return;
    int32_t w = WriteIndex.load(kRelaxed);
    for (int32_t done = 0; done < n;) {
        const int32_t len = std::min(n - done, BufSize - w);
        fill(Buf.data() + w, done, len);
        done += len;
        w += len;
        if (w == BufSize)
            w = 0;
    }
    WriteIndex.store(w, kRelease);
}

void TFIFO::Write(const double* src, int32_t n)
{
    WriteWith(n, [src](double* dst, int32_t from, int32_t len) { std::copy_n(src + from, len, dst); });
}

void TFIFO::WriteStrided(const double* src, int32_t n, int32_t stride)
{
    WriteWith(n, [src, stride](double* dst, int32_t from, int32_t len) {
        const double* s = src + static_cast<ptrdiff_t>(from) * stride;
        if (stride == 2) { // stereo, the common case: a constant stride the compiler vectorises
            for (int32_t i = 0; i < len; ++i)
                dst[i] = s[2 * i];
            return;
        }
        for (int32_t i = 0; i < len; ++i, s += stride)
            dst[i] = *s;
    });
}

void TFIFO::WriteZeros(int32_t n)
{
    WriteWith(n, [](double* dst, int32_t, int32_t len) { std::fill_n(dst, len, 0.0); });
}

TFIFO::TReader TFIFO::Params() const
{
    return {Step.load(kRelaxed), Interpolate.load(kRelaxed), InterpType.load(kRelaxed) == 0,
            std::clamp(HalfWidth.load(kRelaxed), 0, BufSize)};
}

TFIFO::TReader TFIFO::Params(const TFIFOReader& r) const
{
    return {r.Step, r.Interpolate, r.InterpType == 0, std::clamp(r.HalfWidth, 0, BufSize)};
}

int32_t TFIFO::Available() const
{
    return AvailableFor(Params(), WriteIndex.load(kAcquire));
}

double TFIFO::Stored() const
{
    const double d = WriteIndex.load(kAcquire) - ReadPoint.load(kAcquire);
    return d < 0 ? d + BufSize : d;
}

int32_t TFIFO::Available(const TFIFOReader& r) const
{
    return AvailableFor(Params(r), WriteIndex.load(kAcquire));
}

// Interpolating: at most trunc(span / Step) − N samples, and never one whose kernel
// reaches a slot the writer has not filled (linear reads one slot ahead, Gaussian N).
int32_t TFIFO::AvailableFor(const TReader& r, int32_t w) const
{
    if (!r.interpolate) {
        const int32_t d = w - ReadIndex.load(kAcquire);
        return d < 0 ? d + BufSize : d;
    }
    if (!(r.step > 0) || !std::isfinite(r.step))
        return 0;
    const double p = ReadPoint.load(kAcquire);
    const double span = (w < p ? w + static_cast<double>(BufSize) : w) - p;
    const double n = r.halfWidth;
    const double byMargin = std::trunc(span / r.step) - n;
    // Slack for the rounding ReadPoint collects while it advances through a block.
    const double slack = (BufSize + 1024.0) * 0x1p-30;
    const double room = span - (r.linear ? 1.0 : n) - slack;
    const double byKernel = room < 0 ? 0.0 : std::floor(room / r.step) + 1;
    return ToCount(std::min(byMargin, byKernel));
}

int32_t TFIFO::Free() const
{
    const TReader r = Params();
    return Free(r.interpolate, r.halfWidth);
}

int32_t TFIFO::Free(bool interpolate, int32_t halfWidth) const
{
    const int32_t w = WriteIndex.load(kRelaxed);
    if (!interpolate) {
        const int32_t f = ReadIndex.load(kAcquire) - w - 1;
        return f < 0 ? f + BufSize : f;
    }
    // The writer is behind the reader only when it is not ahead of ReadPoint: with
    // WriteIndex = trunc(ReadPoint) and a fractional ReadPoint the ring is full.
    const double p = ReadPoint.load(kAcquire);
    int64_t f = static_cast<int64_t>(std::trunc(p - w)) - 1;
    if (p <= w)
        f += BufSize;
    return static_cast<int32_t>(std::max<int64_t>(f - std::clamp(halfWidth, 0, BufSize), 0));
}

void TFIFO::Read(double* dst, int32_t n)
{
    if (n <= 0)
        return;
    const TReader r = Params();
    const int32_t w = WriteIndex.load(kAcquire);
    if (AvailableFor(r, w) < n) {
        std::fill_n(dst, n, 0.0);
        return;
    }
    ReadInto(r, w, {dst, static_cast<size_t>(n)}, {});
}

void TFIFO::WriteFrom(TFIFO& src, int32_t n)
{
    n = std::min(n, BufSize - 1);
    if (n <= 0 || &src == this)
        return;
    const TReader r = src.Params();
    const int32_t sw = src.WriteIndex.load(kAcquire);
    if (src.AvailableFor(r, sw) < n) {
        WriteZeros(n);
        return;
    }
    const int32_t w = WriteIndex.load(kRelaxed);
    const int32_t first = std::min(n, BufSize - w);
    src.ReadInto(r, sw, {Buf.data() + w, static_cast<size_t>(first)},
                 {Buf.data(), static_cast<size_t>(n - first)});
    const int64_t next = static_cast<int64_t>(w) + n;
    WriteIndex.store(static_cast<int32_t>(next >= BufSize ? next - BufSize : next), kRelease);
}

std::array<std::span<const double>, 2> TFIFO::Peek(int32_t n) const
{
    const TReader r = Params();
    if (n <= 0 || r.interpolate || AvailableFor(r, WriteIndex.load(kAcquire)) < n)
        return {};
    const int32_t i = ReadIndex.load(kRelaxed);
    const int32_t first = std::min(n, BufSize - i);
    return {std::span<const double>(Buf.data() + i, static_cast<size_t>(first)),
            std::span<const double>(Buf.data(), static_cast<size_t>(n - first))};
}

TFIFO::TView TFIFO::PeekOrRead(int32_t n, double* scratch)
{
    TView v{Peek(n), true};
    if (static_cast<int32_t>(v.Parts[0].size() + v.Parts[1].size()) != n || n <= 0) {
        Read(scratch, n);
        v = {{std::span<const double>(scratch, static_cast<size_t>(std::max(n, 0))), {}}, false};
    }
    return v;
}

std::array<std::span<double>, 2> TFIFO::Reserve(int32_t n)
{
    n = std::clamp(n, 0, BufSize - 1);
    const int32_t w = WriteIndex.load(kRelaxed);
    const int32_t first = std::min(n, BufSize - w);
    return {std::span<double>(Buf.data() + w, static_cast<size_t>(first)),
            std::span<double>(Buf.data(), static_cast<size_t>(n - first))};
}

void TFIFO::Commit(int32_t n)
{
    n = std::clamp(n, 0, BufSize - 1);
    const int64_t next = static_cast<int64_t>(WriteIndex.load(kRelaxed)) + n;
    WriteIndex.store(static_cast<int32_t>(next >= BufSize ? next - BufSize : next), kRelease);
}

void TFIFO::Skip(int32_t n)
{
    if (n <= 0)
        return;
    const TReader r = Params();
    const int32_t w = WriteIndex.load(kAcquire);
    if (AvailableFor(r, w) < n)
        return;
    TCursor c{ReadIndex.load(kRelaxed), ReadPoint.load(kRelaxed)};
    if (!r.interpolate) {
        const int64_t next = static_cast<int64_t>(c.index) + n;
        c.index = static_cast<int32_t>(next % BufSize);
        c.point = c.index;
    } else {
        const double start = c.point;
        for (int32_t k = 0; k < n; ++k)
            c.point = Advance(c.point, r.step);
        c.point = NotPast(start, c.point, w);
        c.index = static_cast<int32_t>(c.point);
    }
    Publish(c);
}

void TFIFO::ReadInto(const TReader& r, int32_t w, std::span<double> a, std::span<double> b)
{
    TCursor c{ReadIndex.load(kRelaxed), ReadPoint.load(kRelaxed)};
    if (!r.interpolate) {
        c = ReadPlain(ReadPlain(c, a), b);
    } else {
        const double start = c.point;
        c = r.linear ? ReadLinear(r, ReadLinear(r, c, a), b) : ReadGauss(r, ReadGauss(r, c, a), b);
        c.point = NotPast(start, c.point, w);
        c.index = static_cast<int32_t>(c.point);
    }
    Publish(c);
}

void TFIFO::Publish(TCursor c)
{
    ReadIndex.store(c.index, kRelease);
    ReadPoint.store(c.point, kRelease);
}

double TFIFO::Advance(double p, double step) const
{
    p += step;
    return p >= BufSize ? p - BufSize : p;
}

// Rounding in the accumulated position must never carry the reader past the writer,
// or the ring would look full.
double TFIFO::NotPast(double start, double end, int32_t w) const
{
    const double wu = w < start ? w + static_cast<double>(BufSize) : w;
    const double eu = end < start ? end + BufSize : end;
    return eu > wu ? static_cast<double>(w) : end;
}

TFIFO::TCursor TFIFO::ReadPlain(TCursor c, std::span<double> out) const
{
    int32_t i = c.index;
    for (size_t done = 0; done < out.size();) {
        const size_t len = std::min(out.size() - done, static_cast<size_t>(BufSize - i));
        std::copy_n(Buf.data() + i, len, out.data() + done);
        done += len;
        i += static_cast<int32_t>(len);
        if (i == BufSize)
            i = 0;
    }
    return {i, static_cast<double>(i)};
}

TFIFO::TCursor TFIFO::ReadLinear(const TReader& r, TCursor c, std::span<double> out) const
{
    const double* buf = Buf.data();
    double p = c.point;
    for (double& o : out) {
        const auto i = static_cast<int32_t>(p);
        const double d = p - i;
        const int32_t j = i + 1 == BufSize ? 0 : i + 1;
        o = (1 - d) * buf[i] + d * buf[j];
        p = Advance(p, r.step);
    }
    return {static_cast<int32_t>(p), p};
}

TFIFO::TCursor TFIFO::ReadGauss(const TReader& r, TCursor c, std::span<double> out) const
{
    const double sigma = 1.414 / r.step;
    const double q = -1.0 / (2 * sigma * sigma);
    const double ratioStep = std::exp(2 * q);
    double p = c.point;
    for (double& o : out) {
        o = GaussAt(p, r.halfWidth, q, ratioStep);
        p = Advance(p, r.step);
    }
    return {static_cast<int32_t>(p), p};
}

// Kernel slots trunc(p) − n … trunc(p) + n, weights exp(q d²) renormalised. The weights
// are taken relative to the slot nearest p, so none can overflow and their sum is ≥ 1.
double TFIFO::GaussAt(double p, int32_t n, double q, double c) const
{
    const auto i0 = static_cast<int32_t>(p);
    const double f = p - i0;
    const bool upper = n > 0 && f > 0.5;
    const int32_t ref = upper ? i0 + 1 : i0;
    const double fr = upper ? f - 1 : f;
    const int32_t left = ref - (i0 - n);
    const int32_t right = i0 + n - ref;
    const double rl = std::exp(q * (1 + 2 * fr));
    const double rr = std::exp(q * (1 - 2 * fr));
    if (i0 - n >= 0 && i0 + n < BufSize) {
        const double* base = Buf.data() + ref;
        return Kernel([base](int32_t m) { return base[m]; }, left, right, rl, rr, c);
    }
    const auto at = [this, ref](int32_t m) {
        const int32_t k = (ref + m) % BufSize;
        return Buf[k < 0 ? k + BufSize : k];
    };
    return Kernel(at, left, right, rl, rr, c);
}

TMChFIFO::TMChFIFO(int32_t channels, int32_t capacity)
    : Channels(std::clamp(channels, 0, MaxChannels))
{
    for (int32_t i = 0; i < Channels; ++i)
        FIFOs[i] = std::make_unique<TFIFO>(capacity);
}

void TMChFIFO::SetReader(const TFIFOReader& reader)
{
    TFIFOReader current;
    if (TryLoad(current) && current == reader)
        return;
    // Release stores keep the odd count before the fields and the fields before the even
    // one; a reader's acquire loads of the fields keep its second look at the count after
    // them. A reader that saw any new field therefore sees the count changed.
    const uint32_t sequence = Sequence.load(kRelaxed);
    Sequence.store(sequence + 1, kRelaxed);
    PublishedStep.store(reader.Step, kRelease);
    PublishedInterpolate.store(reader.Interpolate, kRelease);
    PublishedType.store(reader.InterpType, kRelease);
    PublishedHalfWidth.store(reader.HalfWidth, kRelease);
    Sequence.store(sequence + 2, kRelease);
}

bool TMChFIFO::TryLoad(TFIFOReader& out) const
{
    const uint32_t sequence = Sequence.load(kAcquire);
    if (sequence & 1)
        return false;
    const TFIFOReader r{PublishedStep.load(kAcquire), PublishedInterpolate.load(kAcquire),
                        PublishedType.load(kAcquire), PublishedHalfWidth.load(kAcquire)};
    if (Sequence.load(kRelaxed) != sequence)
        return false;
    out = r;
    return true;
}

TFIFOReader TMChFIFO::Reader() const
{
    TFIFOReader r;
    while (!TryLoad(r))
        std::this_thread::yield();
    return r;
}

void TMChFIFO::TakeReader()
{
    TFIFOReader r;
    const bool fresh = TryLoad(r);
    const int32_t state = State.load(kRelaxed);
    for (int32_t i = 0; i < Channels; ++i) {
        TFIFO& f = *FIFOs[i];
        if (fresh) {
            f.Step.store(r.Step, kRelaxed);
            f.Interpolate.store(r.Interpolate, kRelaxed);
            f.InterpType.store(r.InterpType, kRelaxed);
            f.HalfWidth.store(r.HalfWidth, kRelaxed);
        }
        f.State.store(state, kRelaxed);
    }
}

void TMChFIFO::WriteInterleaved(const double* src, int32_t frames, int32_t sourceChannels)
{
    if (frames <= 0)
        return;
    const int32_t sc = std::max(sourceChannels, 0);
    if (sc == 2 && Channels >= 2 && frames < FIFOs[0]->BufSize && frames < FIFOs[1]->BufSize) {
        // Stereo, the common case: both channels in one pass over the source.
        const auto left = FIFOs[0]->Reserve(frames), right = FIFOs[1]->Reserve(frames);
        for (int32_t done = 0; done < frames;) {
            const size_t at = static_cast<size_t>(done);
            const bool l0 = at < left[0].size(), r0 = at < right[0].size();
            double* l = l0 ? left[0].data() + at : left[1].data() + (at - left[0].size());
            double* r = r0 ? right[0].data() + at : right[1].data() + (at - right[0].size());
            const size_t lRun = l0 ? left[0].size() - at : left[1].size() - (at - left[0].size());
            const size_t rRun = r0 ? right[0].size() - at : right[1].size() - (at - right[0].size());
            const auto len = static_cast<int32_t>(std::min(lRun, rRun));
            Deinterleave2(src + 2 * at, l, r, len);
            done += len;
        }
        FIFOs[0]->Commit(frames);
        FIFOs[1]->Commit(frames);
        for (int32_t i = 2; i < Channels; ++i)
            FIFOs[i]->WriteZeros(frames);
        return;
    }
    for (int32_t i = 0; i < Channels; ++i) {
        if (i < sc)
            FIFOs[i]->WriteStrided(src + i, frames, sc);
        else if (sc == 1)
            FIFOs[i]->Write(src, frames);
        else
            FIFOs[i]->WriteZeros(frames);
    }
}

// Channels of ours that the destination lacks are drained too, so that they stay in
// step with the rest and never fill up and block the writer.
void TMChFIFO::TransferTo(TMChFIFO& dest, int32_t frames)
{
    if (&dest == this)
        return;
    TakeReader();
    const int32_t n = std::min(frames, dest.Free());
    if (n <= 0)
        return;
    for (int32_t i = 0; i < std::max(Channels, dest.Channels); ++i) {
        if (i >= dest.Channels)
            FIFOs[i]->Skip(n);
        else if (i < Channels)
            dest.FIFOs[i]->WriteFrom(*FIFOs[i], n);
        else
            dest.FIFOs[i]->WriteZeros(n);
    }
}

// While a set is being published, the channels' own (the reader's last) count.
int32_t TMChFIFO::Available() const
{
    if (Channels == 0)
        return 0;
    TFIFOReader newest;
    const bool known = TryLoad(newest);
    int32_t m = std::numeric_limits<int32_t>::max();
    for (int32_t i = 0; i < Channels; ++i)
        m = std::min(m, known ? FIFOs[i]->Available(newest) : FIFOs[i]->Available());
    return m;
}

// The writer leaves room for the kernel the reader uses now and for the one it will
// take from the newest set.
int32_t TMChFIFO::Free() const
{
    if (Channels == 0)
        return 0;
    TFIFOReader published;
    const bool known = TryLoad(published);
    int32_t m = std::numeric_limits<int32_t>::max();
    for (int32_t i = 0; i < Channels; ++i) {
        const TFIFO& f = *FIFOs[i];
        bool interpolate = f.Interpolate.load(kRelaxed);
        int32_t halfWidth = f.HalfWidth.load(kRelaxed);
        if (known) {
            interpolate = interpolate || published.Interpolate;
            halfWidth = std::max(halfWidth, published.HalfWidth);
        }
        m = std::min(m, f.Free(interpolate, halfWidth));
    }
    return m;
}

int32_t TMChFIFO::PlayingAvailable()
{
    TakeReader();
    if (State.load(kRelaxed) != 2 || Channels == 0)
        return 0;
    int32_t m = std::numeric_limits<int32_t>::max();
    for (int32_t i = 0; i < Channels; ++i)
        m = std::min(m, FIFOs[i]->Available());
    return m;
}

void TMChFIFO::Reset()
{
    for (int32_t i = 0; i < Channels; ++i)
        FIFOs[i]->Reset();
}

} // namespace marlix
