#include "base/flexbuf.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <numbers>
#include <vector>

using marlix::TFlexBuf;

namespace {

const int kFormats[] = {8, 16, 24, 32, 33, 65};

bool IsFloat(int bits) { return bits == 33 || bits == 65; }

// A sample in the abstract: the integer value (the raw byte for 8 bits) or the floating value.
struct Sample {
    int64_t i = 0;
    double v = 0;
};

// Round half to even, written out rather than left to the rounding mode.
int64_t NearestEven(long double x)
{
    const long double f = std::floor(x);
    const auto k = static_cast<int64_t>(f);
    const long double frac = x - f;
    if (frac > 0.5L)
        return k + 1;
    if (frac < 0.5L)
        return k;
    return k % 2 == 0 ? k : k + 1;
}

// The conversion table's formulas, one cell at a time.
Sample Expected(int from, Sample s, int to)
{
    if (from == to)
        return s;
    Sample out;
    if (IsFloat(from)) {
        const long double v = s.v;
        switch (to) {
        case 8: out.i = (NearestEven(v * 128) + 128) & 0xFF; break;
        case 16: out.i = NearestEven(v * 32768); break;
        case 24: out.i = NearestEven(v * 2147483648.0L) >> 8; break;
        case 32: out.i = NearestEven(v * 2147483648.0L); break;
        case 33: out.v = static_cast<float>(s.v); break;
        case 65: out.v = s.v; break;
        }
        return out;
    }
    const int64_t x = s.i;
    const int64_t b = x - 128; // only meaningful when from == 8
    switch (to) {
    case 8: out.i = from == 16 ? (x >> 8) + 128 : from == 24 ? (x >> 16) + 128 : (x >> 24) + 128; break;
    case 16: out.i = from == 8 ? b * 256 : from == 24 ? x >> 8 : x >> 16; break;
    case 24: out.i = from == 8 ? b * 65536 : from == 16 ? x * 256 : x >> 8; break;
    case 32: out.i = from == 8 ? b * 16777216 : from == 16 ? x * 65536 : x * 256; break;
    default: {
        const double v = from == 8 ? b / 128.0 : from == 16 ? x / 32768.0 : from == 24 ? x / 8388608.0
                                                                             : x / 2147483648.0;
        out.v = to == 33 ? static_cast<float>(v) : v;
    }
    }
    return out;
}

void Append(std::vector<uint8_t>& out, int bits, Sample s)
{
    if (bits == 33) {
        const float f = static_cast<float>(s.v);
        const auto* p = reinterpret_cast<const uint8_t*>(&f);
        out.insert(out.end(), p, p + 4);
    } else if (bits == 65) {
        const auto* p = reinterpret_cast<const uint8_t*>(&s.v);
        out.insert(out.end(), p, p + 8);
    } else {
        const auto u = static_cast<uint64_t>(s.i);
        for (int k = 0; k < bits / 8; ++k)
            out.push_back(static_cast<uint8_t>(u >> (8 * k)));
    }
}

std::vector<Sample> Representative(int bits)
{
    std::vector<int64_t> ints;
    switch (bits) {
    case 8: ints = {0, 1, 127, 128, 129, 200, 255}; break;
    case 16: ints = {-32768, -32767, -257, -256, -1, 0, 1, 255, 256, 0x1234, 32767}; break;
    case 24: ints = {-8388608, -65537, -256, -1, 0, 1, 0x123456, 8388607}; break;
    case 32: ints = {INT32_MIN, -16777217, -65536, -1, 0, 1, 0x12345678, INT32_MAX}; break;
    default: break;
    }
    std::vector<Sample> out;
    for (int64_t i : ints)
        out.push_back({i, 0});
    if (IsFloat(bits)) {
        // Full scale (which wraps), one LSB of several widths, ties at several scales.
        const double vs[] = {-1.0, -0.5, 0.0, 1 / 32768.0, 1 / 128.0, 0.5 / 128, 1.5 / 128, 2.5 / 32768,
                             -2.5 / 32768, 3.5 / 2147483648.0, 384.5 / 2147483648.0, 0.3, 0.999,
                             1.0, 1.5, -1.25};
        for (double v : vs)
            out.push_back({0, bits == 33 ? static_cast<float>(v) : v});
    }
    return out;
}

std::vector<uint8_t> Bytes(const void* p, size_t n)
{
    auto* b = static_cast<const uint8_t*>(p);
    return {b, b + n};
}

// A block of `bits` whose channel c holds values[c].
template <class T>
void Fill(TFlexBuf& buf, int bits, const std::vector<std::vector<T>>& values)
{
    std::vector<const void*> src;
    for (const auto& ch : values)
        src.push_back(ch.data());
    buf.SetBuf(src.data(), int(values.size()), bits, int(values[0].size()));
}

template <class T>
std::vector<T> Channel(const TFlexBuf& buf, int c)
{
    const T* p = static_cast<const T*>(buf.Data[c]);
    return {p, p + buf.Length};
}

} // namespace

