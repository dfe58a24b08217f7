#include "player/playerstate.h"

#include "settings/inifile.h"

#include <algorithm>
#include <utility>

namespace marlix {

void TPendingCommand::Post(std::string command)
{
    std::lock_guard lock(Lock);
    PendingCommand = std::move(command);
}

std::string TPendingCommand::Take()
{
    std::lock_guard lock(Lock);
    return std::exchange(PendingCommand, {});
}

std::string TPendingCommand::Peek() const
{
    std::lock_guard lock(Lock);
    return PendingCommand;
}

bool TPendingCommand::Empty() const
{
    std::lock_guard lock(Lock);
    return PendingCommand.empty();
}

namespace {

void LoadFlag(const TIniFile& ini, const char* key, std::atomic<bool>& flag)
{
    flag = ini.ReadBool(TPlayerState::Section, key, flag);
}

void LoadFlag(const TIniFile& ini, const char* key, bool& flag)
{
    flag = ini.ReadBool(TPlayerState::Section, key, flag);
}

} // namespace

void TPlayerState::Load(const TIniFile& ini)
{
    LoadFlag(ini, "HSC", HSC);
    LoadFlag(ini, "Matrix", Matrix);
    LoadFlag(ini, "EQ", EQ);
    LoadFlag(ini, "EFX", EFX);
    LoadFlag(ini, "Convolver", Convolver);
    LoadFlag(ini, "AVC", AVC);
    MasterVolume = std::clamp(ini.ReadInteger(Section, "MasterVolume", MasterVolume), MinVolume, MaxVolume);
    LoadFlag(ini, "Play1", Play1);
    LoadFlag(ini, "Repeat", Repeat);
    LoadFlag(ini, "Repeat1", Repeat1);
    LoadFlag(ini, "Random", Random);
    LoadFlag(ini, "BGM", BGM);
    LoadFlag(ini, "Reserve", Reserve);
    const int sortMode = ini.ReadInteger(Section, "SortMode", SortMode);
    SortMode = sortMode >= 0 && sortMode < SortModeCount ? sortMode : 0;
    LoadFlag(ini, "SortInv", SortInv);
}

void TPlayerState::Save(TIniFile& ini) const
{
    ini.WriteBool(Section, "HSC", HSC);
    ini.WriteBool(Section, "Matrix", Matrix);
    ini.WriteBool(Section, "EQ", EQ);
    ini.WriteBool(Section, "EFX", EFX);
    ini.WriteBool(Section, "Convolver", Convolver);
    ini.WriteBool(Section, "AVC", AVC);
    ini.WriteInteger(Section, "MasterVolume", MasterVolume);
    ini.WriteBool(Section, "Play1", Play1);
    ini.WriteBool(Section, "Repeat", Repeat);
    ini.WriteBool(Section, "Repeat1", Repeat1);
    ini.WriteBool(Section, "Random", Random);
    ini.WriteBool(Section, "BGM", BGM);
    ini.WriteBool(Section, "Reserve", Reserve);
    ini.WriteInteger(Section, "SortMode", SortMode);
    ini.WriteBool(Section, "SortInv", SortInv);
}

// The output stage may lower the volume at any moment, so both steps retry on a
// concurrent change instead of overwriting it.
void TPlayerState::VolumeUp()
{
    int v = MasterVolume.load();
    while (!MasterVolume.compare_exchange_weak(v, std::min(v / 10 + 1, MaxVolume / 10) * 10)) {
    }
}

void TPlayerState::VolumeDown()
{
    int v = MasterVolume.load();
    while (!MasterVolume.compare_exchange_weak(v, std::max(v / 10 - 1, MinVolume / 10) * 10)) {
    }
}

TPlayerState& PlayerState()
{
    static TPlayerState state;
    return state;
}

} // namespace marlix
