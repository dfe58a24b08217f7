#include "settings/outputrate.h"

#include "settings/setting.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <initializer_list>

namespace marlix {
namespace {

TSettingOutput Allowed(std::initializer_list<int> rates)
{
    TSettingOutput out;
    for (size_t i = 0; i < RateTable.size(); ++i)
        out.bFreq[i] = std::find(rates.begin(), rates.end(), RateTable[i]) != rates.end();
    return out;
}

TSettingReSampler UpTo(int u, bool rational)
{
    TSettingReSampler r;
    r.bUpSampling = true;
    r.nUpFreq = u;
    r.bRational = rational;
    return r;
}

TSettingReSampler Fixed(int x)
{
    TSettingReSampler r;
    r.bFixFreq = true;
    r.nFixFreq = x;
    return r;
}

const std::initializer_list<int> All = {32000, 44100, 48000, 88200, 96000, 176400, 192000};

// Expected plans are {OutRate, UpFactor, DownConversion, Fractional, Fallback}.
TEST(OutputRateTest, DocumentedExamples)
{
    // Target 3 x 44100, minimum 96000: 176400 is the only allowed rate >= 96000.
    EXPECT_EQ(ChooseOutputRate(UpTo(96000, true), Allowed({44100, 88200, 176400}), 44100),
              (TRatePlan{176400, 4, false, false, false}));
    // Nothing allowed reaches 96000: the highest below it, converted down.
    EXPECT_EQ(ChooseOutputRate(TSettingReSampler{}, Allowed({32000, 44100, 48000}), 96000),
              (TRatePlan{48000, 1, true, false, false}));
}

TEST(OutputRateTest, WorkedExamples)
{
    const TSettingReSampler plain;
    // The source rate itself when allowed.
    EXPECT_EQ(ChooseOutputRate(plain, TSettingOutput{}, 44100), (TRatePlan{44100, 1, false, false, false}));
    // 22050 Hz: 32000 is the allowed rate >= 22050 nearest to it; 32000 is not a multiple.
    EXPECT_EQ(ChooseOutputRate(plain, TSettingOutput{}, 22050), (TRatePlan{32000, 2, false, true, false}));
    // Only 48000 allowed for 44100: m = 88200 (goal 48000), r = 2, then 88200 -> 48000.
    EXPECT_EQ(ChooseOutputRate(plain, Allowed({48000}), 44100), (TRatePlan{48000, 2, false, true, false}));
    // Up-sampling beyond every allowed rate: d = 48000 < u, so the goal stays 96000 and
    // r = 3 (132300), brought down to 48000.
    EXPECT_EQ(ChooseOutputRate(UpTo(96000, true), TSettingOutput{}, 44100),
              (TRatePlan{48000, 3, false, true, false}));
    // Not rational: target and minimum 96000; 96000 = 3 x 32000 exactly.
    EXPECT_EQ(ChooseOutputRate(UpTo(96000, false), Allowed(All), 32000), (TRatePlan{96000, 3, false, false, false}));
    EXPECT_EQ(ChooseOutputRate(UpTo(96000, false), Allowed(All), 44100), (TRatePlan{96000, 3, false, true, false}));
    // Rational: target 3 x 44100 = 132300; of the rates >= 96000, 96000 (36300 away) is
    // nearer than 176400 (44100 away).
    EXPECT_EQ(ChooseOutputRate(UpTo(96000, true), Allowed(All), 44100), (TRatePlan{96000, 3, false, true, false}));
    // A high source with up-sampling to a lower rate: minimum 192000, nothing reaches it.
    EXPECT_EQ(ChooseOutputRate(UpTo(96000, true), TSettingOutput{}, 192000),
              (TRatePlan{48000, 1, true, false, false}));
    // An up-sampling rate below the source changes nothing.
    EXPECT_EQ(ChooseOutputRate(UpTo(48000, true), Allowed(All), 96000), (TRatePlan{96000, 1, false, false, false}));
}

TEST(OutputRateTest, FixedRate)
{
    // The fixed rate is used whatever the allowed flags say.
    EXPECT_EQ(ChooseOutputRate(Fixed(48000), Allowed({}), 44100), (TRatePlan{48000, 2, false, true, false}));
    EXPECT_EQ(ChooseOutputRate(Fixed(88200), TSettingOutput{}, 44100), (TRatePlan{88200, 2, false, false, false}));
    EXPECT_EQ(ChooseOutputRate(Fixed(44100), TSettingOutput{}, 96000), (TRatePlan{44100, 1, true, false, false}));
    // Fixed below the up-sampling rate: the goal is still the up-sampling rate.
    TSettingReSampler both = Fixed(44100);
    both.bUpSampling = true;
    both.nUpFreq = 96000;
    EXPECT_EQ(ChooseOutputRate(both, TSettingOutput{}, 44100), (TRatePlan{44100, 3, false, true, false}));
}

TEST(OutputRateTest, NoAnswerPlaysAtTheSourceRate)
{
    const TRatePlan fallback{44100, 1, false, false, true};
    EXPECT_EQ(ChooseOutputRate(TSettingReSampler{}, Allowed({}), 44100), fallback);
    EXPECT_EQ(ChooseOutputRate(UpTo(0, true), TSettingOutput{}, 44100), fallback);
    EXPECT_EQ(ChooseOutputRate(Fixed(0), TSettingOutput{}, 44100), fallback);
    EXPECT_EQ(ChooseOutputRate(Fixed(-48000), TSettingOutput{}, 44100), fallback);
    // A zero up-sampling rate counts only while up-sampling is on.
    TSettingReSampler off;
    off.nUpFreq = 0;
    off.nFixFreq = 0;
    EXPECT_FALSE(ChooseOutputRate(off, TSettingOutput{}, 44100).Fallback);
}

TEST(OutputRateTest, DeviceRateScan)
{
    const TSettingOutput all = Allowed(All);
    // Equal distance: the higher rate wins.
    EXPECT_EQ(DeviceRate(all, 46050, 0), 48000);
    EXPECT_EQ(DeviceRate(all, 92100, 0), 96000);
    EXPECT_EQ(DeviceRate(all, 46049, 0), 44100);
    // The minimum excludes nearer rates below it.
    EXPECT_EQ(DeviceRate(all, 44100, 44101), 48000);
    EXPECT_EQ(DeviceRate(all, 1000000, 0), 192000);
    // Nothing reaches the minimum: the highest allowed rate below it.
    EXPECT_EQ(DeviceRate(Allowed({32000, 88200}), 96000, 96000), 88200);
    EXPECT_EQ(DeviceRate(Allowed({}), 44100, 44100), std::nullopt);
}

} // namespace
} // namespace marlix
