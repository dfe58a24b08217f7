// The effect stage through marlixaudio-cli: the bundled crossfeed and a LADSPA plug-in
// hosted by the bridge, set up by an "efxsetting.bin" written here byte by byte.
#include "app/clitest.h"
#include "engine/alsafiledevice.h"

#include <gtest/gtest.h>
#include <cmath>
#include <cstring>
#include <filesystem>

namespace marlix {
namespace {

namespace fs = std::filesystem;

struct TSlotBytes {
    std::string Name; // empty: no plug-in
    std::vector<uint8_t> State;
    bool On = true;
};

std::vector<uint8_t> EffectFile(const std::vector<TSlotBytes>& slots)
{
    std::vector<uint8_t> out;
    for (size_t i = 0; i < 8; ++i) {
        const TSlotBytes s = i < slots.size() ? slots[i] : TSlotBytes{};
        out.push_back(s.Name.empty() ? 0 : 1);
        out.push_back(s.On ? 1 : 0);
        if (s.Name.empty())
            continue;
        std::vector<uint8_t> name(256, 0);
        name[0] = static_cast<uint8_t>(s.Name.size());
        std::memcpy(name.data() + 1, s.Name.data(), s.Name.size());
        out.insert(out.end(), name.begin(), name.end());
        const uint32_t n = static_cast<uint32_t>(s.State.size());
        for (int b = 0; b < 4; ++b)
            out.push_back(static_cast<uint8_t>(n >> (8 * b)));
        out.insert(out.end(), s.State.begin(), s.State.end());
    }
    return out;
}

// The crossfeed's state: "MXCF", version 1, cut-off Hz, delay ms, level dB as floats.
std::vector<uint8_t> CrossfeedState(float cutoff, float delayMs, float levelDb)
{
    // Sized up front: g++ 12 at -O3 warns falsely about appending to the initialised vector.
    std::vector<uint8_t> b = {'M', 'X', 'C', 'F', 1, 0, 0, 0};
    const float values[3] = {cutoff, delayMs, levelDb};
    b.resize(b.size() + sizeof values);
    std::memcpy(b.data() + 8, values, sizeof values);
    return b;
}

class CliEffects : public Cli {
protected:
    void SetUp() override
    {
        fs::create_directories(home.File("plugin"));
        fs::copy_file(std::string(MARLIX_TEST_BIN_DIR) + "plugin/crossfeed.aep", home.File("plugin/crossfeed.aep"));
        fs::copy_file(std::string(MARLIX_TEST_BIN_DIR) + "vstrack.aep", home.File("vstrack.aep"));
        fs::copy_file(std::string(MARLIX_TEST_PLUGIN_DIR) + "ladspa_amp.so", home.File("plugin/amp.so"));
        Settings("[Status]\nEFX=1\nAVC=0\n");
    }
    void Effects(const std::vector<TSlotBytes>& slots) { test::WriteAll(home.File("efxsetting.bin"), EffectFile(slots)); }
    bool NoCopiesLeft() const { return !fs::exists(home.File("plugtemp")) || fs::is_empty(home.File("plugtemp")); }
};

// A signal on the left only: the right channel gets it low-passed, delayed and
// attenuated, and both are scaled by 1 / (1 + g) (computed here in double).
TEST_F(CliEffects, CrossfeedMixesAHardLeftSignalIntoTheRightChannel)
{
    Effects({{"Marlix|Crossfeed", {}}});
    Samples x = Noise(20000, 21);
    for (size_t i = 1; i < x.size(); i += 2)
        x[i] = 0;
    WriteWav(home.File("x.wav"), x, 44100);
    std::string out;
    ASSERT_EQ(Run("render '" + home.File("x.wav") + "' '" + home.File("o.wav") + "'", &out), 0) << out;
    const auto o = ReadWav(home.File("o.wav"));
    ASSERT_GE(o[0].size(), 20000u);
    const double g = 0.5, a = 1 - std::exp(-2 * M_PI * 700 / 44100.0);
    const int delay = 13; // round(0.3 ms × 44.1 kHz)
    double s = 0, rightEnergy = 0;
    for (int n = 0; n < 20000; ++n) {
        const double left = x[2 * n] / 32768.0;
        const double far = n >= delay ? x[2 * (n - delay)] / 32768.0 : 0.0;
        s += a * (far - s);
        ASSERT_NEAR(o[0][n] / 2147483648.0, left / (1 + g), 2e-6) << n;
        ASSERT_NEAR(o[1][n] / 2147483648.0, g * s / (1 + g), 2e-6) << n;
        rightEnergy += s * s;
    }
    EXPECT_GT(rightEnergy, 1.0); // the right channel really carries the mix
    EXPECT_TRUE(NoCopiesLeft());
}

TEST_F(CliEffects, LadspaAmplifierThroughTheBridgeScalesByItsGain)
{
    // Slot 0 is switched off and must not touch the signal.
    Effects({{"Marlix|Crossfeed", {}, false}, {}, {"LADSPA|Marlix Test Amplifier", {}}});
    const Samples x = Noise(15000, 22, 12000);
    WriteWav(home.File("x.wav"), x, 48000);
    std::string out;
    ASSERT_EQ(Run("render '" + home.File("x.wav") + "' '" + home.File("o.wav") + "'", &out), 0) << out;
    const auto o = ReadWav(home.File("o.wav"));
    ASSERT_GE(o[0].size(), 15000u);
    for (size_t i = 0; i < 15000; ++i) {
        ASSERT_EQ(o[0][i], 2 * x[2 * i] * 65536) << i; // default gain 2, exact in float
        ASSERT_EQ(o[1][i], 2 * x[2 * i + 1] * 65536) << i;
    }
}

TEST_F(CliEffects, AMissingPluginIsReportedAndTheRestStillPlays)
{
    Effects({{"Someone|Vanished Reverb", {1, 2, 3}}, {"LADSPA|Marlix Test Amplifier", {}}});
    const Samples x = Noise(5000, 23, 8000);
    WriteWav(home.File("x.wav"), x, 44100);
    std::string out;
    ASSERT_EQ(Run("render '" + home.File("x.wav") + "' '" + home.File("o.wav") + "'", &out), 0) << out;
    EXPECT_NE(out.find("Audio Effect Plug-in: Vanished Reverb is not found."), std::string::npos) << out;
    const auto o = ReadWav(home.File("o.wav"));
    ASSERT_GE(o[0].size(), 5000u);
    for (size_t i = 0; i < 5000; ++i)
        ASSERT_EQ(o[1][i], 2 * x[2 * i + 1] * 65536) << i;
}

TEST_F(CliEffects, EffectsOffLeavesTheSignalAloneAndNothingIsLoadedForInfo)
{
    Effects({{"Marlix|Crossfeed", {}}});
    Settings("[Status]\nEFX=0\nAVC=0\n");
    const Samples x = Noise(5000, 24);
    WriteWav(home.File("x.wav"), x, 44100);
    ASSERT_EQ(Run("render '" + home.File("x.wav") + "' '" + home.File("o.wav") + "'"), 0);
    const auto o = ReadWav(home.File("o.wav"));
    for (size_t i = 0; i < 5000; ++i)
        ASSERT_EQ(o[0][i], x[2 * i] * 65536) << i;
    Effects({{"Someone|Vanished Reverb", {}}});
    std::string out;
    ASSERT_EQ(Run("info '" + home.File("x.wav") + "'", &out), 0);
    EXPECT_EQ(out.find("not found"), std::string::npos) << out;
}

// play saves each slot's state as the plug-in hands it back at exit.
TEST_F(CliEffects, PlaySavesThePluginsOwnStateAtExit)
{
    test::TAlsaFileDevice device(home.Path());
    Settings("[MME]\nDevice0=-1\n[Status]\nEFX=1\nAVC=0\n");
    const std::vector<uint8_t> state = CrossfeedState(900.0f, 0.25f, -9.0f);
    const auto before = EffectFile({{}, {"Marlix|Crossfeed", state}, {}, {"Marlix|Crossfeed", {}, false}});
    test::WriteAll(home.File("efxsetting.bin"), before);
    WriteWav(home.File("x.wav"), Noise(4410, 25), 44100);
    std::string out;
    ASSERT_EQ(Run("play '" + home.File("x.wav") + "'", &out, device.EnvAssignments()), 0) << out;
    // Slot 3 had no state: the plug-in reports its defaults (700 Hz, 0.3 ms, -6 dB).
    const auto after = EffectFile(
        {{}, {"Marlix|Crossfeed", state}, {}, {"Marlix|Crossfeed", CrossfeedState(700.0f, 0.3f, -6.0f), false}});
    EXPECT_EQ(test::ReadAll(home.File("efxsetting.bin")), after);
    EXPECT_TRUE(NoCopiesLeft());
}

} // namespace
} // namespace marlix
