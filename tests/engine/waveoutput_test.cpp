#include "engine/waveoutput.h"

#include <gtest/gtest.h>

#include <vector>

using marlix::TOutState;
using marlix::TWaveOutput;

namespace {

// Left and right samples, and what each becomes, worked out by hand.
const int32_t kLeft[] = {2147483647, -2147483647 - 1, 0, 0x12345678, -1};
const int32_t kRight[] = {0x00FF8000, -0x00010000, 0x7F000001, -0x12345678, 0x00000100};

std::vector<uint8_t> Converted(int bits)
{
    std::vector<uint8_t> out(5 * 2 * size_t(bits / 8), 0xEE);
    TWaveOutput::ConvertPair(kLeft, kRight, 5, bits, out.data());
    return out;
}

TEST(WaveOutputConvert, EightBitsOffsetTheTopByte)
{
    // x >> 24 (arithmetic) + 128, left then right.
    const std::vector<uint8_t> want = {255, 128, 0, 127, 128, 255, 0x92, 0x6D, 127, 128};
    EXPECT_EQ(Converted(8), want);
}

TEST(WaveOutputConvert, SixteenBitsKeepTheHighHalf)
{
    // 32767, 0x00FF | -32768, -1 | 0, 0x7F00 | 0x1234, -0x1235 | -1, 0
    const std::vector<uint8_t> want = {0xFF, 0x7F, 0xFF, 0x00, 0x00, 0x80, 0xFF, 0xFF, 0x00, 0x00,
                                       0x00, 0x7F, 0x34, 0x12, 0xCB, 0xED, 0xFF, 0xFF, 0x00, 0x00};
    EXPECT_EQ(Converted(16), want);
}

TEST(WaveOutputConvert, TwentyFourBitsTakeBytesOneToThree)
{
    const std::vector<uint8_t> want = {0xFF, 0xFF, 0x7F, 0x80, 0xFF, 0x00, 0x00, 0x00, 0x80, 0x00,
                                       0xFF, 0xFF, 0x00, 0x00, 0x00, 0x00, 0x00, 0x7F, 0x56, 0x34,
                                       0x12, 0xA9, 0xCB, 0xED, 0xFF, 0xFF, 0xFF, 0x01, 0x00, 0x00};
    EXPECT_EQ(Converted(24), want);
}

TEST(WaveOutputConvert, ThirtyTwoBitsAreUnchanged)
{
    const std::vector<uint8_t> want = {
        0xFF, 0xFF, 0xFF, 0x7F, 0x00, 0x80, 0xFF, 0x00, 0x00, 0x00, 0x00, 0x80, 0x00, 0x00,
        0xFF, 0xFF, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x7F, 0x78, 0x56, 0x34, 0x12,
        0x88, 0xA9, 0xCB, 0xED, 0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x01, 0x00, 0x00};
    EXPECT_EQ(Converted(32), want);
}

TEST(WaveOutputConvert, UnknownDepthWritesNothing)
{
    std::vector<uint8_t> out(20, 0xEE);
    TWaveOutput::ConvertPair(kLeft, kRight, 5, 12, out.data());
    EXPECT_EQ(out, std::vector<uint8_t>(20, 0xEE));
}

TEST(WaveOutputSetup, DefaultsAndDeviceNames)
{
    TWaveOutput none(std::vector<std::string>{});
    EXPECT_EQ(none.PairDevice[0], -1);
    EXPECT_EQ(none.GetDeviceCount(), 0);
    EXPECT_EQ(none.GetDeviceName(0), "----");

    TWaveOutput out(std::vector<std::string>{"hw:CARD=A,DEV=0", "default"});
    EXPECT_EQ(out.GetDeviceCount(), 2);
    EXPECT_EQ(out.PairDevice[0], 0);
    EXPECT_EQ(out.PairDevice[1], -1);
    EXPECT_EQ(out.BufCount, 4);
    EXPECT_EQ(out.BufLen, 2048);
    EXPECT_EQ(out.GetDeviceName(1), "default");
    EXPECT_EQ(out.GetDeviceName(2), "----");
    EXPECT_EQ(out.GetDeviceName(40), "----");
    EXPECT_EQ(out.GetDeviceName(-1), "----");

    out.SetPairDevice(0, 65535);
    EXPECT_EQ(out.PairDevice[0], -1);
    out.SetPairDevice(32, 1);
    out.SetPairDevice(-1, 1);
    EXPECT_EQ(out.PairDevice[0], -1);
}

TEST(WaveOutputSetup, FormatIsStereoPcm)
{
    TWaveOutput out(std::vector<std::string>{});
    out.SetFormat(96000, 24);
    EXPECT_EQ(out.Format.Tag, 1);
    EXPECT_EQ(out.Format.Channels, 2);
    EXPECT_EQ(out.Format.SamplesPerSec, 96000u);
    EXPECT_EQ(out.Format.BlockAlign, 6);
    EXPECT_EQ(out.Format.AvgBytesPerSec, 576000u);
    EXPECT_EQ(out.Format.BitsPerSample, 24);
    EXPECT_EQ(out.Format.Size, 18);
}

TEST(WaveOutputSetup, BufferFactorFollowsTheRate)
{
    EXPECT_EQ(TWaveOutput::BufferFactor(44100), 1);
    EXPECT_EQ(TWaveOutput::BufferFactor(48000), 1);
    EXPECT_EQ(TWaveOutput::BufferFactor(48001), 2);
    EXPECT_EQ(TWaveOutput::BufferFactor(96000), 2);
    EXPECT_EQ(TWaveOutput::BufferFactor(96001), 4);
    EXPECT_EQ(TWaveOutput::BufferFactor(192000), 4);
    EXPECT_EQ(TWaveOutput::BufferFactor(192001), 1);
}

// The chain start on a device id that does not exist: nothing opens, but the
// buffers are laid out and pre-filled as for a real device.
struct ChainCase {
    int Rate;
    int Frames;
};

class WaveOutputChain : public testing::TestWithParam<ChainCase> {};

TEST_P(WaveOutputChain, BuffersAreSizedFromSettingsAndRate)
{
    TWaveOutput out(std::vector<std::string>{});
    EXPECT_FALSE(out.StartForChain(3, 4, 2048, GetParam().Rate));
    EXPECT_EQ(out.PairDevice[0], 3);
    EXPECT_EQ(out.BufCount, 4);
    EXPECT_EQ(out.BufLen, GetParam().Frames);
    EXPECT_EQ(out.Pairs, 1);
    EXPECT_EQ(out.Format.BitsPerSample, 16);
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(out.PairData[0].Headers[size_t(i)].Length, uint32_t(GetParam().Frames * 4));
    EXPECT_EQ(out.PairData[0].FreeCount.load(), 0);
    EXPECT_EQ(out.Pending, 0);
    EXPECT_EQ(out.FillIndex, 0);
    out.CloseOutput();
    EXPECT_EQ(out.OutState.load(), TOutState::Closed);
}

INSTANTIATE_TEST_SUITE_P(Rates, WaveOutputChain,
                         testing::Values(ChainCase{44100, 2048}, ChainCase{48000, 2048},
                                         ChainCase{96000, 4096}, ChainCase{192000, 8192}));

// Render function for the fill tests: sample f of channel c of call k is
// (k * 1000 + c * 100 + f) << 16.
int renderCalls = 0;

void StampRender(int32_t* const* outputs, int frames, int channels)
{
    for (int c = 0; c < channels; ++c)
        for (int f = 0; f < frames; ++f)
            outputs[c][f] = (renderCalls * 1000 + c * 100 + f) << 16;
    ++renderCalls;
}

int16_t SampleAt(const TWaveOutput& out, int header, int frame, int side)
{
    const uint8_t* p = out.PairData[0].Headers[size_t(header)].Data + frame * 4 + side * 2;
    return int16_t(uint16_t(p[0] | p[1] << 8));
}

TEST(WaveOutputFill, EachFillGoesToTheNextBufferUntilNoneIsFree)
{
    renderCalls = 0;
    TWaveOutput out(std::vector<std::string>{});
    out.SetPairDevice(0, 7);
    out.SetRender(&StampRender);
    out.SetBuffers(3, 8);
    out.SetFormat(44100, 16);
    EXPECT_FALSE(out.OpenOutput(2));
    EXPECT_EQ(out.OutState.load(), TOutState::Open);
    for (int i = 0; i < 3; ++i)
        out.FillOne();
    for (int h = 0; h < 3; ++h)
        for (int f = 0; f < 8; ++f) {
            EXPECT_EQ(SampleAt(out, h, f, 0), h * 1000 + f);
            EXPECT_EQ(SampleAt(out, h, f, 1), h * 1000 + 100 + f);
        }
    EXPECT_EQ(out.Pending, 3);
    EXPECT_EQ(out.FillIndex, 0);

    // No buffer is free: the device never gave one back, so nothing is rendered (and
    // lost) and the output stays silent.
    out.FillOne();
    EXPECT_EQ(renderCalls, 3);
    EXPECT_EQ(SampleAt(out, 0, 1, 0), 1);
    out.Flush();
    EXPECT_EQ(out.Pending, 0);
    EXPECT_EQ(out.WriteIndex, 0);
    EXPECT_EQ(out.OutState.load(), TOutState::Playing);
    const int calls = renderCalls;
    out.Tick();
    EXPECT_EQ(renderCalls, calls);
    out.CloseOutput();
}

TEST(WaveOutputFill, MonoChainDuplicatesItsChannel)
{
    renderCalls = 0;
    TWaveOutput out(std::vector<std::string>{});
    out.SetPairDevice(0, 7);
    out.SetRender(&StampRender);
    out.SetBuffers(2, 4);
    EXPECT_FALSE(out.OpenOutput(1)); // no such device: the output runs on, silently
    out.FillOne();
    for (int f = 0; f < 4; ++f) {
        EXPECT_EQ(SampleAt(out, 0, f, 0), f);
        EXPECT_EQ(SampleAt(out, 0, f, 1), f);
    }
    out.CloseOutput();
}

TEST(WaveOutputFill, NoRenderFunctionMeansSilence)
{
    renderCalls = 0;
    TWaveOutput out(std::vector<std::string>{});
    out.SetPairDevice(0, 7);
    out.SetRender(&StampRender);
    out.SetBuffers(2, 4);
    EXPECT_FALSE(out.OpenOutput(2)); // no such device: the output runs on, silently
    out.FillOne();
    out.SetRender(nullptr);
    out.FillOne();
    EXPECT_EQ(SampleAt(out, 0, 3, 1), 103);
    for (int f = 0; f < 4; ++f) {
        EXPECT_EQ(SampleAt(out, 1, f, 0), 0);
        EXPECT_EQ(SampleAt(out, 1, f, 1), 0);
    }
    out.CloseOutput();
}

TEST(WaveOutputFill, SettingsAreFixedWhileOpenAndClosedOutputIgnoresCalls)
{
    renderCalls = 0;
    TWaveOutput out(std::vector<std::string>{});
    out.SetPairDevice(0, 7);
    out.SetRender(&StampRender);
    out.FillOne();
    out.Flush();
    EXPECT_EQ(renderCalls, 0);
    EXPECT_EQ(out.OutState.load(), TOutState::Closed);

    out.SetBuffers(2, 16);
    EXPECT_FALSE(out.OpenOutput(2)); // no such device: the output runs on, silently
    out.SetBuffers(8, 4096);
    out.SetFormat(192000, 32);
    out.SetPairDevice(0, 5);
    EXPECT_FALSE(out.OpenOutput(2));
    EXPECT_FALSE(out.StartForChain(0, 4, 2048, 44100));
    EXPECT_EQ(out.BufCount, 2);
    EXPECT_EQ(out.BufLen, 16);
    EXPECT_EQ(out.Format.BitsPerSample, 16);
    EXPECT_EQ(out.PairDevice[0], 7);
    out.CloseOutput();
    out.CloseOutput();
    EXPECT_EQ(out.OutState.load(), TOutState::Closed);
}

TEST(WaveOutputFill, BadChannelCountsAndBufferSizesAreRefusedOrClamped)
{
    TWaveOutput out(std::vector<std::string>{});
    EXPECT_FALSE(out.OpenOutput(0));
    EXPECT_FALSE(out.OpenOutput(65));
    EXPECT_EQ(out.OutState.load(), TOutState::Closed);
    out.SetBuffers(0, -5);
    EXPECT_EQ(out.BufCount, 1);
    EXPECT_EQ(out.BufLen, 1);
}

// A device that never gives a buffer back: closing gives up by its deadline, says so,
// and leaves the device its buffers instead of waiting seconds per buffer.
TEST(WaveOutputFill, CloseLeavesADeviceThatKeepsItsBuffersBehind)
{
    TWaveOutput out(std::vector<std::string>{"null"});
    out.SetPairDevice(0, 0);
    out.SetBuffers(3, 64);
    out.SetFormat(44100, 16);
    if (!out.OpenOutput(2))
        GTEST_SKIP() << "no ALSA null device";
    out.PairData[0].Headers[1].Flags.fetch_or(marlix::WaveHdrInQueue);
    out.CloseTimeout = std::chrono::milliseconds(50);
    testing::internal::CaptureStderr();
    out.CloseOutput();
    const std::string errors = testing::internal::GetCapturedStderr();
    EXPECT_NE(errors.find("wave output device did not stop within 50 ms"), std::string::npos) << errors;
    EXPECT_EQ(out.OutState.load(), TOutState::Closed);
    EXPECT_EQ(out.PairData[0].Handle, nullptr);
    EXPECT_EQ(out.PairData[0].Headers, nullptr);
}

} // namespace
