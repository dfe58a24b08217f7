#pragma once
#include <cstdint>

namespace marlix {

// Sample format codes: 8 (unsigned, zero at 128), 16, 24 (packed), 32 (signed
// little-endian integers), 33 (single float) and 65 (double float). Bytes per sample is
// the code div 8; floating samples have full scale +-1.0.
bool IsSampleFormat(int bits);
bool IsFloatFormat(int bits);

// Converts `count` samples of one format into another. Integer narrowing drops low bits,
// floating to integer rounds to nearest (ties to even) and keeps the low bits: nothing
// saturates, so callers clip first when values may reach full scale.
using SampleConverter = void (*)(const void* src, void* dst, int count);

// The converter for an ordered pair of format codes; null when either code is unknown.
SampleConverter FindConverter(int fromBits, int toBits);
// Runs the pair's converter; does nothing for an unknown code.
void ConvertSamples(int fromBits, const void* src, int toBits, void* dst, int count);

// Interleaved bytes <-> planar channels, `frames` frames of `channelCount` samples each.
void Deinterleave(const void* src, void* const* channels, int bytesPerSample, int channelCount, int frames);
void Interleave(const void* const* channels, void* dst, int bytesPerSample, int channelCount, int frames);

// 32-bit words between planar channels and an interleaved array, frames first..last
// inclusive; frame f of channel c is interleaved[f * channelCount + c].
void Interleave32(const void* const* channels, void* interleaved, int first, int channelCount, int last);
void Deinterleave32(void* const* channels, const void* interleaved, int first, int channelCount, int last);

void AddDoubles(const double* src, double* dst, int count);
void ScaleDoubles(double* data, int count, double factor);

// A block of up to 16 planar channels of one sample format. The block owns its channel
// arrays: every array of channel i < Channels is exactly Size bytes, the rest are null.
class TFlexBuf {
public:
    static constexpr int MaxChannels = 16;

    void* Data[MaxChannels];
    int32_t Channels;
    int32_t Length;
    int32_t Size;
    int32_t Bits;

    TFlexBuf();
    virtual ~TFlexBuf();
    TFlexBuf(const TFlexBuf&) = delete;
    TFlexBuf& operator=(const TFlexBuf&) = delete;

    // Empties the fields without freeing anything.
    void Init();
    void FreeData();
    // Re-allocates as `channels` x `length` samples of `bits`, copied from source[i]
    // (Size bytes each) when given, else zero-filled. Throws std::invalid_argument for
    // more than 16 channels or negative counts, std::length_error when a channel would
    // exceed 2^31 - 1 bytes.
    void SetBuf(const void* const* source, int channels, int bits, int length);
    void Assign(const TFlexBuf& other);

    int GetChannels() const { return Channels; }
    int GetBits() const { return Bits; }
    int GetLength() const { return Length; }
    int GetBytesPerSample() const { return Bits / 8; }

    // Converts every channel; no effect for the current code, an empty block or an
    // unknown target code.
    void ConvertBits(int newBits);
    // The channel arrays, converted first when wantedBits is non-zero and differs.
    void** GetData(int wantedBits = 0);
    // Zero-fills every byte (for code 8 that is the most negative value, not silence).
    void Clear();

    // The following work on floating blocks (33, 65) only and do nothing otherwise.
    // Converts `other` to this format, then keeps the larger value sample by sample in
    // the channels and frames both blocks have.
    void MaxWith(TFlexBuf& other);
    // Every sample not >= level becomes 0.
    void Threshold(double level);
    // v >= 2^-32 becomes 6 * log2(v), everything else -192.
    void ToLogScale();
    void Scale(float factor);
    // peaks[i] = max(peaks[i], |sample|) over channel i; the caller initialises peaks.
    void PeakAbs(float* peaks) const;
    void WindowHann();
    void WindowHamming();
    void WindowBlackman();
    void WindowBlackmanHarris();
    void WindowTriangle();
    // Window by its settings number: 1 Hann, 2 Hamming, 3 Blackman, 4 Blackman-Harris,
    // 5 Triangle; any other number leaves the block as it is.
    void Window(int number);

private:
    void Install(void* const* arrays, int channels, int bits, int length, int size);
    void ApplyWindow(long double (*w)(int i, int n));
};

} // namespace marlix
