#include "player/pending.h"
#include "player/playerstate.h"
#include "settings/inifile.h"
#include "support/testutil.h"

#include <gtest/gtest.h>

#include <thread>

namespace marlix {
namespace {

using test::TempProgramFolder;
using Strings = std::vector<std::string>;

TEST(PlayerState, DefaultsForMissingKeys)
{
    TempProgramFolder folder;
    TPlayerState state;
    state.Load(TIniFile(folder.File("setting.ini")));
    EXPECT_FALSE(state.HSC || state.Matrix || state.EQ || state.EFX || state.Convolver);
    EXPECT_TRUE(state.AVC);
    EXPECT_EQ(state.MasterVolume, 0);
    EXPECT_FALSE(state.Play1 || state.Repeat || state.Repeat1 || state.Random || state.BGM || state.Reserve);
    EXPECT_EQ(state.SortMode, 0);
    EXPECT_FALSE(state.SortInv);

    // Missing keys keep what the state holds.
    state.Repeat = true;
    state.MasterVolume = -120;
    state.Load(TIniFile(folder.File("setting.ini")));
    EXPECT_TRUE(state.Repeat);
    EXPECT_EQ(state.MasterVolume, -120);
}

TEST(PlayerState, SavedValuesReadBackInKeyOrder)
{
    TempProgramFolder folder;
    TPlayerState state;
    state.HSC = state.Matrix = state.EQ = state.EFX = state.Convolver = true;
    state.AVC = false;
    state.MasterVolume = -275;
    state.Play1 = state.Repeat = state.Repeat1 = state.Random = state.BGM = state.Reserve = true;
    state.SortMode = 3;
    state.SortInv = true;
    TIniFile ini(folder.File("setting.ini"));
    state.Save(ini);
    ASSERT_TRUE(ini.UpdateFile());

    const TIniFile saved(folder.File("setting.ini"));
    EXPECT_EQ(saved.ReadSection("Status"),
              (Strings{"HSC", "Matrix", "EQ", "EFX", "Convolver", "AVC", "MasterVolume", "Play1", "Repeat", "Repeat1",
                       "Random", "BGM", "Reserve", "SortMode", "SortInv"}));
    EXPECT_EQ(saved.ReadString("Status", "MasterVolume", ""), "-275");
    EXPECT_EQ(saved.ReadString("Status", "AVC", ""), "0");

    TPlayerState back;
    back.Load(saved);
    EXPECT_TRUE(back.HSC && back.Matrix && back.EQ && back.EFX && back.Convolver);
    EXPECT_FALSE(back.AVC);
    EXPECT_EQ(back.MasterVolume, -275);
    EXPECT_TRUE(back.Play1 && back.Repeat && back.Repeat1 && back.Random && back.BGM && back.Reserve);
    EXPECT_EQ(back.SortMode, 3);
    EXPECT_TRUE(back.SortInv);
}

TEST(PlayerState, OutOfRangeValuesAreBroughtIntoRange)
{
    TempProgramFolder folder;
    test::WriteText(folder.File("setting.ini"), "[Status]\nMasterVolume=-900\nSortMode=9\n");
    TPlayerState state;
    state.SortMode = 2;
    state.Load(TIniFile(folder.File("setting.ini")));
    EXPECT_EQ(state.MasterVolume, -360);
    EXPECT_EQ(state.SortMode, 0);
    test::WriteText(folder.File("setting.ini"), "[Status]\nMasterVolume=15\nSortMode=-1\n");
    state.Load(TIniFile(folder.File("setting.ini")));
    EXPECT_EQ(state.MasterVolume, 0);
    EXPECT_EQ(state.SortMode, 0);
}

int Up(int volume)
{
    TPlayerState state;
    state.MasterVolume = volume;
    state.VolumeUp();
    return state.MasterVolume;
}

int Down(int volume)
{
    TPlayerState state;
    state.MasterVolume = volume;
    state.VolumeDown();
    return state.MasterVolume;
}

TEST(PlayerState, VolumeMovesInWholeDecibelsWithinRange)
{
    EXPECT_EQ(Up(-35), -20);
    EXPECT_EQ(Up(0), 0);
    EXPECT_EQ(Up(-5), 0);
    EXPECT_EQ(Up(-360), -350);
    EXPECT_EQ(Down(-355), -360);
    EXPECT_EQ(Down(-360), -360);
    EXPECT_EQ(Down(-35), -40);
    EXPECT_EQ(Down(0), -10);
    EXPECT_EQ(Down(-5), -10);
}

TEST(PendingCommand, LaterPostReplacesAndTakeEmpties)
{
    TPendingCommand command;
    EXPECT_TRUE(command.Empty());
    EXPECT_EQ(command.Take(), "");
    command.Post("Play");
    command.Post("Stop");
    EXPECT_EQ(command.Peek(), "Stop");
    EXPECT_FALSE(command.Empty());
    EXPECT_EQ(command.Take(), "Stop");
    EXPECT_TRUE(command.Empty());
}

TEST(PendingAdditions, KeepsEveryThreadsOrder)
{
    TPendingAdditions pending;
    constexpr int Threads = 4;
    constexpr int PerThread = 500;
    std::vector<std::string> taken;
    {
        std::vector<std::jthread> writers;
        for (int t = 0; t < Threads; ++t)
            writers.emplace_back([&pending, t] {
                for (int i = 0; i < PerThread; ++i)
                    pending.Add(std::to_string(t) + ":" + std::to_string(i));
            });
        for (int round = 0; round < 50; ++round)
            for (auto& s : pending.Take())
                taken.push_back(std::move(s));
    }
    for (auto& s : pending.Take())
        taken.push_back(std::move(s));
    ASSERT_EQ(taken.size(), size_t{Threads * PerThread});
    std::vector<int> next(Threads, 0);
    for (const auto& s : taken) {
        const int t = std::stoi(s);
        EXPECT_EQ(s, std::to_string(t) + ":" + std::to_string(next[t]));
        ++next[t];
    }
    EXPECT_TRUE(pending.Empty());
}

} // namespace
} // namespace marlix
