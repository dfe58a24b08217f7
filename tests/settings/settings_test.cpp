#include "settings/settings.h"

#include "settings/inifile.h"
#include "support/testutil.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>

namespace marlix {
namespace {

using test::ReadAll;
using test::TempDir;
using test::WriteText;

// Every key each section holds, as documented for the file.
std::map<std::string, std::vector<std::string>> DocumentedKeys()
{
    std::map<std::string, std::vector<std::string>> keys;
    auto& out = keys["Output"];
    out = {"nDriverType"};
    for (int i = 0; i < 7; ++i)
        out.push_back("bFreq" + std::to_string(i));
    for (const char* k : {"szChName", "fLevel", "bInvPhase", "fDelay"})
        for (int i = 0; i < 2; ++i)
            out.push_back(k + std::to_string(i));
    keys["MME"] = {"Device0", "nBufferSize", "nBufferNum"};
    keys["ASIO"] = {"DriverName", "ChAssign0", "Device0", "InDevice0"};
    keys["Filter"] = {"Bufms", "EQFilterTaps", "HSCMode"};
    auto& eq = keys["EQ"];
    for (int c = -1; c <= 1; ++c) {
        eq.push_back(std::to_string(c) + "_Count");
        for (int i = 0; i < 2; ++i)
            eq.push_back(std::to_string(c) + "_" + std::to_string(i));
    }
    for (const char* k : {"fSmoothness", "fSmoothness2", "fPercentage", "fHiFreq", "fLoFreq", "bReviseON",
                          "bRevisePON", "fPeakDipWeighting"})
        for (int n = 0; n < 2; ++n)
            eq.push_back(k + std::to_string(n));
    auto& matrix = keys["Matrix"];
    for (const char* k : {"bONOFF", "bInv", "fLevel"})
        for (int n = 0; n < 2; ++n)
            for (int m = 0; m < 2; ++m)
                matrix.push_back(k + std::to_string(n) + "_" + std::to_string(m));
    keys["ReSampler"] = {"bUpSampling", "nUpFreq", "bRational", "bFixFreq", "nFixFreq", "bDirect3x",
                         "bDirect5x", "bDirect7x", "nITaps", "IWindow", "nDTaps", "DWindow", "RFType",
                         "nRFFilterTaps", "bAutoTapLen"};
    keys["Function"] = {"bDownload", "bDownloadTonkaraOnly", "DownloadPath", "nMaxDownloadMB", "BGMVolume",
                        "BGMPlaylist", "bSaveHistory", "bSavePlaylist"};
    keys["Operation"] = {"bMouseScroll", "bPlayAtOpen", "nBrowserType", "bClickRoot", "bJukeBoxMode",
                         "bBrowserSkipSubFolder", "BrowseExts", "bSpectrumVertical", "ShortCut_Rew",
                         "ShortCut_Stop", "ShortCut_Pause", "ShortCut_Play", "ShortCut_FF", "ShortCut_VolUp",
                         "ShortCut_VolDown", "ShortCut_Play1", "ShortCut_Repeat", "ShortCut_Repeat1",
                         "ShortCut_Random", "ShortCut_BGM", "ShortCut_EFX", "ShortCut_Conv", "ShortCut_Matrix",
                         "ShortCut_EQ", "ShortCut_HSC", "bCheckNew"};
    keys["View"] = {"bBrowserAlphaBlend", "nBrowserAlphaBlendValue", "bBrowserSmoothScroll", "BrowserFontName",
                    "nBrowserFontSize", "WallPaper", "nSpectrumDB", "bSpectrumLog"};
    keys["Measure"] = {"MeasureLen", "MeasureMethod", "MeasureSlope", "MeasureAmplitude", "MeasureFreq",
                       "MeasureAddNum"};
    return keys;
}

// Gives every saved field a value other than its default.
void ChangeEverything(TSettings& s)
{
    s.Output.nDriverType = 1;
    s.Output.bFreq = {false, false, false, true, true, true, true};
    s.Output.szChName = {"SW ", "ＳＬ"};
    s.Output.fLevel = {-12.5, 3.25};
    s.Output.bInvPhase = {true, true};
    s.Output.fDelay = {0.1, 29.875};
    s.MME = {2, 4096, 6};
    s.ASIO.DriverName = "JACK";
    s.ASIO.ChAssign0 = 2;
    s.ASIO.Device0 = 3;
    s.ASIO.InDevice0 = 1;
    s.Filter = {1000, 8191, 0};
    for (int c = -1; c <= 1; ++c)
        for (int i = 0; i < 2; ++i)
            s.EQ.Curve(c).Add({c + i, 100.0 * (c + 3) + i, 0.5 * i + 1, -0.5, -6.0 + c});
    for (size_t n = 0; n < 2; ++n) {
        s.EQ.fSmoothness[n] = 0.25 + 0.125 * static_cast<double>(n);
        s.EQ.fSmoothness2[n] = 1.5;
        s.EQ.fPercentage[n] = 0.8;
        s.EQ.fHiFreq[n] = 12000;
        s.EQ.fLoFreq[n] = 80;
        s.EQ.bReviseON[n] = false;
        s.EQ.bRevisePON[n] = false;
        s.EQ.fPeakDipWeighting[n] = -2;
    }
    s.EFX.Slots[0] = {true, false, "Reverb|Hall", {1, 2, 3}};
    s.EFX.Slots[7] = {true, true, "Delay", {}};
    s.EFX.Slots[3].On = false;
    s.Convolver.DryWet = 2;
    s.Convolver.Conv[1] = {true, false, false, false, 1, 0, -12, "hall.wav", 3, 44100, {1, 0.5, -0.25}};
    for (int n = 0; n < 2; ++n)
        for (int m = 0; m < 2; ++m) {
            s.Matrix.bONOFF[n][m] = n != m;
            s.Matrix.bInv[n][m] = true;
            s.Matrix.fLevel[n][m] = -10 * (n + 2 * m + 1);
        }
    auto& r = s.ReSampler;
    r = {true, 192000, false, true, 88200, false, true, true, 4095, 3, 2047, 2, 0, 23, false, 5};
    s.Function.bDownload = true;
    s.Function.bDownloadTonkaraOnly = true;
    s.Function.DownloadPath = "/home/ü/音楽/ dl /";
    s.Function.nMaxDownloadMB = 100;
    s.Function.BGMVolume = -6;
    s.Function.BGMPlaylist = "/tmp/bgm.m3u";
    s.Function.bSaveHistory = false;
    s.Function.bSavePlaylist = false;
    auto& o = s.Operation;
    o.bMouseScroll = true;
    o.bPlayAtOpen = false;
    o.nBrowserType = 0;
    o.bClickRoot = true;
    o.bJukeBoxMode = true;
    o.bBrowserSkipSubFolder = false;
    o.BrowseExts = "flac,wav";
    o.bSpectrumVertical = false;
    for (size_t i = 0; i < o.ShortCut.size(); ++i)
        o.ShortCut[i] = static_cast<uint16_t>(0x8000 + 0x41 + i);
    o.bCheckNew = false;
    s.View = {true, 80, false, "Noto Sans", 11, "/tmp/wall.bmp", 120, false};
    s.Measure = {65536, 1, -6, -12, 96000, 4};
}

TEST(SettingsTest, DefaultsAreTheDocumentedOnes)
{
    TSettings s("/opt/marlix/");
    EXPECT_EQ(s.Output.szChName[0], "L  ");
    EXPECT_EQ(s.Output.szChName[1], "R  ");
    EXPECT_EQ(ChannelName(6), "SCL");
    EXPECT_EQ(ChannelName(7), "SCR");
    EXPECT_EQ(ChannelName(8), "");
    EXPECT_EQ(s.Output.bFreq, (std::array<bool, 7>{true, true, true, false, false, false, false}));
    EXPECT_EQ(s.Function.FavoritePath, "/opt/marlix/favorites/");
    EXPECT_EQ(s.Function.SearchResultPath, "/opt/marlix/current.ini");
    EXPECT_EQ(s.Function.TopPagePath, "/opt/marlix/top.html");
    EXPECT_EQ(s.Operation.ShortCut[TSettingOperation::scVolUp], 0x4000 + 'U');
    EXPECT_EQ(s.Operation.ShortCut[TSettingOperation::scHSC], 0x4000 + 'H');
    EXPECT_EQ(s.ReSampler.ICutoff, -6);
    EXPECT_TRUE(s.Matrix.bONOFF[0][0] && s.Matrix.bONOFF[1][1]);
    EXPECT_FALSE(s.Matrix.bONOFF[0][1] || s.Matrix.bONOFF[1][0]);
    EXPECT_EQ(s.Convolver.Conv[1].InCh, 1);
    EXPECT_EQ(s.Convolver.Conv[1].OutCh, 1);
    EXPECT_EQ(s.Convolver.Conv[0].Level, -36);
}

TEST(SettingsTest, EverythingSavedLoadsBackKeyByKey)
{
    TempDir dir;
    TSettings defaults(dir.Path());
    TIniFile defaultIni(dir.File("default.ini"));
    ASSERT_TRUE(defaults.SaveRecords(defaultIni, dir.File("d-")));

    TSettings changed(dir.Path());
    ChangeEverything(changed);
    changed.ReSampler.ICutoff = 3;
    {
        TIniFile ini(dir.File("setting.ini"));
        ASSERT_TRUE(changed.SaveRecords(ini, dir.Path()));
        changed.SaveGlobal(ini);
        ASSERT_TRUE(ini.UpdateFile());
    }
    TIniFile saved(dir.File("setting.ini"));
    EXPECT_EQ(saved.ReadInteger("Global", "IniVersion", 0), 117);

    // Each section holds exactly the documented keys, every one changed from its default.
    for (const auto& [section, keys] : DocumentedKeys()) {
        EXPECT_EQ(saved.ReadSection(section), keys) << section;
        for (const auto& key : keys)
            EXPECT_NE(saved.ReadString(section, key, "?"), defaultIni.ReadString(section, key, "?"))
                << section << " " << key;
    }

    TSettings loaded(dir.Path());
    loaded.Load(saved, dir.Path());
    EXPECT_EQ(loaded.ReSampler.ICutoff, -6);
    TIniFile again(dir.File("again.ini"));
    ASSERT_TRUE(loaded.SaveRecords(again, dir.File("again-")));
    for (const auto& [section, keys] : DocumentedKeys())
        for (const auto& key : keys)
            EXPECT_EQ(again.ReadString(section, key, "?"), saved.ReadString(section, key, "!"))
                << section << " " << key;

    EXPECT_EQ(ReadAll(dir.File("again-efxsetting.bin")), ReadAll(dir.File("efxsetting.bin")));
    EXPECT_EQ(ReadAll(dir.File("again-convolversetting.bin")), ReadAll(dir.File("convolversetting.bin")));
    EXPECT_NE(ReadAll(dir.File("d-convolversetting.bin")), ReadAll(dir.File("convolversetting.bin")));
    EXPECT_EQ(loaded.Convolver, changed.Convolver);
    EXPECT_EQ(loaded.EFX.Slots, changed.EFX.Slots);
    EXPECT_EQ(loaded.Output.szChName, changed.Output.szChName);
    EXPECT_EQ(loaded.Function.DownloadPath, changed.Function.DownloadPath);
    EXPECT_EQ(loaded.EQ.Curves, changed.EQ.Curves);
    EXPECT_EQ(loaded.Operation.ShortCut, changed.Operation.ShortCut);
}

TEST(SettingsTest, HandWrittenFileLoadsAsDocumented)
{
    TempDir dir;
    WriteText(dir.File("setting.ini"),
              "; written by hand\r\n"
              "[Output]\r\n"
              "nDriverType=1\r\n"
              "bFreq0=0\r\n"
              "bFreq6=1\r\n"
              "szChName1=\"SR \"\r\n"
              "fLevel0=-12.5\r\n"
              "fDelay1=abc\r\n"
              "[Filter]\r\n"
              "HSCMode=0\r\n"
              "EQFilterTaps=0x7FF\r\n"
              "[Global]\r\n"
              "IniVersion=117\r\n"
              "[Matrix]\r\n"
              "fLevel0_1=1.5\r\n"
              "fLevel1_0= -30 \r\n"
              "bONOFF0_0=0\r\n"
              "[EQ]\r\n"
              "0_Count=3\r\n"
              "0_0=0/1000/3/-0.5/6\r\n"
              "0_1=2/40/1/0/0\r\n"
              "-1_Count=1\r\n"
              "-1_0=-1/100/0/0/-6\r\n"
              "bReviseON1=0\r\n"
              "[Operation]\r\n"
              "ShortCut_Play=0x4050\r\n"
              "[ReSampler]\r\n"
              "bUpSampling=1\r\n");
    TSettings s(dir.Path());
    s.Load(TIniFile(dir.File("setting.ini")), dir.Path());

    EXPECT_EQ(s.Output.nDriverType, 1);
    EXPECT_EQ(s.Output.bFreq, (std::array<bool, 7>{false, true, true, false, false, false, true}));
    EXPECT_EQ(s.Output.szChName[0], "L  ");
    EXPECT_EQ(s.Output.szChName[1], "SR ");
    EXPECT_EQ(s.Output.fLevel[0], -12.5);
    EXPECT_EQ(s.Output.fDelay[1], 0);
    EXPECT_EQ(s.Filter.HSCMode, 0);
    EXPECT_EQ(s.Filter.EQFilterTaps, 2047);
    EXPECT_EQ(s.Filter.Bufms, 500);
    EXPECT_EQ(s.Matrix.fLevel[0][1], 0);
    EXPECT_EQ(s.Matrix.fLevel[1][0], -30);
    EXPECT_FALSE(s.Matrix.bONOFF[0][0]);
    EXPECT_TRUE(s.Matrix.bONOFF[1][1]);

    ASSERT_EQ(s.EQ.Curve(0).Count(), 3u);
    EXPECT_EQ(s.EQ.Curve(0)[0], (TEQ1{0, 1000, 3, -0.5, 6}));
    EXPECT_EQ(s.EQ.Curve(0)[1], (TEQ1{2, 40, 1, 0, 0}));
    EXPECT_EQ(s.EQ.Curve(0)[2], (TEQ1{0, 1000, 0, 0, 0}));
    ASSERT_EQ(s.EQ.Curve(-1).Count(), 1u);
    EXPECT_EQ(s.EQ.Curve(-1)[0], (TEQ1{-1, 100, 0, 0, -6}));
    EXPECT_EQ(s.EQ.Curve(1).Count(), 0u);
    EXPECT_TRUE(s.EQ.bReviseON[0]);
    EXPECT_FALSE(s.EQ.bReviseON[1]);
    EXPECT_EQ(s.EQ.fLoFreq[1], 160);

    EXPECT_EQ(s.Operation.ShortCut[TSettingOperation::scPlay], 0x4050);
    EXPECT_EQ(s.Operation.ShortCut[TSettingOperation::scStop], 114);
    EXPECT_TRUE(s.ReSampler.bUpSampling);
    EXPECT_EQ(s.ReSampler.nUpFreq, 96000);
    EXPECT_EQ(s.View.nSpectrumDB, 96);
    EXPECT_EQ(s.Measure.MeasureLen, 32768);
    // No binary files: both records stay cleared.
    EXPECT_EQ(s.Convolver, TSettingConvolver{});
    EXPECT_FALSE(s.EFX.Slots[0].Present);
}

TEST(SettingsTest, OldOrMissingIniVersionResetsHscMode)
{
    TempDir dir;
    const std::vector<std::pair<std::string, int>> cases = {
        {"", 2}, {"[Global]\n", 2}, {"[Global]\nIniVersion=115\n", 2}, {"[Global]\nIniVersion=x\n", 2},
        {"[Global]\nIniVersion=116\n", 0}, {"[Global]\nIniVersion=117\n", 0}};
    for (const auto& [global, expected] : cases) {
        WriteText(dir.File("setting.ini"), "[Filter]\nHSCMode=0\n" + global);
        TSettings s(dir.Path());
        s.Filter.HSCMode = 1;
        s.Load(TIniFile(dir.File("setting.ini")), dir.Path());
        EXPECT_EQ(s.Filter.HSCMode, expected) << global;
    }
}

TEST(SettingsTest, SaveOrderLeavesRoomForTheCallersSection)
{
    TempDir dir;
    TSettings s(dir.Path());
    TIniFile ini(dir.File("setting.ini"));
    ASSERT_TRUE(s.SaveRecords(ini, dir.Path()));
    ini.WriteBool("Status", "HSC", true);
    s.SaveGlobal(ini);
    EXPECT_EQ(ini.ReadSections(), (std::vector<std::string>{"Output", "MME", "ASIO", "Filter", "EQ", "Matrix",
                                                             "ReSampler", "Operation", "View", "Function",
                                                             "Measure", "Status", "Global"}));
}

TEST(SettingsTest, ProcessWideRecordsCanBeReset)
{
    TempDir dir;
    Settings().Matrix.fLevel[0][0] = -60;
    ResetSettings(dir.Path());
    EXPECT_EQ(Settings().Matrix.fLevel[0][0], 0);
    EXPECT_EQ(Settings().Function.TopPagePath, dir.Path() + "top.html");
    EXPECT_EQ(&Settings(), &Settings());
}

TEST(EqCurveTest, PointTextParsesFieldByField)
{
    EXPECT_EQ((TEQ1{1, 1000, 3, -0.5, 6}).Format(), "1/1000/3/-0.5/6");
    EXPECT_EQ((TEQ1{-2, 12345.5, 0.1, 0, -0.25}).Format(), "-2/12345.5/0.1/0/-0.25");

    TEQ1 p;
    p.Parse(" 2 / 40.5 /1/0/-3");
    EXPECT_EQ(p, (TEQ1{2, 40.5, 1, 0, -3}));
    TEQ1 partial;
    partial.Parse("1/500");
    EXPECT_EQ(partial, (TEQ1{1, 500, 0, 0, 0}));
    TEQ1 junk;
    junk.Parse("x/y/2/z/4/extra/7");
    EXPECT_EQ(junk, (TEQ1{0, 1000, 2, 0, 4}));
}

TEST(EqCurveTest, EditingOperations)
{
    TEQ curve;
    for (int i = 0; i < 4; ++i)
        curve.Add({i, 100.0 * (i + 1), 1, 0, 3.0 * i});
    curve.Delete(1);
    curve.Delete(99);
    ASSERT_EQ(curve.Count(), 3u);
    EXPECT_EQ(curve[1].Kind, 2);
    curve.ResetGains();
    for (size_t i = 0; i < curve.Count(); ++i)
        EXPECT_EQ(curve[i].Gain, 0);
    EXPECT_EQ(curve[2].Freq, 400);
    curve.Clear();
    EXPECT_EQ(curve.Count(), 0u);
}

TEST(EqCurveTest, LoadAndSaveUnderAnyCurveNumber)
{
    TempDir dir;
    WriteText(dir.File("p.ini"), "[P]\n0_Count=2\n0_0=1/50/0/0/3\n0_1=0/2000/2/0/-4\n5_Count=-4\n"
                                 "7_Count=2147483647\n9_Count=two\n");
    TIniFile ini(dir.File("p.ini"));
    TEQ curve;
    curve.Load(ini, "P", 0);
    ASSERT_EQ(curve.Count(), 2u);
    EXPECT_EQ(curve[1], (TEQ1{0, 2000, 2, 0, -4}));

    // A shorter curve saved over a longer one leaves no stale point keys.
    curve.Delete(0);
    curve.Save(ini, "P", 0);
    EXPECT_EQ(ini.ReadInteger("P", "0_Count", 0), 1);
    EXPECT_EQ(ini.ReadString("P", "0_0", ""), "0/2000/2/0/-4");
    EXPECT_FALSE(ini.ValueExists("P", "0_1"));

    curve.Save(ini, "P", -1);
    EXPECT_EQ(ini.ReadString("P", "-1_0", ""), "0/2000/2/0/-4");

    TEQ negative;
    negative.Add({});
    negative.Load(ini, "P", 5);
    EXPECT_EQ(negative.Count(), 0u);
    TEQ huge;
    huge.Load(ini, "P", 7);
    EXPECT_EQ(huge.Count(), static_cast<size_t>(TEQ::MaxPoints));
    TEQ kept;
    kept.Add({2, 30, 0, 0, 0});
    kept.Load(ini, "P", 9);
    kept.Load(ini, "P", 42);
    ASSERT_EQ(kept.Count(), 1u);
    EXPECT_EQ(kept[0].Freq, 30);
}

// Sets an environment variable for the life of the object.
class TEnv {
public:
    TEnv(const char* name, const std::optional<std::string>& value) : name_(name)
    {
        if (const char* old = std::getenv(name))
            old_ = old;
        Set(value);
    }
    ~TEnv() { Set(old_); }

private:
    void Set(const std::optional<std::string>& v)
    {
        if (v)
            setenv(name_, v->c_str(), 1);
        else
            unsetenv(name_);
    }
    const char* name_;
    std::optional<std::string> old_;
};

TEST(SettingsTest, DownloadFolderIsTheXdgMusicFolder)
{
    TempDir home;
    TEnv h("HOME", home.Path() + "me");
    TEnv x("XDG_CONFIG_HOME", std::nullopt);
    EXPECT_EQ(MusicFolder(), home.Path() + "me/Music/");

    std::filesystem::create_directories(home.File("me/.config"));
    WriteText(home.File("me/.config/user-dirs.dirs"),
              "# comment\nXDG_DESKTOP_DIR=\"$HOME/Desktop\"\nXDG_MUSIC_DIR=\"$HOME/Musik/\"\n");
    EXPECT_EQ(MusicFolder(), home.Path() + "me/Musik/");
    EXPECT_EQ(TSettingFunction(home.Path()).DownloadPath, home.Path() + "me/Musik/");

    TEnv x2("XDG_CONFIG_HOME", home.Path() + "cfg");
    std::filesystem::create_directories(home.File("cfg"));
    WriteText(home.File("cfg/user-dirs.dirs"), "XDG_MUSIC_DIR=\"/srv/音楽\"\n");
    EXPECT_EQ(MusicFolder(), "/srv/音楽/");
    WriteText(home.File("cfg/user-dirs.dirs"), "XDG_MUSIC_DIR=\"relative\"\n");
    EXPECT_EQ(MusicFolder(), home.Path() + "me/Music/");
}

} // namespace
} // namespace marlix
