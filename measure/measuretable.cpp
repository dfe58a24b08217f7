#include "measure/measuretable.h"

#include "base/flexfilebuf.h"
#include "settings/setting.h"
#include "settings/settingeq.h"

#include <algorithm>
#include <cmath>
#include <filesystem>

namespace marlix {
namespace {

std::string Trimmed(const std::string& s)
{
    const auto first = s.find_first_not_of(' ');
    return first == std::string::npos ? std::string() : s.substr(first, s.find_last_not_of(' ') - first + 1);
}

bool WriteResponse(const std::string& path, const std::vector<double>& h, int rate)
{
    TFlexFileBuf file;
    if (file.OpenFile(TFlexFileBuf::WriteSide, {path}, rate, 32, 1, 1) != 0)
        return false;
    file.SetBuf(nullptr, 1, 65, static_cast<int>(h.size()));
    std::copy(h.begin(), h.end(), static_cast<double*>(file.Data[0]));
    const bool ok = file.WriteBlock(0, static_cast<int>(h.size())) == static_cast<int>(h.size());
    file.CloseFile(TFlexFileBuf::WriteSide);
    return ok;
}

} // namespace

std::array<std::string, 2> MeasureRowNames(const std::array<std::string, 2>& channelNames, TMeasureRouting routing)
{
    std::array<std::string, 2> names;
    for (int ch = 0; ch < 2; ++ch)
        if (routing.Device0 >= 0 && routing.ChAssign0 == ch / 2)
            names[static_cast<size_t>(ch)] = Trimmed(channelNames[static_cast<size_t>(ch)]);
    return names;
}

TMeasureTable::TMeasureTable(std::array<std::string, 2> names, const std::array<TMeasureResult, 2>& results)
    : Names(std::move(names)), Results(results)
{
}

bool TMeasureTable::Valid(int channel) const
{
    return Named(channel) && Results[static_cast<size_t>(channel)].Level > kMinLevel;
}

TMeasureRow TMeasureTable::Row(int channel) const
{
    TMeasureRow row;
    if (!Valid(channel))
        return row;
    double maxLevel = -192, minDelay = 0;
    bool first = true;
    for (int c = 0; c < 2; ++c) {
        if (!Valid(c))
            continue;
        maxLevel = std::max(maxLevel, Results[static_cast<size_t>(c)].Level);
        minDelay = first ? Results[static_cast<size_t>(c)].Delay : std::min(minDelay, Results[static_cast<size_t>(c)].Delay);
        first = false;
    }
    const TMeasureResult& r = Results[static_cast<size_t>(channel)];
    return {true, r.Level - maxLevel, r.Delay - minDelay, r.Inverted != 0};
}

void TMeasureTable::ApplyToMaster(TSettingOutput& output) const
{
    // The quietest valid channel keeps its level, whatever sign the levels have.
    double minLevel = 192, maxDelay = 0;
    for (int c = 0; c < 2; ++c) {
        if (!Valid(c))
            continue;
        minLevel = std::min(minLevel, Results[static_cast<size_t>(c)].Level);
        maxDelay = std::max(maxDelay, Results[static_cast<size_t>(c)].Delay);
    }
    for (int c = 0; c < 2; ++c) {
        if (!Valid(c))
            continue;
        const TMeasureResult& r = Results[static_cast<size_t>(c)];
        const auto i = static_cast<size_t>(c);
        output.fLevel[i] = static_cast<double>(std::lround(std::max(minLevel - r.Level, -18.0) * 10));
        output.fDelay[i] = std::min(maxDelay - r.Delay, 20.0);
        output.bInvPhase[i] = r.Inverted != 0;
    }
}

std::vector<std::string> TMeasureTable::SaveResults(const std::array<std::vector<double>, 2>& responses, int rate,
                                                    const std::string& folder, bool check, TSettingEQ& eq) const
{
    std::vector<std::string> failed;
    for (int c = 0; c < 2; ++c) {
        if (!Valid(c))
            continue;
        const std::vector<double>& h = responses[static_cast<size_t>(c)];
        const std::string path = folder + (check ? "ir_c" : "ir") + std::to_string(c) + ".wav";
        if (!WriteResponse(path, h, rate)) {
            failed.push_back(path);
            continue;
        }
        if (!check) {
            eq.SetMeasurement(c, h.data(), rate, static_cast<int>(h.size()));
            std::error_code ec;
            std::filesystem::remove(folder + "ir_c" + std::to_string(c) + ".wav", ec);
        }
    }
    return failed;
}

} // namespace marlix