TEST(FlexBufConvert, EveryPairFollowsTheTable)
{
    for (int from : kFormats) {
        for (int to : kFormats) {
            SCOPED_TRACE(testing::Message() << from << " -> " << to);
            std::vector<uint8_t> src, want;
            const auto samples = Representative(from);
            for (const Sample& s : samples) {
                Append(src, from, s);
                Append(want, to, Expected(from, s, to));
            }
            std::vector<uint8_t> got(want.size(), 0xAA);
            ASSERT_NE(marlix::FindConverter(from, to), nullptr);
            marlix::ConvertSamples(from, src.data(), to, got.data(), int(samples.size()));
            EXPECT_EQ(got, want);
        }
    }
}

TEST(FlexBufConvert, KnownValues)
{
    uint8_t out[8] = {};
    const int16_t minus32768 = -32768;
    marlix::ConvertSamples(16, &minus32768, 8, out, 1);
    EXPECT_EQ(out[0], 0);

    const uint8_t zero8 = 0, full8 = 255;
    int16_t s16 = 0;
    marlix::ConvertSamples(8, &zero8, 16, &s16, 1);
    EXPECT_EQ(s16, -32768);
    int32_t s32 = 0;
    marlix::ConvertSamples(8, &full8, 32, &s32, 1);
    EXPECT_EQ(s32, 127 << 24);

    const uint8_t minFull24[3] = {0x00, 0x00, 0x80};
    float f = 0;
    double d = 0;
    marlix::ConvertSamples(24, minFull24, 33, &f, 1);
    marlix::ConvertSamples(24, minFull24, 65, &d, 1);
    EXPECT_EQ(f, -1.0f);
    EXPECT_EQ(d, -1.0);

    const uint8_t s24[3] = {0x11, 0x22, 0x33};
    marlix::ConvertSamples(24, s24, 32, out, 1);
    EXPECT_EQ(Bytes(out, 4), (std::vector<uint8_t>{0x00, 0x11, 0x22, 0x33}));

    const double one = 1.0;
    marlix::ConvertSamples(65, &one, 16, &s16, 1);
    EXPECT_EQ(s16, -32768);

    // 0.999 * 2^31 = 2145336164.352 -> 2145336164 = 0x7FDF3B64; bytes 1..3 are 3B DF 7F.
    const double almost = 0.999;
    marlix::ConvertSamples(65, &almost, 24, out, 1);
    EXPECT_EQ(Bytes(out, 3), (std::vector<uint8_t>{0x3B, 0xDF, 0x7F}));
}

TEST(FlexBufConvert, UnknownCodesHaveNoConverter)
{
    EXPECT_EQ(marlix::FindConverter(12, 16), nullptr);
    EXPECT_EQ(marlix::FindConverter(16, 64), nullptr);
    EXPECT_EQ(marlix::FindConverter(0, 0), nullptr);
    uint8_t dst[4] = {9, 9, 9, 9};
    const int32_t src = 5;
    marlix::ConvertSamples(31, &src, 16, dst, 1);
    EXPECT_EQ(Bytes(dst, 4), (std::vector<uint8_t>{9, 9, 9, 9}));
}

