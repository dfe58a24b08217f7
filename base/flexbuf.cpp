#include "base/flexbuf.h"

#include <algorithm>
#include <array>
#include <bit>
#include <climits>
#include <cmath>
#include <cstring>
#include <memory>
#include <numbers>
#include <stdexcept>
#include <type_traits>
#include <vector>

namespace marlix {

static_assert(std::endian::native == std::endian::little, "sample formats are read in host order");

namespace {

constexpr std::array<int, 6> kFormats = {8, 16, 24, 32, 33, 65};
constexpr double kInvFullScale32 = 1.0 / 2147483648.0;

int FormatIndex(int bits)
{
    auto it = std::find(kFormats.begin(), kFormats.end(), bits);
    return it == kFormats.end() ? -1 : static_cast<int>(it - kFormats.begin());
}

template <int Bits>
constexpr bool kIsFloat = Bits == 33 || Bits == 65;
template <int Bits>
using FloatOf = std::conditional_t<Bits == 33, float, double>;

// An integer sample as a left-justified 32-bit value.
template <int Bits>
int32_t LoadInt(const uint8_t* p)
{
    if constexpr (Bits == 8) {
        return (int32_t(p[0]) - 128) * (1 << 24);
    } else if constexpr (Bits == 16) {
        int16_t s;
        std::memcpy(&s, p, 2);
        return int32_t(s) * 65536;
    } else if constexpr (Bits == 24) {
        return static_cast<int32_t>(uint32_t(p[0]) << 8 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 24);
    } else {
        int32_t s;
        std::memcpy(&s, p, 4);
        return s;
    }
}

// Keeps the upper bits of a left-justified 32-bit value.
template <int Bits>
void StoreInt(uint8_t* p, int32_t x)
{
    if constexpr (Bits == 8) {
        p[0] = static_cast<uint8_t>((x >> 24) + 128);
    } else if constexpr (Bits == 16) {
        const auto s = static_cast<int16_t>(x >> 16);
        std::memcpy(p, &s, 2);
    } else if constexpr (Bits == 24) {
        p[0] = static_cast<uint8_t>(x >> 8);
        p[1] = static_cast<uint8_t>(x >> 16);
        p[2] = static_cast<uint8_t>(x >> 24);
    } else {
        std::memcpy(p, &x, 4);
    }
}

template <int Bits>
FloatOf<Bits> LoadFloat(const uint8_t* p)
{
    FloatOf<Bits> v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

template <int Bits>
void StoreFloat(uint8_t* p, FloatOf<Bits> v)
{
    std::memcpy(p, &v, sizeof v);
}

// Floating to integer: 8 and 16 bits round at their own scale; 24 bits rounds at 2^31
// and keeps bytes 1..3; everything wraps (unsigned arithmetic keeps that defined).
template <int Bits>
void StoreFromFloat(uint8_t* p, double v)
{
    if constexpr (Bits == 8) {
        p[0] = static_cast<uint8_t>(static_cast<unsigned long long>(std::llrint(v * 128.0)) + 128u);
    } else if constexpr (Bits == 16) {
        const auto s = static_cast<int16_t>(std::llrint(v * 32768.0));
        std::memcpy(p, &s, 2);
    } else if constexpr (Bits == 24) {
        const auto r = static_cast<unsigned long long>(std::llrint(v * 2147483648.0));
        p[0] = static_cast<uint8_t>(r >> 8);
        p[1] = static_cast<uint8_t>(r >> 16);
        p[2] = static_cast<uint8_t>(r >> 24);
    } else {
        const auto s = static_cast<int32_t>(std::llrint(v * 2147483648.0));
        std::memcpy(p, &s, 4);
    }
}

template <int From, int To>
void Convert(const void* src, void* dst, int count)
{
    constexpr int srcBytes = From / 8;
    constexpr int dstBytes = To / 8;
    auto* s = static_cast<const uint8_t*>(src);
    auto* d = static_cast<uint8_t*>(dst);
    if constexpr (From == To) {
        if (count > 0)
            std::memcpy(d, s, size_t(count) * srcBytes);
    } else {
        for (int i = 0; i < count; ++i, s += srcBytes, d += dstBytes) {
            if constexpr (!kIsFloat<From> && !kIsFloat<To>)
                StoreInt<To>(d, LoadInt<From>(s));
            else if constexpr (!kIsFloat<From>)
                StoreFloat<To>(d, static_cast<FloatOf<To>>(LoadInt<From>(s) * kInvFullScale32));
            else if constexpr (!kIsFloat<To>)
                StoreFromFloat<To>(d, static_cast<double>(LoadFloat<From>(s)));
            else
                StoreFloat<To>(d, static_cast<FloatOf<To>>(LoadFloat<From>(s)));
        }
    }
}

template <int From>
constexpr std::array<SampleConverter, 6> kRow = {
    &Convert<From, 8>, &Convert<From, 16>, &Convert<From, 24>,
    &Convert<From, 32>, &Convert<From, 33>, &Convert<From, 65>};

constexpr std::array<std::array<SampleConverter, 6>, 6> kConverters = {
    kRow<8>, kRow<16>, kRow<24>, kRow<32>, kRow<33>, kRow<65>};

template <size_t N>
void MoveInterleaved(const uint8_t* src, void* const* channels, int channelCount, int frames)
{
    for (int f = 0; f < frames; ++f)
        for (int c = 0; c < channelCount; ++c, src += N)
            std::memcpy(static_cast<uint8_t*>(channels[c]) + size_t(f) * N, src, N);
}

template <size_t N>
void MovePlanar(const void* const* channels, uint8_t* dst, int channelCount, int frames)
{
    for (int f = 0; f < frames; ++f)
        for (int c = 0; c < channelCount; ++c, dst += N)
            std::memcpy(dst, static_cast<const uint8_t*>(channels[c]) + size_t(f) * N, N);
}

inline void Copy32(void* dst, const void* src) { std::memcpy(dst, src, 4); }

// Owns freshly allocated channel arrays until they are handed to a block.
class TChannelArrays {
public:
    TChannelArrays(int channels, int64_t size)
    {
        for (int c = 0; c < channels; ++c)
            Arrays[c] = std::make_unique<uint8_t[]>(static_cast<size_t>(size));
    }
    uint8_t* operator[](int c) const { return Arrays[c].get(); }
    std::array<void*, TFlexBuf::MaxChannels> Release()
    {
        std::array<void*, TFlexBuf::MaxChannels> out{};
        for (size_t c = 0; c < out.size(); ++c)
            out[c] = Arrays[c].release();
        return out;
    }

private:
    std::array<std::unique_ptr<uint8_t[]>, TFlexBuf::MaxChannels> Arrays;
};

int32_t CheckedSize(int64_t length, int bits)
{
    const int64_t size = length * (bits / 8);
    if (size > INT32_MAX)
        throw std::length_error("TFlexBuf: channel larger than 2 GiB");
    return static_cast<int32_t>(size);
}

// Calls f(T* samples, channel) for every channel of a floating block.
template <class Block, class F>
void ForFloatChannels(Block& b, F&& f)
{
    for (int c = 0; c < b.Channels; ++c) {
        if (b.Bits == 33)
            f(static_cast<float*>(b.Data[c]), c);
        else if (b.Bits == 65)
            f(static_cast<double*>(b.Data[c]), c);
    }
}

constexpr long double kPi = std::numbers::pi_v<long double>;

// cos x for x ≥ 0, folded onto |r| ≤ π/4 first: the extended-precision library cosine
// takes a slow multi-word reduction for anything larger.
long double Cos(long double x)
{
    const long long q = static_cast<long long>(x / (kPi / 2) + 0.5L);
    const long double r = x - static_cast<long double>(q) * (kPi / 2);
    switch (q & 3) {
    case 0: return std::cos(r);
    case 1: return -std::sin(r);
    case 2: return -std::cos(r);
    default: return std::sin(r);
    }
}

long double HannAt(int i, int n)
{
    return 0.5L + 0.5L * Cos(std::abs(i - (n - 1) / 2.0L) * 2 * kPi / (n + 1));
}

long double HammingAt(int i, int n)
{
    return 0.54L - 0.46L * Cos(2 * kPi * i / (n + 1));
}

// The multiple-angle cosines come from cos a by their polynomials (2c² − 1, 4c³ − 3c):
// one library call per tap instead of three, which matters for windows of 65 535 taps.
long double BlackmanAt(int i, int n)
{
    const long double c = Cos(2 * kPi * i / (n + 1));
    return 0.42L - 0.5L * c + 0.08L * (2 * c * c - 1);
}

long double BlackmanHarrisAt(int i, int n)
{
    const long double c = Cos((i + 0.5L) * 2 * kPi / (n + 2));
    return 0.35875L - 0.48829L * c + 0.14128L * (2 * c * c - 1) - 0.01168L * c * (4 * c * c - 3);
}

long double TriangleAt(int i, int n)
{
    const long double k = i < n / 2 ? i + 1 : n - i;
    return 2 * k / (n + 1);
}

} // namespace

bool IsSampleFormat(int bits) { return FormatIndex(bits) >= 0; }
bool IsFloatFormat(int bits) { return bits == 33 || bits == 65; }

SampleConverter FindConverter(int fromBits, int toBits)
{
    const int from = FormatIndex(fromBits);
    const int to = FormatIndex(toBits);
    return from < 0 || to < 0 ? nullptr : kConverters[from][to];
}

void ConvertSamples(int fromBits, const void* src, int toBits, void* dst, int count)
{
    if (SampleConverter convert = FindConverter(fromBits, toBits))
        convert(src, dst, count);
}

void Deinterleave(const void* src, void* const* channels, int bytesPerSample, int channelCount, int frames)
{
    auto* s = static_cast<const uint8_t*>(src);
    auto* ch = channels;
    switch (bytesPerSample) {
    case 1: MoveInterleaved<1>(s, ch, channelCount, frames); break;
    case 2: MoveInterleaved<2>(s, ch, channelCount, frames); break;
    case 3: MoveInterleaved<3>(s, ch, channelCount, frames); break;
    case 4: MoveInterleaved<4>(s, ch, channelCount, frames); break;
    case 8: MoveInterleaved<8>(s, ch, channelCount, frames); break;
    default: break;
    }
}

void Interleave(const void* const* channels, void* dst, int bytesPerSample, int channelCount, int frames)
{
    auto* ch = channels;
    auto* d = static_cast<uint8_t*>(dst);
    switch (bytesPerSample) {
    case 1: MovePlanar<1>(ch, d, channelCount, frames); break;
    case 2: MovePlanar<2>(ch, d, channelCount, frames); break;
    case 3: MovePlanar<3>(ch, d, channelCount, frames); break;
    case 4: MovePlanar<4>(ch, d, channelCount, frames); break;
    case 8: MovePlanar<8>(ch, d, channelCount, frames); break;
    default: break;
    }
}

void Interleave32(const void* const* channels, void* interleaved, int first, int channelCount, int last)
{
    auto* dst = static_cast<uint8_t*>(interleaved);
    if (channelCount == 2) {
        auto* l = static_cast<const uint8_t*>(channels[0]);
        auto* r = static_cast<const uint8_t*>(channels[1]);
        for (int f = first; f <= last; ++f) {
            Copy32(dst + size_t(f) * 8, l + size_t(f) * 4);
            Copy32(dst + size_t(f) * 8 + 4, r + size_t(f) * 4);
        }
        return;
    }
    for (int f = first; f <= last; ++f)
        for (int c = 0; c < channelCount; ++c)
            Copy32(dst + (size_t(f) * channelCount + c) * 4, static_cast<const uint8_t*>(channels[c]) + size_t(f) * 4);
}

void Deinterleave32(void* const* channels, const void* interleaved, int first, int channelCount, int last)
{
    auto* src = static_cast<const uint8_t*>(interleaved);
    if (channelCount == 2) {
        auto* l = static_cast<uint8_t*>(channels[0]);
        auto* r = static_cast<uint8_t*>(channels[1]);
        for (int f = first; f <= last; ++f) {
            Copy32(l + size_t(f) * 4, src + size_t(f) * 8);
            Copy32(r + size_t(f) * 4, src + size_t(f) * 8 + 4);
        }
        return;
    }
    for (int f = first; f <= last; ++f)
        for (int c = 0; c < channelCount; ++c)
            Copy32(static_cast<uint8_t*>(channels[c]) + size_t(f) * 4, src + (size_t(f) * channelCount + c) * 4);
}

void AddDoubles(const double* src, double* dst, int count)
{
    for (int i = 0; i < count; ++i)
        dst[i] += src[i];
}

void ScaleDoubles(double* data, int count, double factor)
{
    for (int i = 0; i < count; ++i)
        data[i] *= factor;
}

TFlexBuf::TFlexBuf() { Init(); }

TFlexBuf::~TFlexBuf() { FreeData(); }

void TFlexBuf::Init()
{
    std::fill(std::begin(Data), std::end(Data), nullptr);
    Channels = Length = Size = Bits = 0;
}

void TFlexBuf::FreeData()
{
    // Every array is freed, also those of a zero-length block.
    for (void* p : Data)
        delete[] static_cast<uint8_t*>(p);
    Init();
}

void TFlexBuf::Install(void* const* arrays, int channels, int bits, int length, int size)
{
    FreeData();
    std::copy(arrays, arrays + MaxChannels, Data);
    Channels = channels;
    Length = length;
    Size = size;
    Bits = bits;
}

void TFlexBuf::SetBuf(const void* const* source, int channels, int bits, int length)
{
    if (channels < 0 || channels > MaxChannels || bits < 0 || length < 0)
        throw std::invalid_argument("TFlexBuf::SetBuf: bad block shape");
    const int32_t size = CheckedSize(length, bits);
    // The new arrays are filled before the old ones go, so a source inside this block
    // stays valid.
    TChannelArrays fresh(channels, size);
    for (int c = 0; source && c < channels; ++c)
        if (source[c] && size > 0)
            std::memcpy(fresh[c], source[c], size_t(size));
    Install(fresh.Release().data(), channels, bits, length, size);
}

void TFlexBuf::Assign(const TFlexBuf& other)
{
    if (&other != this)
        SetBuf(other.Data, other.Channels, other.Bits, other.Length);
}

void TFlexBuf::ConvertBits(int newBits)
{
    if (newBits == Bits || Length == 0 || !IsSampleFormat(newBits))
        return;
    const int32_t size = CheckedSize(Length, newBits);
    // From an unknown code the new arrays stay zero (silence for every code but 8).
    const SampleConverter convert = FindConverter(Bits, newBits);
    TChannelArrays fresh(Channels, size);
    for (int c = 0; convert && c < Channels; ++c)
        convert(Data[c], fresh[c], Length);
    Install(fresh.Release().data(), Channels, newBits, Length, size);
}

void** TFlexBuf::GetData(int wantedBits)
{
    if (wantedBits != 0 && wantedBits != Bits)
        ConvertBits(wantedBits);
    return Data;
}

void TFlexBuf::Clear()
{
    for (int c = 0; c < Channels; ++c)
        std::memset(Data[c], 0, size_t(Size));
}

void TFlexBuf::MaxWith(TFlexBuf& other)
{
    if (!IsFloatFormat(Bits) || &other == this)
        return;
    other.ConvertBits(Bits);
    if (other.Bits != Bits)
        return;
    const int channels = std::min(Channels, other.Channels);
    const int length = std::min(Length, other.Length);
    ForFloatChannels(*this, [&](auto* p, int c) {
        if (c >= channels)
            return;
        auto* q = static_cast<const std::remove_pointer_t<decltype(p)>*>(other.Data[c]);
        for (int i = 0; i < length; ++i)
            p[i] = std::max(p[i], q[i]);
    });
}

void TFlexBuf::Threshold(double level)
{
    ForFloatChannels(*this, [&](auto* p, int) {
        for (int i = 0; i < Length; ++i)
            if (!(p[i] >= level))
                p[i] = 0;
    });
}

void TFlexBuf::ToLogScale()
{
    constexpr double kFloor = 1.0 / 4294967296.0;
    ForFloatChannels(*this, [&](auto* p, int) {
        for (int i = 0; i < Length; ++i)
            p[i] = p[i] >= kFloor ? 6 * std::log2(p[i]) : -192;
    });
}

void TFlexBuf::Scale(float factor)
{
    if (factor == 1.0f)
        return;
    ForFloatChannels(*this, [&](auto* p, int) {
        for (int i = 0; i < Length; ++i)
            p[i] *= factor;
    });
}

void TFlexBuf::PeakAbs(float* peaks) const
{
    ForFloatChannels(*this, [&](const auto* p, int c) {
        float peak = peaks[c];
        for (int i = 0; i < Length; ++i)
            peak = std::max(peak, static_cast<float>(std::abs(p[i])));
        peaks[c] = peak;
    });
}

void TFlexBuf::ApplyWindow(long double (*w)(int i, int n))
{
    if (!IsFloatFormat(Bits))
        return;
    std::vector<long double> window(static_cast<size_t>(Length));
    for (int i = 0; i < Length; ++i)
        window[size_t(i)] = w(i, Length);
    ForFloatChannels(*this, [&](auto* p, int) {
        using T = std::remove_reference_t<decltype(*p)>;
        for (int i = 0; i < Length; ++i)
            p[i] = static_cast<T>(p[i] * window[size_t(i)]);
    });
}

void TFlexBuf::WindowHann() { ApplyWindow(HannAt); }
void TFlexBuf::WindowHamming() { ApplyWindow(HammingAt); }
void TFlexBuf::WindowBlackman() { ApplyWindow(BlackmanAt); }
void TFlexBuf::WindowBlackmanHarris() { ApplyWindow(BlackmanHarrisAt); }
void TFlexBuf::WindowTriangle() { ApplyWindow(TriangleAt); }

void TFlexBuf::Window(int number)
{
    switch (number) {
    case 1: WindowHann(); break;
    case 2: WindowHamming(); break;
    case 3: WindowBlackman(); break;
    case 4: WindowBlackmanHarris(); break;
    case 5: WindowTriangle(); break;
    default: break;
    }
}

} // namespace marlix
