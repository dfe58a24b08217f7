#include "support/clickcheck.h"

#include "support/testutil.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <deque>
#include <sstream>

namespace marlix::test {
namespace {

// Per frame, the largest |x| within half a period either side: the sine's local amplitude.
std::vector<double> LocalAmplitude(const std::vector<double>& x, int half)
{
    std::vector<double> a(x.size());
    std::deque<size_t> window; // indices of decreasing |x|
    const size_t n = x.size();
    size_t next = 0;
    for (size_t i = 0; i < n; ++i) {
        for (; next < n && next <= i + static_cast<size_t>(half); ++next) {
            while (!window.empty() && std::abs(x[window.back()]) <= std::abs(x[next]))
                window.pop_back();
            window.push_back(next);
        }
        while (window.front() + static_cast<size_t>(half) < i)
            window.pop_front();
        a[i] = std::abs(x[window.front()]);
    }
    return a;
}

} // namespace

std::string TClickReport::Describe() const
{
    std::ostringstream s;
    s << "worst second difference " << WorstRatio << " x the sine bound (frame " << WorstFrame << "), " << Clicks
      << " frames over 3 x, longest silence " << LongestSilenceMs << " ms in " << SoundFrames << " frames";
    return s.str();
}

TClickReport CheckSine(const std::vector<int16_t>& samples, int channels, int rate, double frequency)
{
    TClickReport r;
    const double k = std::pow(2 * std::sin(M_PI * frequency / rate), 2);
    const int half = static_cast<int>(std::ceil(rate / frequency / 2)) + 1;
    const size_t frames = samples.size() / static_cast<size_t>(channels);
    for (int c = 0; c < channels; ++c) {
        std::vector<double> x(frames);
        for (size_t i = 0; i < frames; ++i)
            x[i] = samples[i * static_cast<size_t>(channels) + static_cast<size_t>(c)];
        const std::vector<double> a = LocalAmplitude(x, half);
        // The sound: from where the sine first reaches half its opening amplitude to
        // where it last does.
        size_t first = 0;
        while (first < frames && a[first] == 0)
            ++first;
        if (first + static_cast<size_t>(4 * half) >= frames)
            continue;
        // The opening amplitude, once the file's own fade-in and a filter's pre-ringing
        // are over.
        const size_t settled = first + static_cast<size_t>(rate / 5);
        if (settled >= frames)
            continue;
        const double reference = a[settled];
        size_t begin = settled, end = frames;
        while (end > begin && a[end - 1] < reference / 10)
            --end;
        r.SoundFrames = std::max(r.SoundFrames, static_cast<long>(end - begin));
        long run = 0;
        for (size_t i = begin; i < end; ++i) {
            run = a[i] < reference / 100 ? run + 1 : 0;
            r.LongestSilenceMs = std::max(r.LongestSilenceMs, 1000.0 * run / rate);
            if (i == 0 || i + 1 >= frames)
                continue;
            // Less the 2 LSB that rounding three samples to 16 bits may add.
            const double d2 = std::max(0.0, std::abs(x[i - 1] - 2 * x[i] + x[i + 1]) - 2);
            const double ratio = d2 / (std::max(a[i], 1.0) * k);
            if (ratio > r.WorstRatio) {
                r.WorstRatio = ratio;
                r.WorstFrame = static_cast<long>(i);
            }
            if (ratio > 3)
                ++r.Clicks;
        }
    }
    return r;
}

void WriteStereo16Wav(const std::string& path, int rate, const std::vector<int16_t>& samples)
{
    const auto bytesOfData = static_cast<uint32_t>(samples.size() * 2);
    std::vector<uint8_t> bytes(44 + bytesOfData);
    auto put32 = [&](size_t at, uint32_t v) { std::memcpy(bytes.data() + at, &v, 4); };
    auto put16 = [&](size_t at, uint16_t v) { std::memcpy(bytes.data() + at, &v, 2); };
    std::memcpy(bytes.data(), "RIFF", 4);
    put32(4, 36 + bytesOfData);
    std::memcpy(bytes.data() + 8, "WAVEfmt ", 8);
    put32(16, 16);
    put16(20, 1);
    put16(22, 2);
    put32(24, static_cast<uint32_t>(rate));
    put32(28, static_cast<uint32_t>(rate) * 4);
    put16(32, 4);
    put16(34, 16);
    std::memcpy(bytes.data() + 36, "data", 4);
    put32(40, bytesOfData);
    std::memcpy(bytes.data() + 44, samples.data(), bytesOfData);
    WriteAll(path, bytes);
}

void WriteSineWav(const std::string& path, double seconds, int rate, double frequency, double amplitude)
{
    const auto frames = static_cast<size_t>(seconds * rate);
    const int fade = rate / 100;
    std::vector<int16_t> samples(2 * frames);
    for (size_t i = 0; i < frames; ++i) {
        const double edge = std::min({1.0, (i + 0.5) / fade, (frames - i - 0.5) / fade});
        const double g = 0.5 - 0.5 * std::cos(M_PI * edge);
        samples[2 * i] = samples[2 * i + 1] =
            static_cast<int16_t>(std::lround(32767 * amplitude * g * std::sin(2 * M_PI * frequency * i / rate)));
    }
    WriteStereo16Wav(path, rate, samples);
}

std::vector<int16_t> ReadRaw16(const std::string& path)
{
    const std::vector<uint8_t> bytes = ReadAll(path);
    std::vector<int16_t> s(bytes.size() / 2);
    std::memcpy(s.data(), bytes.data(), s.size() * 2);
    const auto first = std::find_if(s.begin(), s.end(), [](int16_t v) { return v != 0; });
    return std::vector<int16_t>(s.begin() + ((first - s.begin()) & ~1L), s.end());
}

} // namespace marlix::test