TEST(FlexBufConvertBits, LosslessRoundTrips)
{
    std::vector<int16_t> all16;
    for (int v = -32768; v <= 32767; ++v)
        all16.push_back(static_cast<int16_t>(v));
    std::vector<uint8_t> all8;
    for (int v = 0; v < 256; ++v)
        all8.push_back(static_cast<uint8_t>(v));
    const std::vector<int32_t> some32 = {INT32_MIN, -123456789, -1, 0, 1, 987654321, INT32_MAX};

    TFlexBuf b;
    Fill(b, 16, std::vector<std::vector<int16_t>>{all16, all16});
    for (int via : {65, 33, 24, 32}) {
        b.ConvertBits(via);
        EXPECT_EQ(b.Bits, via);
        EXPECT_EQ(b.Size, b.Length * (via / 8));
        b.ConvertBits(16);
        EXPECT_EQ(Channel<int16_t>(b, 0), all16) << "via " << via;
        EXPECT_EQ(Channel<int16_t>(b, 1), all16) << "via " << via;
    }
    Fill(b, 8, std::vector<std::vector<uint8_t>>{all8});
    b.ConvertBits(33);
    b.ConvertBits(8);
    EXPECT_EQ(Channel<uint8_t>(b, 0), all8);
    Fill(b, 32, std::vector<std::vector<int32_t>>{some32});
    b.ConvertBits(65);
    b.ConvertBits(32);
    EXPECT_EQ(Channel<int32_t>(b, 0), some32);
}

TEST(FlexBufConvertBits, EmptyBlocksAndUnknownCodes)
{
    TFlexBuf b;
    b.SetBuf(nullptr, 2, 16, 0);
    b.ConvertBits(65);
    EXPECT_EQ(b.Bits, 16);

    const std::vector<int16_t> v = {1000, -1000};
    Fill(b, 16, std::vector<std::vector<int16_t>>{v});
    b.ConvertBits(20);
    EXPECT_EQ(b.Bits, 16);
    EXPECT_EQ(Channel<int16_t>(b, 0), v);
    EXPECT_EQ(b.GetData(0), b.Data);
    EXPECT_EQ(b.Bits, 16);

    // A block in an unknown code converts to silence, never to stale memory.
    b.SetBuf(nullptr, 1, 12, 3);
    std::memset(b.Data[0], 0x55, 3);
    void** data = b.GetData(65);
    EXPECT_EQ(b.Bits, 65);
    EXPECT_EQ(Channel<double>(b, 0), (std::vector<double>{0, 0, 0}));
    EXPECT_EQ(data, b.Data);
}

TEST(FlexBufBlock, SetBufAssignAndClear)
{
    const std::vector<int16_t> a = {1, 2, 3}, c = {4, 5, 6};
    TFlexBuf b;
    EXPECT_EQ(b.Channels + b.Length + b.Size + b.Bits, 0);
    Fill(b, 16, std::vector<std::vector<int16_t>>{a, c});
    EXPECT_EQ(b.Size, 6);
    EXPECT_EQ(b.GetBytesPerSample(), 2);
    EXPECT_EQ(b.Data[2], nullptr);

    TFlexBuf copy;
    copy.Assign(b);
    static_cast<int16_t*>(b.Data[0])[0] = 99;
    EXPECT_EQ(Channel<int16_t>(copy, 0), a);
    EXPECT_EQ(Channel<int16_t>(copy, 1), c);
    copy.Assign(copy);
    EXPECT_EQ(Channel<int16_t>(copy, 1), c);

    // Re-allocating from the block's own arrays keeps their contents.
    copy.SetBuf(copy.Data, 1, 16, 2);
    EXPECT_EQ(Channel<int16_t>(copy, 0), (std::vector<int16_t>{1, 2}));
    EXPECT_EQ(copy.Data[1], nullptr);

    copy.SetBuf(nullptr, 3, 24, 4);
    for (int ch = 0; ch < 3; ++ch)
        EXPECT_EQ(Bytes(copy.Data[ch], 12), std::vector<uint8_t>(12, 0));

    Fill(b, 8, std::vector<std::vector<uint8_t>>{{128, 200}});
    b.Clear();
    EXPECT_EQ(Channel<uint8_t>(b, 0), (std::vector<uint8_t>{0, 0}));

    EXPECT_THROW(b.SetBuf(nullptr, 17, 16, 1), std::invalid_argument);
    EXPECT_THROW(b.SetBuf(nullptr, 1, 16, -1), std::invalid_argument);
    EXPECT_THROW(b.SetBuf(nullptr, 1, 65, 1 << 29), std::length_error);
}

