#pragma once
#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

namespace marlix {

// The fractional-rate reader's parameters: slots consumed per sample read, interpolation
// on, kernel (0 linear, otherwise Gaussian) and the Gaussian kernel's half-width.
struct TFIFOReader {
    double Step = 1.0;
    bool Interpolate = false;
    int32_t InterpType = 1;
    int32_t HalfWidth = 7;

    bool operator==(const TFIFOReader&) const = default;
};

// One channel of streaming doubles: a single-writer single-reader ring. The reader can
// consume it at a fractional step per output sample, interpolating linearly or with a
// Gaussian kernel of 2 × HalfWidth + 1 slots. BufSize is the capacity + 1.
//
// Thread use: one thread writes (Write*, Free), one thread reads (Read, Available). Each
// side publishes its index with a release store after touching the slots and loads the
// other's with acquire. Reset only while neither side runs. The reader parameters are
// set before streaming; they are relaxed atomics because the multichannel owner copies
// them in from both sides.
class TFIFO {
public:
    // Capacity in samples, limited to 0 … 2^30.
    explicit TFIFO(int32_t capacity);
    TFIFO(const TFIFO&) = delete;
    TFIFO& operator=(const TFIFO&) = delete;

    std::vector<double> Buf;
    const int32_t BufSize;
    std::atomic<int32_t> WriteIndex{0};
    std::atomic<int32_t> ReadIndex{0};
    std::atomic<double> ReadPoint{0.0};
    std::atomic<int32_t> State{0};
    std::atomic<double> Step{1.0};
    std::atomic<bool> Interpolate{false};
    std::atomic<int32_t> InterpType{1}; // 0 linear, otherwise Gaussian
    std::atomic<int32_t> HalfWidth{7};

    void Reset();
    // Stores n samples without looking at Free: the caller bounds what it writes.
    void Write(const double* src, int32_t n);
    // Stores n samples taken every `stride` values of src (one channel of interleaved data).
    void WriteStrided(const double* src, int32_t n, int32_t stride);
    void WriteZeros(int32_t n);
    // Reads n samples; when fewer are available, writes n zeros and consumes nothing.
    void Read(double* dst, int32_t n);
    // Consumes n samples as Read would, without output.
    void Skip(int32_t n);
    // Reads n samples of `src` (as src.Read would) straight into this ring; n is limited
    // to this ring's capacity.
    void WriteFrom(TFIFO& src, int32_t n);
    // In-place access for plain reading and writing, saving a copy through a buffer.
    // Peek: the next n samples as at most two pieces, consumed afterwards by Skip(n); both
    // pieces are empty when the ring interpolates or holds fewer than n. Reserve: the next
    // n slots (unchecked against Free, as Write), published by Commit(n).
    std::array<std::span<const double>, 2> Peek(int32_t n) const;
    // The next n samples without a copy where the ring allows it: in place (InPlace; the
    // caller then consumes them with Skip(n)), or else read into `scratch` (n values, as
    // Read, consumed already).
    struct TView {
        std::array<std::span<const double>, 2> Parts;
        bool InPlace;
    };
    TView PeekOrRead(int32_t n, double* scratch);
    std::array<std::span<double>, 2> Reserve(int32_t n);
    void Commit(int32_t n);
    int32_t Available() const;
    // Samples written and not yet read past, at the writer's rate whatever the reader's
    // step: what the ring holds (either side may ask; the answer may be a moment old).
    double Stored() const;
    // Samples a reader with parameters `r` could read now.
    int32_t Available(const TFIFOReader& r) const;
    int32_t Free() const;
    // Free slots when the reader may use a kernel of up to `halfWidth` slots (and
    // interpolates when `interpolate`), whatever its own parameters say now.
    int32_t Free(bool interpolate, int32_t halfWidth) const;

private:
    struct TReader {
        double step;
        bool interpolate;
        bool linear;
        int32_t halfWidth;
    };
    struct TCursor {
        int32_t index;
        double point;
    };

    TReader Params() const;
    TReader Params(const TFIFOReader& r) const;
    int32_t AvailableFor(const TReader& r, int32_t w) const;
    void ReadInto(const TReader& r, int32_t w, std::span<double> a, std::span<double> b);
    void Publish(TCursor c);
    double Advance(double p, double step) const;
    double NotPast(double start, double end, int32_t w) const;
    TCursor ReadPlain(TCursor c, std::span<double> out) const;
    TCursor ReadLinear(const TReader& r, TCursor c, std::span<double> out) const;
    TCursor ReadGauss(const TReader& r, TCursor c, std::span<double> out) const;
    double GaussAt(double p, int32_t n, double q, double c) const;
    template <class Fill> void WriteWith(int32_t n, Fill fill);
};

// Up to 16 TFIFO channels filled and drained in step, with a transport state and the
// parameters of the fractional-rate reader.
//
// The parameters go across as one set: the controlling side (the filter thread)
// publishes a whole set with SetReader; the reader takes one copy of the newest set into
// every channel with TakeReader, once per block (PlayingAvailable and TransferTo do so
// first), so all channels of a block are read alike and stay in step. Available and Free
// count with the newest set and change nothing, so either side may call them; code
// reading one channel directly relies on a preceding PlayingAvailable or TakeReader.
class TMChFIFO {
public:
    static constexpr int32_t MaxChannels = 16;

    TMChFIFO(int32_t channels, int32_t capacity);
    TMChFIFO(const TMChFIFO&) = delete;
    TMChFIFO& operator=(const TMChFIFO&) = delete;

    std::array<std::unique_ptr<TFIFO>, MaxChannels> FIFOs;
    int32_t Channels;
    std::atomic<int32_t> State{0}; // 0 stopped, 1 paused, 2 playing

    // One writer at a time. A set equal to the published one publishes nothing.
    void SetReader(const TFIFOReader& reader);
    // The newest published set.
    TFIFOReader Reader() const;
    // The reader's side: the newest set (and the state) into every channel. Never waits:
    // while a set is being published the channels keep the previous one.
    void TakeReader();

    // Channel i of the source goes to channel i; extra source channels are dropped; extra
    // FIFO channels get a copy of a mono source, else zeros.
    void WriteInterleaved(const double* src, int32_t frames, int32_t sourceChannels);
    // Moves min(frames, dest.Free()) frames; dest channels beyond ours get zeros.
    void TransferTo(TMChFIFO& dest, int32_t frames);
    // Frames every channel holds, as the newest set counts them.
    int32_t Available() const;
    // Frames every channel can take, leaving room for the kernel of the reader's
    // parameters and of the newest published ones.
    int32_t Free() const;
    // The reader's count for a block: takes the newest set, then counts with it; 0 unless
    // the state is playing.
    int32_t PlayingAvailable();
    void Reset();

private:
    bool TryLoad(TFIFOReader& out) const;

    // The published set, guarded by a sequence count that is odd while it changes.
    std::atomic<uint32_t> Sequence{0};
    std::atomic<double> PublishedStep{1.0};
    std::atomic<bool> PublishedInterpolate{false};
    std::atomic<int32_t> PublishedType{1};
    std::atomic<int32_t> PublishedHalfWidth{7};
};

} // namespace marlix
