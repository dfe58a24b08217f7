#pragma once
// Shared by the end-to-end tests of marlixaudio-cli: WAV files written and read here,
// and a fixture that runs the program with its own program folder.
#include "base/flexfilebuf.h"
#include "support/testutil.h"

#include <gtest/gtest.h>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace marlix {

using test::RunCommand;
using Samples = std::vector<int16_t>; // interleaved stereo

inline const std::string kCli = std::string(MARLIX_TEST_BIN_DIR) + "marlixaudio-cli";

inline Samples Noise(int frames, unsigned seed, int amplitude = 20000)
{
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> u(-amplitude, amplitude);
    Samples s(2 * static_cast<size_t>(frames));
    for (auto& v : s)
        v = static_cast<int16_t>(u(rng));
    return s;
}

inline void WriteWav(const std::string& path, const Samples& s, int rate)
{
    const int frames = static_cast<int>(s.size() / 2);
    TFlexFileBuf file;
    ASSERT_EQ(file.OpenFile(1, {path}, rate, 16, 1, 2), 0);
    file.SetBuf(nullptr, 2, 16, frames);
    for (int i = 0; i < frames; ++i) {
        static_cast<int16_t*>(file.Data[0])[i] = s[2 * i];
        static_cast<int16_t*>(file.Data[1])[i] = s[2 * i + 1];
    }
    ASSERT_EQ(file.WriteBlock(0, frames), frames);
    file.CloseFile(1);
}

// Frames of a rendered WAV as 32-bit integers (16- and 24-bit files are widened).
inline std::vector<std::vector<int32_t>> ReadWav(const std::string& path, int* rate = nullptr, int* bits = nullptr)
{
    TFlexFileBuf file;
    if (file.OpenFile(0, {path}, 0, 0, 0, 0) != 0)
        return {};
    if (rate)
        *rate = file.GetFileRate(0);
    if (bits)
        *bits = file.GetFileBits(0);
    const int frames = file.ReadBlock(static_cast<int>(file.GetFileLength(0)));
    file.ConvertBits(32);
    std::vector<std::vector<int32_t>> out(2);
    for (int c = 0; c < 2; ++c)
        out[c].assign(static_cast<int32_t*>(file.Data[c]), static_cast<int32_t*>(file.Data[c]) + frames);
    return out;
}

class Cli : public ::testing::Test {
protected:
    test::TempDir home;

    std::string Env() const { return "MARLIX_AUDIO_HOME='" + home.Path() + "' MARLIX_FFT_PLANNER=estimate "; }

    int Run(const std::string& args, std::string* out = nullptr, const std::string& extraEnv = "")
    {
        int status = -1;
        const std::string text = RunCommand(extraEnv + " " + Env() + "timeout 120 '" + kCli + "' " + args + " 2>&1", &status);
        if (out)
            *out = text;
        return status;
    }

    void Settings(const std::string& ini) { test::WriteText(home.File("setting.ini"), ini); }
};

} // namespace marlix