TEST(FlexBufBlock, MaxWithTouchesSharedChannelsAndFrames)
{
    TFlexBuf mine, other;
    Fill(mine, 65, std::vector<std::vector<double>>{{0.5, -0.5, 0.1}, {-1, -1, -1}, {7, 7, 7}, {8, 8, 8}});
    Fill(other, 16, std::vector<std::vector<int16_t>>{{0, 0}, {16384, -32768}});
    mine.MaxWith(other);
    EXPECT_EQ(other.Bits, 65);
    EXPECT_EQ(Channel<double>(other, 1), (std::vector<double>{0.5, -1.0}));
    EXPECT_EQ(Channel<double>(mine, 0), (std::vector<double>{0.5, 0, 0.1}));
    EXPECT_EQ(Channel<double>(mine, 1), (std::vector<double>{0.5, -1, -1}));
    EXPECT_EQ(Channel<double>(mine, 2), (std::vector<double>{7, 7, 7}));
    EXPECT_EQ(Channel<double>(mine, 3), (std::vector<double>{8, 8, 8}));
}

TEST(FlexBufBlock, FloatOperations)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    TFlexBuf b;
    Fill(b, 65, std::vector<std::vector<double>>{{-1, 0.1, 0.5, 0.7, nan}});
    b.Threshold(0.5);
    EXPECT_EQ(Channel<double>(b, 0), (std::vector<double>{0, 0, 0.5, 0.7, 0}));

    Fill(b, 33, std::vector<std::vector<float>>{{1, 0.5f, 0, -1, 4, 0x1p-31f, 0x1p-33f, -0.0f}});
    b.ToLogScale();
    EXPECT_EQ(Channel<float>(b, 0), (std::vector<float>{0, -6, -192, -192, 12, -186, -192, -192}));

    Fill(b, 33, std::vector<std::vector<float>>{{1, -3}, {0.25f, -0.5f}});
    b.Scale(0.5f);
    EXPECT_EQ(Channel<float>(b, 1), (std::vector<float>{0.125f, -0.25f}));
    float peaks[2] = {1.0f, 0.1f};
    b.PeakAbs(peaks);
    EXPECT_EQ(peaks[0], 1.5f);
    EXPECT_EQ(peaks[1], 0.25f);

    // A factor of exactly 1 skips the pass, so even a signalling NaN keeps its bits.
    const double snan = std::numeric_limits<double>::signaling_NaN();
    Fill(b, 65, std::vector<std::vector<double>>{{snan, -0.0}});
    const auto before = Bytes(b.Data[0], 16);
    b.Scale(1.0f);
    EXPECT_EQ(Bytes(b.Data[0], 16), before);
}

TEST(FlexBufBlock, FloatOperationsLeaveIntegerBlocksAlone)
{
    TFlexBuf b, other;
    Fill(b, 16, std::vector<std::vector<int16_t>>{{100, -200, 300}});
    Fill(other, 16, std::vector<std::vector<int16_t>>{{1000, 1000, 1000}});
    const auto before = Bytes(b.Data[0], 6);
    float peak = 0;
    b.Scale(2);
    b.Threshold(1e9);
    b.ToLogScale();
    b.MaxWith(other);
    b.PeakAbs(&peak);
    for (int w = 1; w <= 5; ++w)
        b.Window(w);
    EXPECT_EQ(Bytes(b.Data[0], 6), before);
    EXPECT_EQ(peak, 0);
    EXPECT_EQ(other.Bits, 16);
}

namespace {

std::vector<double> WindowOfOnes(int number, int n, int bits = 65)
{
    TFlexBuf b;
    std::vector<double> ones(size_t(n), 1.0);
    Fill(b, 65, std::vector<std::vector<double>>{ones, ones});
    b.ConvertBits(bits);
    b.Window(number);
    b.ConvertBits(65);
    EXPECT_EQ(Channel<double>(b, 0), Channel<double>(b, 1));
    return Channel<double>(b, 0);
}

double Formula(int number, int i, int n)
{
    const double pi = std::numbers::pi;
    const double a = (i + 0.5) * 2 * pi / (n + 2);
    switch (number) {
    case 1: return 0.5 + 0.5 * std::cos((i - (n - 1) / 2.0) * 2 * pi / (n + 1));
    case 2: return 0.54 - 0.46 * std::cos(2 * pi * i / (n + 1));
    case 3: return 0.42 - 0.5 * std::cos(2 * pi * i / (n + 1)) + 0.08 * std::cos(4 * pi * i / (n + 1));
    case 4: return 0.35875 - 0.48829 * std::cos(a) + 0.14128 * std::cos(2 * a) - 0.01168 * std::cos(3 * a);
    default: return i < n / 2 ? 2.0 * (i + 1) / (n + 1) : 2.0 * (n - i) / (n + 1);
    }
}

} // namespace

