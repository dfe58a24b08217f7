// marlixaudio-cli play --driver asio through the "ALSA: ..." drivers of the pro-audio
// host, into the private file device of alsafiledevice.h: the bytes the device received
// are compared with the source samples in the driver's native format (S32_LE, so a
// 16-bit sample s arrives as s << 16).
#include "app/clitest.h"
#include "engine/alsafiledevice.h"
#include "support/testutil.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace marlix {
namespace {

// Full-range noise whose first sample is known, so the end of the pre-roll silence is found.
Samples MarkedNoise(int frames, unsigned seed)
{
    Samples s = Noise(frames, seed, 32767);
    s[0] = 1000;
    return s;
}

class CliAlsaDriver : public ::testing::Test {
protected:
    void SetUp() override { Device = std::make_unique<test::TAlsaFileDevice>(Home.Path()); }

    // Plays `file` with the ASIO driver `driver`; returns the exit status.
    int Play(const std::string& driver, const std::string& file, std::string& out, const std::string& extraIni = "",
             const std::string& env = "")
    {
        test::WriteText(Home.File("setting.ini"), "[ASIO]\nDriverName=" + driver +
                                                      "\nDevice0=0\nChAssign0=0\n[Status]\nAVC=0\n" + extraIni);
        int status = -1;
        out = test::RunCommand(Device->EnvAssignments() + " " + env + " MARLIX_AUDIO_HOME='" + Home.Path() +
                                   "' MARLIX_FFT_PLANNER=estimate timeout 120 '" + kCli + "' play --driver asio '" +
                                   file + "' 2>&1",
                               &status);
        return status;
    }

    // The device's S32_LE stereo frames from the first non-silent one on.
    static std::vector<int32_t> Received(const std::string& path)
    {
        const auto bytes = test::ReadAll(path);
        std::vector<int32_t> s(bytes.size() / 4);
        std::memcpy(s.data(), bytes.data(), s.size() * 4);
        size_t first = 0;
        while (first < s.size() && s[first] == 0)
            ++first;
        first -= first % 2;
        return {s.begin() + static_cast<long>(first), s.end()};
    }

    static void ExpectWholeSignalThenSilence(const std::vector<int32_t>& got, const Samples& source)
    {
        ASSERT_GE(got.size(), source.size()) << "samples are missing";
        for (size_t i = 0; i < source.size(); ++i)
            ASSERT_EQ(got[i], static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint16_t>(source[i])) << 16))
                << "sample " << i;
        for (size_t i = source.size(); i < got.size(); ++i)
            ASSERT_EQ(got[i], 0) << "sample " << i;
    }

    test::TempDir Home;
    std::unique_ptr<test::TAlsaFileDevice> Device;
};

TEST_F(CliAlsaDriver, A44kHzFileArrivesBitExactInTheDevicesNativeFormat)
{
    const Samples source = MarkedNoise(30000, 21);
    WriteWav(Home.File("a.wav"), source, 44100);
    std::string out;
    ASSERT_EQ(Play("ALSA: marlixfile", Home.File("a.wav"), out), 0) << out;
    EXPECT_NE(out.find("output: 44100 Hz"), std::string::npos) << out;
    ExpectWholeSignalThenSilence(Received(Device->OutputFile), source);
}

TEST_F(CliAlsaDriver, A96kHzFileRestartsTheDriverAtThatRate)
{
    // The device writes one file per rate it was opened at.
    test::WriteText(Device->ConfigPath, "pcm.marlix_sink { type null }\npcm." + Device->PcmName +
                                            " { type file slave.pcm \"marlix_sink\" file \"" + Home.Path() +
                                            "rate-%r.raw\" format \"raw\" perm 0644 }\n");
    const Samples source = MarkedNoise(20000, 22);
    WriteWav(Home.File("b.wav"), source, 96000);
    std::string out;
    ASSERT_EQ(Play("ALSA: marlixfile", Home.File("b.wav"), out, "[Output]\nbFreq4=1\n"), 0) << out;
    EXPECT_NE(out.find("output: 96000 Hz"), std::string::npos) << out;
    ExpectWholeSignalThenSilence(Received(Home.File("rate-96000.raw")), source);
}

TEST_F(CliAlsaDriver, ACardThatCannotBeOpenedIsReported)
{
    WriteWav(Home.File("c.wav"), Noise(4410, 23), 44100);
    std::string out;
    // Listed through the variable, but no such device exists behind the name.
    const int status = Play("ALSA: hw:9", Home.File("c.wav"), out, "", "MARLIX_AUDIO_ALSA_PCM=hw:9");
    EXPECT_EQ(status, 3) << out;
    EXPECT_NE(out.find("cannot open the audio device"), std::string::npos) << out;
}

} // namespace
} // namespace marlix
