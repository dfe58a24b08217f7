#include "base/flexfilebuf.h"
#include "player/dsppresets.h"
#include "settings/setting.h"
#include "settings/settingconvolver.h"
#include "settings/settingefx.h"
#include "settings/settingeq.h"
#include "support/testutil.h"

#include <bit>
#include <cstring>
#include <filesystem>
#include <gtest/gtest.h>

namespace marlix {
namespace {

namespace fs = std::filesystem;
using test::TempDir;

TEQ1 Point(int kind, double freq, double width, double shape, double gain) { return {kind, freq, width, shape, gain}; }

void WriteIR(const std::string& path, double first, int frames = 8)
{
    TFlexFileBuf f;
    ASSERT_EQ(f.OpenFile(1, {path}, 48000, 32, 1, 1), 0);
    f.SetBuf(nullptr, 1, 65, frames);
    auto* d = static_cast<double*>(f.Data[0]);
    for (int i = 0; i < frames; ++i)
        d[i] = i == 0 ? first : 0.0;
    ASSERT_EQ(f.WriteBlock(0, frames), frames);
    f.CloseFile(1);
}

void Append32(std::vector<uint8_t>& v, int32_t x)
{
    for (int i = 0; i < 4; ++i)
        v.push_back(static_cast<uint8_t>(static_cast<uint32_t>(x) >> (8 * i)));
}

TEST(DSPPresets, IniKindsRoundTripThroughTheirFilesAndReopen)
{
    TempDir dir;
    TSettingEQ eq;
    eq.Folder = dir.Path();
    eq.Curve(-1).Add(Point(0, 1234.5, 3, -0.5, 4.25));
    eq.Curve(-1).Add(Point(-2, 15000, 1, 0, 0));
    eq.Curve(1).Add(Point(1, 200, 2, 0.5, -3.5));
    eq.fPercentage[1] = 0.75;
    TSettingMatrix matrix;
    matrix.fLevel[0][1] = -123;
    matrix.bInv[1][0] = true;
    matrix.bONOFF[0][1] = true;
    {
        TDSPPresets p(dir.Path());
        ASSERT_TRUE(p.SaveEQ("master", eq.Curve(-1)));
        ASSERT_TRUE(p.SaveEQAll("all", eq));
        ASSERT_TRUE(p.SaveMatrix("cross", matrix));
        ASSERT_TRUE(p.SaveEQ("second", eq.Curve(1)));
        EXPECT_FALSE(p.SaveEQ("", eq.Curve(1)));
    }
    TDSPPresets p(dir.Path()); // read back from the files
    EXPECT_EQ(p.EQList(), (std::vector<std::string>{"master", "second"}));
    EXPECT_EQ(test::ReadText(dir.File("eqpreset.ini")).find("[master]\n0_Count=2\n0_0=0/1234.5/3/-0.5/4.25"), 0u);

    // A master curve chosen with channel 2 selected lands in channel 2's curve.
    TSettingEQ other;
    other.Curve(1).Add(Point(0, 50, 0, 0, 1));
    ASSERT_TRUE(p.ChooseEQ("master", other.Curve(1)));
    EXPECT_EQ(other.Curve(1), eq.Curve(-1));

    TSettingEQ all;
    ASSERT_TRUE(p.ChooseEQAll("all", all));
    EXPECT_EQ(all.Curves, eq.Curves);
    EXPECT_EQ(all.fPercentage[1], 0.75);

    TSettingMatrix m;
    ASSERT_TRUE(p.ChooseMatrix("cross", m));
    EXPECT_EQ(std::memcmp(&m.fLevel, &matrix.fLevel, sizeof m.fLevel), 0);
    EXPECT_EQ(m.bInv[1][0], true);
    EXPECT_EQ(m.bONOFF[0][1], true);

    // Deleting erases the section; choosing a missing preset changes nothing.
    ASSERT_TRUE(p.DeleteEQ("master"));
    EXPECT_EQ(TDSPPresets(dir.Path()).EQList(), std::vector<std::string>{"second"});
    const TEQ before = other.Curve(1);
    EXPECT_FALSE(p.ChooseEQ("master", other.Curve(1)));
    EXPECT_FALSE(p.ChooseEQAll("none", all));
    EXPECT_FALSE(p.ChooseMatrix("none", m));
    EXPECT_EQ(other.Curve(1), before);
}

TEST(DSPPresets, ConvolverFileFollowsTheByteLayoutAndBrokenFilesChangeNothing)
{
    TempDir dir;
    TDSPPresets p(dir.Path());
    TSettingConvolver c;
    c.DryWet = 2;
    c.Conv[1] = {true, false, true, false, 1, 0, -12, "room (Ch 2)", 2, 44100, {0.5, -0.25}};
    ASSERT_TRUE(p.SaveConvolver("hall", c));

    std::vector<uint8_t> want;
    Append32(want, 2);
    want.insert(want.end(), {0, 1, 1, 1}); // convolver 0: defaults, no response
    Append32(want, 0), Append32(want, 0), Append32(want, -36);
    want.insert(want.end(), {1, 0, 1, 0});
    Append32(want, 1), Append32(want, 0), Append32(want, -12);
    std::vector<uint8_t> name(256, 0);
    name[0] = 11;
    std::memcpy(name.data() + 1, "room (Ch 2)", 11);
    want.insert(want.end(), name.begin(), name.end());
    Append32(want, 2), Append32(want, 44100);
    for (double x : {0.5, -0.25})
        for (int i = 0; i < 8; ++i)
            want.push_back(static_cast<uint8_t>(std::bit_cast<uint64_t>(x) >> (8 * i)));
    EXPECT_EQ(test::ReadAll(p.ConvolverFile("hall")), want);

    TSettingConvolver back;
    ASSERT_TRUE(p.ChooseConvolver("hall", back));
    EXPECT_EQ(back, c);

    // Without responses the file is 4 + 2 × 16 bytes.
    ASSERT_TRUE(p.SaveConvolver("empty", TSettingConvolver()));
    EXPECT_EQ(fs::file_size(p.ConvolverFile("empty")), 36u);
    EXPECT_EQ(p.ConvolverList().size(), 2u);

    // A cut-off file is refused and leaves the record alone.
    want.resize(want.size() - 3);
    test::WriteAll(p.ConvolverFile("cut"), want);
    EXPECT_FALSE(p.ChooseConvolver("cut", back));
    EXPECT_FALSE(p.ChooseConvolver("missing", back));
    EXPECT_EQ(back, c);
    ASSERT_TRUE(p.DeleteConvolver("hall"));
    EXPECT_FALSE(fs::exists(p.ConvolverFile("hall")));
}

TEST(DSPPresets, EffectPresetsKeepTheSlotsWithoutAHost)
{
    TempDir dir;
    TDSPPresets p(dir.Path());
    TSettingEFX efx;
    efx.Slots[3].Present = true;
    efx.Slots[3].Name = "Echo|A simple echo";
    efx.Slots[3].On = false;
    efx.Slots[3].Data = {1, 2, 3};
    ASSERT_TRUE(p.SaveEFX("Echo", efx));
    fs::create_directories(dir.File("efxpreset/sub.efx"));
    test::WriteText(dir.File("efxpreset/Loud.EFX"), "");
    test::WriteText(dir.File("efxpreset/notes.txt"), "");
    auto list = p.EFXList();
    std::sort(list.begin(), list.end());
    EXPECT_EQ(list, (std::vector<std::string>{"Echo", "Loud"}));

    TSettingEFX back;
    ASSERT_TRUE(p.ChooseEFX("Echo", back));
    EXPECT_EQ(back.Slots, efx.Slots);
    EXPECT_FALSE(p.ChooseEFX("nothing", back));
    EXPECT_EQ(back.Slots, efx.Slots);
    ASSERT_TRUE(p.DeleteEFX("Echo"));
    EXPECT_FALSE(p.ChooseEFX("Echo", back));
}

TEST(DSPPresets, MeasurementFoldersCopyOverAndDeleteWhatThePresetLacks)
{
    TempDir dir;
    TDSPPresets p(dir.Path());
    TSettingEQ eq;
    eq.Folder = dir.Path();
    WriteIR(dir.File("ir0.wav"), 0.5);
    ASSERT_TRUE(p.SaveMeasurement("only0"));
    EXPECT_TRUE(fs::exists(p.MeasurementFolder("only0") + "ir0.wav"));
    EXPECT_FALSE(fs::exists(p.MeasurementFolder("only0") + "ir1.wav"));

    // The program folder now holds other results for both channels.
    WriteIR(dir.File("ir0.wav"), 0.25);
    WriteIR(dir.File("ir1.wav"), 0.25);
    WriteIR(dir.File("ir_c0.wav"), 0.25);
    WriteIR(dir.File("ir_c1.wav"), 0.25);
    eq.LoadMeasurements();
    ASSERT_TRUE(eq.MeasurePresent[1]);

    fs::create_directories(dir.File("IRs/!hidden"));
    test::WriteText(dir.File("IRs/loose.wav"), "");
    fs::create_directories(dir.File("IRs/a-first"));
    EXPECT_EQ(p.MeasurementList(), (std::vector<std::string>{"a-first", "only0"}));

    ASSERT_TRUE(p.ChooseMeasurement("only0", eq));
    EXPECT_TRUE(eq.MeasurePresent[0]);
    EXPECT_EQ(eq.MeasureIR[0][0], 0.5);
    EXPECT_FALSE(eq.MeasurePresent[1]);
    for (const char* gone : {"ir1.wav", "ir_c0.wav", "ir_c1.wav"})
        EXPECT_FALSE(fs::exists(dir.File(gone))) << gone;

    ASSERT_TRUE(p.DeleteMeasurement("only0"));
    EXPECT_FALSE(fs::exists(p.MeasurementFolder("only0")));
    EXPECT_FALSE(p.ChooseMeasurement("only0", eq));
    EXPECT_TRUE(eq.MeasurePresent[0]);
}

// A typed name reaches the file system as it stands: one that climbs out of the preset
// folder must not delete or overwrite the program's own files.
TEST(DSPPresets, NamesThatLeaveTheirFolderAreRefused)
{
    TempDir dir;
    TDSPPresets p(dir.Path());
    WriteIR(dir.File("ir0.wav"), 0.5);
    test::WriteText(dir.File("setting.ini"), "[Global]\n");
    fs::create_directories(dir.File("IRs"));
    for (const std::string name : {"..", ".", "../setting", "a/b"}) {
        EXPECT_FALSE(p.DeleteMeasurement(name)) << name;
        EXPECT_FALSE(p.SaveMeasurement(name)) << name;
        EXPECT_FALSE(p.DeleteEFX(name)) << name;
        EXPECT_FALSE(p.SaveConvolver(name, TSettingConvolver())) << name;
    }
    EXPECT_TRUE(fs::exists(dir.File("ir0.wav")));
    EXPECT_TRUE(fs::exists(dir.File("setting.ini")));
    EXPECT_FALSE(fs::exists(dir.File("setting.convolver")));
}

} // namespace
} // namespace marlix