TEST(FlexBufWindow, MatchesTheFormulas)
{
    for (int number = 1; number <= 5; ++number)
        for (int n : {1, 2, 7, 64}) {
            const auto w = WindowOfOnes(number, n);
            const auto wf = WindowOfOnes(number, n, 33);
            for (int i = 0; i < n; ++i) {
                EXPECT_NEAR(w[size_t(i)], Formula(number, i, n), 1e-14) << number << " n=" << n << " i=" << i;
                EXPECT_NEAR(wf[size_t(i)], Formula(number, i, n), 1e-7) << number << " n=" << n << " i=" << i;
            }
        }
}

TEST(FlexBufWindow, KnownShapes)
{
    const auto t4 = WindowOfOnes(5, 4);
    const double e4[] = {0.4, 0.8, 0.8, 0.4};
    const auto t5 = WindowOfOnes(5, 5);
    const double e5[] = {1 / 3.0, 2 / 3.0, 1, 2 / 3.0, 1 / 3.0};
    for (int i = 0; i < 4; ++i)
        EXPECT_DOUBLE_EQ(t4[size_t(i)], e4[i]);
    for (int i = 0; i < 5; ++i)
        EXPECT_DOUBLE_EQ(t5[size_t(i)], e5[i]);

    const auto hann = WindowOfOnes(1, 9);
    EXPECT_DOUBLE_EQ(hann[4], 1.0);
    for (int i = 0; i < 9; ++i)
        EXPECT_NEAR(hann[size_t(i)], hann[size_t(8 - i)], 1e-15);

    EXPECT_EQ(WindowOfOnes(0, 5), std::vector<double>(5, 1.0));
    EXPECT_EQ(WindowOfOnes(6, 5), std::vector<double>(5, 1.0));
}

TEST(FlexBufRoutines, InterleaveAndBack)
{
    // Three channels of 3-byte samples, two frames.
    const std::vector<uint8_t> inter = {1, 2, 3, 11, 12, 13, 21, 22, 23, 4, 5, 6, 14, 15, 16, 24, 25, 26};
    std::vector<uint8_t> c0(6), c1(6), c2(6);
    void* ch[] = {c0.data(), c1.data(), c2.data()};
    marlix::Deinterleave(inter.data(), ch, 3, 3, 2);
    EXPECT_EQ(c0, (std::vector<uint8_t>{1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(c2, (std::vector<uint8_t>{21, 22, 23, 24, 25, 26}));
    std::vector<uint8_t> back(inter.size());
    const void* cch[] = {c0.data(), c1.data(), c2.data()};
    marlix::Interleave(cch, back.data(), 3, 3, 2);
    EXPECT_EQ(back, inter);
}

TEST(FlexBufRoutines, Interleave32CoversFirstToLast)
{
    for (int channels : {2, 3}) {
        std::vector<std::vector<float>> planar(size_t(channels), std::vector<float>(4));
        std::vector<const void*> src;
        for (int c = 0; c < channels; ++c) {
            for (int f = 0; f < 4; ++f)
                planar[size_t(c)][size_t(f)] = float(10 * c + f);
            src.push_back(planar[size_t(c)].data());
        }
        std::vector<float> inter(size_t(4 * channels), -1.0f);
        marlix::Interleave32(src.data(), inter.data(), 1, channels, 2);
        for (int f = 0; f < 4; ++f)
            for (int c = 0; c < channels; ++c)
                EXPECT_EQ(inter[size_t(f * channels + c)], f == 1 || f == 2 ? float(10 * c + f) : -1.0f);

        std::vector<std::vector<float>> out(size_t(channels), std::vector<float>(4, -2.0f));
        std::vector<void*> dst;
        for (auto& o : out)
            dst.push_back(o.data());
        marlix::Deinterleave32(dst.data(), inter.data(), 1, channels, 2);
        for (int c = 0; c < channels; ++c)
            EXPECT_EQ(out[size_t(c)], (std::vector<float>{-2, float(10 * c + 1), float(10 * c + 2), -2}));
    }
}

TEST(FlexBufRoutines, AddAndScaleDoubles)
{
    std::vector<double> a = {1, 2, 3}, b = {10, 20, 30};
    marlix::AddDoubles(a.data(), b.data(), 2);
    EXPECT_EQ(b, (std::vector<double>{11, 22, 30}));
    marlix::ScaleDoubles(a.data(), 3, -0.5);
    EXPECT_EQ(a, (std::vector<double>{-0.5, -1, -1.5}));
}
