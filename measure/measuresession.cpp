#include "measure/measuresession.h"

#include "engine/asiothread.h"
#include "measure/measuresignal.h"
#include "measure/prefilter.h"
#include "settings/settings.h"

#include <cmath>

namespace marlix {

TMeasureSession::TMeasureSession(TSettings& settings, std::string programFolder, bool check, uint32_t seed)
    : Config(settings), Folder(std::move(programFolder)), CheckMode(check), Seed(seed)
{
    const TSettingMeasure& m = settings.Measure;
    const TMeasureRouting routing{settings.ASIO.Device0, settings.ASIO.ChAssign0, settings.ASIO.InDevice0};
    State = std::make_unique<TMeasureState>(ValidMeasureLen(m.MeasureLen), m.MeasureFreq > 0 ? m.MeasureFreq : 48000,
                                            m.MeasureAddNum, routing);
    Names = MeasureRowNames(settings.Output.szChName, routing);
}

TMeasureSession::~TMeasureSession()
{
    Close();
}

bool TMeasureSession::Open()
{
    TMeasureState& s = *State;
    s.Reference = BuildMeasureSignal(Config.Measure, Seed);
    s.Excitation = {s.Reference, s.Reference};
    if (CheckMode)
        PrefilterMeasureSignal(s, Config, MeasureAmplitude(Config.Measure.MeasureAmplitude));
    EnableChannels(false);
    if (s.Routing.Device0 >= 0) {
        SetOutputEnable(2 * s.Routing.Device0, true);
        SetOutputEnable(2 * s.Routing.Device0 + 1, true);
    }
    if (s.Routing.InDevice0 >= 0) {
        SetInputEnable(2 * s.Routing.InDevice0, true);
        SetInputEnable(2 * s.Routing.InDevice0 + 1, true);
    }
    SetActiveMeasurement(&s);
    StartDriver();
    return Started;
}

void TMeasureSession::StartDriver()
{
    const std::string& driver = Config.ASIO.DriverName;
    Started = asioStart(driver.c_str(), MeasureBufferSwitch);
    double rate = 0;
    if (!Started || ASIOGetSampleRate(&rate) != 0)
        return;
    const int wanted = State->Rate.load();
    if (std::lround(rate) == wanted)
        return;
    if (ASIOCanSampleRate(wanted) == 0) {
        ASIOSetSampleRate(wanted);
        asioStop();
        Started = asioStart(driver.c_str(), MeasureBufferSwitch);
    }
    if (Started && ASIOGetSampleRate(&rate) == 0 && rate > 0)
        State->Rate.store(static_cast<int>(std::lround(rate)));
}

void TMeasureSession::Close()
{
    if (!State)
        return;
    asioStop();
    SetActiveMeasurement(nullptr);
    EnableChannels(true);
    Started = false;
}

int TMeasureSession::NextNamedChannel(int channel) const
{
    for (int step = 1; step <= 2; ++step) {
        const int c = ((channel < 0 ? -1 : channel) + step) % 2;
        if (!Names[static_cast<size_t>(c)].empty())
            return c;
    }
    return -1;
}

void TMeasureSession::SetStage(int stage, bool automatic, int64_t nowMs)
{
    TMeasureState& s = *State;
    CurrentStage = stage;
    Auto = automatic;
    AutoFinished = false;
    s.StopRecording();
    s.Done.store(false);
    if (stage == 2) {
        s.Position.store(0);
        s.Channel.store(automatic ? NextNamedChannel(-1) : -1);
        SwitchTime = nowMs;
    } else if (stage == 3 && automatic) {
        const int first = NextNamedChannel(-1);
        if (first >= 0)
            s.StartChannelMeasurement(first);
        else
            s.Channel.store(-1);
        AutoFinished = first < 0;
    } else {
        s.Channel.store(-1);
    }
}

void TMeasureSession::Tick(int64_t nowMs)
{
    TMeasureState& s = *State;
    if (CurrentStage == 2 && Auto && nowMs - SwitchTime >= 2000) {
        s.Channel.store(NextNamedChannel(s.Channel.load()));
        SwitchTime = nowMs;
    }
    if (CurrentStage != 3 || !s.Done.load())
        return;
    s.AnalyseChannel();
    s.Done.store(false);
    const int old = s.Channel.load();
    const int next = Auto ? NextNamedChannel(old) : -1;
    if (next > old) {
        s.StartChannelMeasurement(next);
    } else {
        s.StopRecording();
        s.Channel.store(-1);
        AutoFinished = Auto;
    }
}

void TMeasureSession::SelectChannel(int channel, int64_t nowMs)
{
    TMeasureState& s = *State;
    if (channel < 0 || channel > 1)
        return;
    if (CurrentStage == 2) {
        s.Channel.store(channel);
        SwitchTime = nowMs;
    } else if (CurrentStage == 3) {
        if (s.Done.load())
            s.AnalyseChannel();
        s.StartChannelMeasurement(channel);
    }
}

bool TMeasureSession::AutomaticRunFinished() const
{
    return AutoFinished;
}

TMeasureTable TMeasureSession::Table() const
{
    return TMeasureTable(Names, State->Results);
}

void TMeasureSession::ApplyToMaster()
{
    Table().ApplyToMaster(Config.Output);
}

std::vector<std::string> TMeasureSession::SaveResults()
{
    return Table().SaveResults(State->Response, State->Rate.load(), Folder, CheckMode, Config.EQ);
}

}  // namespace marlix
