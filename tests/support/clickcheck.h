#pragma once
// What a listener hears of edits made while a sine plays: clicks and gaps, measured on
// the samples a device received.
#include <cstdint>
#include <string>
#include <vector>

namespace marlix::test {

struct TClickReport {
    // The largest second difference (less 2 LSB for the 16-bit rounding of three
    // samples), as a multiple of what the sine at its local amplitude A allows,
    // A·(2·sin(π·f/fs))²; the frame where it was.
    double WorstRatio = 0;
    long WorstFrame = -1;
    // Frames where that multiple exceeds 3.
    long Clicks = 0;
    // The longest run inside the sound whose local amplitude stays under 1 % of the
    // sine's opening amplitude. The sound runs from 200 ms after the first sample to the
    // last frame at 10 % of that amplitude.
    double LongestSilenceMs = 0;
    long SoundFrames = 0;
    std::string Describe() const;
};

// `samples` interleaved 16-bit, `channels` per frame; every channel is checked.
TClickReport CheckSine(const std::vector<int16_t>& samples, int channels, int rate, double frequency);

// Writes a 16-bit stereo WAV of the interleaved samples.
void WriteStereo16Wav(const std::string& path, int rate, const std::vector<int16_t>& samples);

// Writes a 16-bit stereo WAV of a sine of `amplitude` (full scale 1), with 10 ms fades at
// both ends so the file itself never clicks.
void WriteSineWav(const std::string& path, double seconds, int rate, double frequency, double amplitude);

// The raw 16-bit samples of a file, from its first non-zero byte pair on.
std::vector<int16_t> ReadRaw16(const std::string& path);

} // namespace marlix::test
