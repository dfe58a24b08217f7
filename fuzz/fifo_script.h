#pragma once
// Drives one TFIFO through a script of writes and reads decoded from bytes and checks
// every output against an independent model of the stream: which stream sample each
// ring slot must hold, and the interpolation formulas evaluated directly. Shared by the
// fuzz target and the unit tests.
#include "base/fifo.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace marlix::fifoscript {

// The value of stream sample s; distinct enough that a stale or wrong slot shows.
inline double Sample(int64_t s)
{
    return 0.9 * std::sin(0.7 * static_cast<double>(s)) + 0.1 * std::cos(2.3 * static_cast<double>(s));
}

class TScript {
public:
    TScript(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    // Returns an empty string when every check held, else what went wrong.
    std::string Run()
    {
        if (size_ < 4)
            return {};
        const int32_t capacity = 1 + data_[0] % 64;
        mode_ = data_[1] % 3;
        step_ = (data_[2] + 1) / 32.0 + (data_[3] % 64) / 4096.0;
        n_ = size_ > 4 ? data_[4] % 9 : 7;
        fifo_ = std::make_unique<TFIFO>(capacity);
        fifo_->Interpolate = mode_ != 0;
        fifo_->InterpType = mode_ == 1 ? 0 : 1;
        fifo_->HalfWidth = n_;
        fifo_->Step = step_;
        for (size_t i = 5; i < size_ && error_.empty(); ++i)
            Op(data_[i] >> 6, data_[i] & 63);
        return error_;
    }

private:
    void Op(int kind, int amount)
    {
        switch (kind) {
        case 0:
            Write(std::min(amount, fifo_->Free()), amount & 1);
            break;
        case 1:
            Read(std::min(amount, fifo_->Available()), amount & 1);
            break;
        case 2:
            Read(fifo_->Available());
            OverRead(1 + amount % 4);
            break;
        default:
            Write(fifo_->Free());
            CheckFull();
            break;
        }
        CheckCounts();
    }

    // In place: through Reserve and Commit, or Peek and Skip.
    void Write(int32_t n, bool inPlace = false)
    {
        if (inPlace) {
            for (const auto& part : fifo_->Reserve(n))
                for (double& v : part)
                    v = Sample(written_++);
            fifo_->Commit(n);
            return;
        }
        std::vector<double> block(static_cast<size_t>(std::max(n, 0)));
        for (auto& v : block)
            v = Sample(written_++);
        fifo_->Write(block.data(), n);
    }

    void Read(int32_t n, bool inPlace = false)
    {
        if (n <= 0)
            return;
        std::vector<double> out;
        const double before = fifo_->ReadPoint;
        if (inPlace) {
            std::vector<double> scratch(static_cast<size_t>(n));
            const TFIFO::TView v = fifo_->PeekOrRead(n, scratch.data());
            for (const auto& part : v.Parts)
                out.insert(out.end(), part.begin(), part.end());
            if (v.InPlace != (mode_ == 0))
                return Fail("only a plain ring shows its slots in place");
            if (static_cast<int32_t>(out.size()) != n)
                return Fail("the view holds " + std::to_string(out.size()) + " of " + std::to_string(n));
            if (v.InPlace)
                fifo_->Skip(n);
        } else {
            out.assign(static_cast<size_t>(n), 0.0);
            fifo_->Read(out.data(), n);
        }
        if (mode_ == 0)
            CheckPlain(out);
        else
            CheckInterpolated(out, before);
    }

    void OverRead(int32_t extra)
    {
        const int32_t n = fifo_->Available() + extra;
        std::vector<double> out(static_cast<size_t>(n), 1.0);
        const double point = fifo_->ReadPoint;
        const int32_t index = fifo_->ReadIndex;
        fifo_->Read(out.data(), n);
        for (double v : out) {
            if (v != 0.0)
                return Fail("over-long read returned data");
        }
        if (fifo_->ReadPoint != point || fifo_->ReadIndex != index)
            Fail("over-long read consumed samples");
    }

    void CheckPlain(const std::vector<double>& out)
    {
        for (double v : out) {
            if (v != Sample(consumed_++))
                return Fail("plain read out of order");
        }
        const int64_t b = fifo_->BufSize;
        if (fifo_->ReadIndex != consumed_ % b || fifo_->ReadPoint != static_cast<double>(consumed_ % b))
            Fail("plain read left a wrong read position");
    }

    void CheckInterpolated(const std::vector<double>& out, double before)
    {
        const double size = fifo_->BufSize;
        double p = before;
        int64_t lap = lap_;
        for (size_t k = 0; k < out.size() && error_.empty(); ++k) {
            const double want = Expected(p, lap);
            if (error_.empty() && !(std::fabs(out[k] - want) <= 1e-9))
                Fail("interpolated value " + std::to_string(out[k]) + " instead of " + std::to_string(want));
            p += step_;
            if (p >= size) {
                p -= size;
                ++lap;
            }
        }
        const double after = fifo_->ReadPoint;
        if (after < before)
            ++lap_;
        const double drift = std::fabs(after - p);
        if (std::min(drift, size - drift) > 1e-9)
            Fail("read position advanced wrongly");
        if (fifo_->ReadIndex != static_cast<int32_t>(after))
            Fail("ReadIndex is not the integer part of ReadPoint");
    }

    // The output at ring position p on lap `lap`, by the formulas, after checking that
    // each slot of the kernel holds the stream sample it must.
    double Expected(double p, int64_t lap)
    {
        const auto i0 = static_cast<int64_t>(p);
        const int64_t lo = mode_ == 1 ? 0 : n_;
        const int64_t hi = mode_ == 1 ? 1 : n_;
        std::vector<double> x;
        for (int64_t k = i0 - lo; k <= i0 + hi; ++k)
            x.push_back(SlotValue(lap * fifo_->BufSize + k));
        if (mode_ == 1) {
            const double d = p - static_cast<double>(i0);
            return (1 - d) * x[0] + d * x[1];
        }
        const double sigma = 1.414 / step_;
        const double q = -1.0 / (2 * sigma * sigma);
        const double g = 1.0 / (sigma * 2.5066282746310007);
        double sum = 0, wsum = 0;
        for (int64_t j = 0; j <= 2 * n_; ++j) {
            const double d = p - static_cast<double>(i0 - n_ + j);
            const double w = g * std::exp(q * d * d);
            sum += w * x[static_cast<size_t>(j)];
            wsum += w;
        }
        return sum / wsum;
    }

    // Stream sample s as the ring must still hold it; s < 0 is the zeroed start.
    double SlotValue(int64_t s)
    {
        const int64_t b = fifo_->BufSize;
        if (s >= written_)
            Fail("kernel reaches a slot not yet written");
        else if (s < written_ - b)
            Fail("kernel reaches a slot already overwritten");
        return s < 0 ? 0.0 : Sample(s);
    }

    void CheckCounts()
    {
        const int32_t a = fifo_->Available();
        const int32_t f = fifo_->Free();
        if (a < 0 || f < 0)
            Fail("negative count");
        if (mode_ == 0 && (a != written_ - consumed_ || a + f != fifo_->BufSize - 1))
            Fail("plain counts disagree with what was written and read");
    }

    // A full ring must offer nearly all of itself to the reader.
    void CheckFull()
    {
        if (fifo_->Free() != 0)
            return Fail("Free is not 0 after filling");
        const double b = fifo_->BufSize;
        const double least = mode_ == 0 ? b - 1 : std::floor((b - 2 * n_ - 4) / step_) - n_;
        if (fifo_->Available() < least)
            Fail("full ring offers only " + std::to_string(fifo_->Available()));
    }

    void Fail(const std::string& what)
    {
        if (error_.empty())
            error_ = what;
    }

    const uint8_t* data_;
    size_t size_;
    std::unique_ptr<TFIFO> fifo_;
    int mode_ = 0; // 0 plain, 1 linear, 2 Gaussian
    double step_ = 1.0;
    int32_t n_ = 7;
    int64_t written_ = 0;
    int64_t consumed_ = 0;
    int64_t lap_ = 0;
    std::string error_;
};

inline std::string Run(const uint8_t* data, size_t size)
{
    return TScript(data, size).Run();
}

} // namespace marlix::fifoscript
