#include "player/playbackcontrol.h"

#include "engine/asiothread.h"
#include "engine/decoder.h"
#include "engine/filterthread.h"
#include "engine/outputstage.h"
#include "engine/waveoutput.h"
#include "player/asioplayback.h"
#include "player/history.h"
#include "player/playerstate.h"
#include "player/playlist.h"
#include "settings/settings.h"

#include <algorithm>
#include <cmath>

namespace marlix {

TPlaybackControl::TPlaybackControl(TSettings& settings, TPlayerState& state, TPlaylist& playlist,
                                   TFo_Decoder& decoder, TWaveOutput& output)
    : Chain(settings, state, decoder), Config(settings), State(state), Playlist(playlist), Decoder(decoder),
      Output(output)
{
}

TPlaybackControl::~TPlaybackControl()
{
    StopOutput(true);
}

void TPlaybackControl::Tick()
{
    NoticeDeviceLoss();
    RestartWhenDrained();
    EndOfPlayback();
    TakeCommand();
    Advance();
    State.HeardMs.store(HeardPositionMs(), std::memory_order_release);
}

// A lost device renders nothing more, so the list would never end: stop as for "Stop".
// A pro-audio host that someone else's start has replaced is lost to the player too.
void TPlaybackControl::NoticeDeviceLoss()
{
    if (!State.OutputRunning || Lost)
        return;
    if (RunningDriver == 1 && asioRunningHost() == RunningHost && !asioDeviceLost())
        return;
    if (RunningDriver == 0 && !Output.DeviceLost())
        return;
    if (RunningDriver != 0 && RunningDriver != 1)
        return;
    Lost = true;
    RestartPending = false;
    Fail(TDeviceProblem::Lost, RunningDevice, "");
    State.Command.Post("Stop");
}

void TPlaybackControl::Fail(TDeviceProblem problem, std::string device, std::string detail)
{
    Failure.Problem = problem;
    Failure.Device = std::move(device);
    Failure.Detail = std::move(detail);
    ++Failure.Serial;
}

// The device did not start: the player stops as for "Stop", the track closed, so
// nothing pretends to play.
void TPlaybackControl::GiveUpStart()
{
    if (State.OutputRunning) {
        StopOutput(true);
    } else {
        Decoder.StopSource();
        Decoder.CloseSource();
        Decoder.FIFO.Reset();
    }
    State.Paused = false;
    RestartPending = false;
}

// The list has played out: the decoder is at its end and the device keeps finding
// the FIFO empty.
void TPlaybackControl::EndOfPlayback()
{
    if (!Decoder.IsOpen || Decoder.Busy || RestartPending)
        return;
    if (Decoder.GetPositionMs() > Decoder.GetLengthMs() - 1000 && Chain.Stage.EmptyReads > QueuedBlocks()) {
        Chain.Stage.EmptyReads = 0;
        State.Command.Post("Stop");
    }
}

int TPlaybackControl::QueuedBlocks() const
{
    const int driver = State.OutputRunning ? RunningDriver : Config.Output.nDriverType;
    return driver == 1 ? 2 : Config.MME.nBufferNum;
}

void TPlaybackControl::TakeCommand()
{
    const std::string command = State.Command.Peek();
    if (command.empty() || Decoder.Busy || Holds > 0)
        return;
    State.Command.Take();
    const bool automatic = AutoAdvance;
    AutoAdvance = false;
    if (RestartPending && command != "Stop") {
        // A user's command overrides the wait for the previous track's end.
        RestartPending = false;
        StopOutput(false);
    }
    if (command == "Play" && automatic && State.OutputRunning) {
        PlayNextAutomatically();
    } else if (command == "Play" || command == "Next" || command == "Back") {
        PlayCommand(command);
    } else if (command == "Stop") {
        StopOutput(true);
        State.Paused = false;
    }
}

// The next track after one that played to its end. Of the same rate, it follows
// in the running chain without a gap; of another rate, it waits until the chain has
// played out what it holds of the previous track (a restart would cut that off).
void TPlaybackControl::PlayNextAutomatically()
{
    const std::string answer = Playlist.NextTrack();
    if (answer.empty()) {
        StopIfNothingOpen();
        return;
    }
    OpenTrack(answer);
    if (!Decoder.IsOpen) {
        Playlist.MarkFailed(answer);
        State.Command.Post("Play");
        AutoAdvance = true;
        return;
    }
    if (static_cast<int>(Decoder.Format.nSamplesPerSec) == Chain.InRate()) {
        Chain.Stage.EmptyReads = 0;
        Decoder.PlaySource();
    } else {
        RestartPending = true;
    }
}

// A failed last entry leaves the decoder closed, so the list's end would never be
// noticed: the output stops here instead of running silent for ever.
void TPlaybackControl::StopIfNothingOpen()
{
    if (State.OutputRunning && !Decoder.IsOpen && !Decoder.Busy)
        State.Command.Post("Stop");
}

// Drained: the device has asked for more blocks than it queues since the chain ran dry.
void TPlaybackControl::RestartWhenDrained()
{
    if (!RestartPending || !State.OutputRunning || Holds > 0 || Chain.Stage.EmptyReads.load() <= QueuedBlocks())
        return;
    RestartPending = false;
    StopOutput(false);
    StartOutput();
    if (State.OutputRunning)
        Decoder.PlaySource();
}

void TPlaybackControl::PlayCommand(const std::string& command)
{
    const bool repeat1 = State.Repeat1;
    if (command != "Play")
        State.Repeat1 = false;
    const std::string answer = command == "Back" ? Playlist.PreviousTrack() : Playlist.NextTrack();
    if (State.Paused) {
        State.Paused = false; // resume; the chosen entry is not opened
    } else if (answer.empty()) {
        StopIfNothingOpen();
    } else {
        OpenTrack(answer);
        if (Decoder.IsOpen) {
            if (!State.OutputRunning)
                StartOutput();
            if (!State.OutputRunning) {
                // The device did not start; the failure says why.
            } else if (static_cast<int>(Decoder.Format.nSamplesPerSec) == Chain.InRate()) {
                Chain.Stage.EmptyReads = 0;
            } else {
                StopOutput(false);
                StartOutput();
            }
            if (State.OutputRunning)
                Decoder.PlaySource();
        } else {
            Playlist.MarkFailed(answer);
            State.Command.Post("Play");
        }
    }
    State.Repeat1 = repeat1;
}

// The decoder has read the whole track: open what follows, or let the list end.
void TPlaybackControl::Advance()
{
    if (!State.OutputRunning || Chain.Stage.Preroll || !State.Command.Peek().empty() || RestartPending)
        return;
    if (!Decoder.Finished || Decoder.GetLengthMs() <= 0) {
        State.EndOfList = false;
        return;
    }
    if (!Decoder.EndHandled && Decoder.GetPositionMs() > Decoder.GetLengthMs() - 1000) {
        if (PlayedToEnd)
            PlayedToEnd(Decoder.FileName);
        Decoder.EndHandled = true;
    }
    if (State.EndOfList)
        return;
    if (!State.Play1 && !Playlist.NextTrack().empty()) {
        State.Command.Post("Play");
        AutoAdvance = true;
        return;
    }
    if (State.BGM && !Config.Function.BGMPlaylist.empty()) {
        State.BGMActive = true;
        if (!Playlist.NextTrack().empty()) {
            State.Command.Post("Play");
            AutoAdvance = true;
        } else {
            State.BGMActive = false;
        }
        return;
    }
    State.EndOfList = true;
}

double TPlaybackControl::HeardPositionMs()
{
    const double position = Decoder.GetPositionMs();
    if (!State.OutputRunning || !Chain.Running() || Chain.InRate() <= 0)
        return position;
    double held = Decoder.FIFO.FIFOs[0]->Stored() / Chain.InRate() + Chain.Filter().HeldSeconds.load();
    if (RunningDriver == 0)
        held += Output.QueuedSeconds();
    return std::max(0.0, position - 1000 * held);
}

void TPlaybackControl::OpenTrack(const std::string& file)
{
    Decoder.OpenSource(file);
    if (RecordHistory)
        RecordOpenedTrack(file);
}

void TPlaybackControl::StartOutput()
{
    if (State.OutputRunning || Decoder.Format.nSamplesPerSec == 0)
        return;
    Lost = false;
    if (Config.Output.nDriverType == 1) {
        StartASIO();
        return;
    }
    if (!Chain.Start(true, 2))
        return;
    SetRenderStage(&Chain.Stage);
    Output.SetRender(&RenderOutput);
    RunningDriver = 0;
    RunningDevice = TAlsaWaveOut::PcmName(Output.DeviceNames, Config.MME.Device0);
    Opened = Output.StartForChain(Config.MME.Device0, Config.MME.nBufferNum, Config.MME.nBufferSize,
                                         Chain.Plan().OutRate);
    State.OutputRunning = true;
    if (!Opened) {
        const TDeviceProblem problem = Output.Failure == TWaveOpenFailure::NoDevice ? TDeviceProblem::NotFound
                                       : Output.Failure == TWaveOpenFailure::Busy   ? TDeviceProblem::Busy
                                       : Output.Failure == TWaveOpenFailure::Format ? TDeviceProblem::FormatRefused
                                                                                    : TDeviceProblem::Other;
        Fail(problem, Output.FailedDevice, Output.FailureDetail);
        GiveUpStart();
    }
}

// The pro-audio path: the driver starts first (silent until the chain exists), so its
// rate is known; a driver that cannot take the planned rate gets a chain planned for
// the rate it runs at.
void TPlaybackControl::StartASIO()
{
    const int pair = Config.ASIO.Device0;
    const int channels = std::max(2, 2 * Config.ASIO.ChAssign0 + 2);
    EnableChannels(false);
    if (pair >= 0) {
        SetOutputEnable(2 * pair, true);
        SetOutputEnable(2 * pair + 1, true);
    }
    SetRenderStage(nullptr);
    TASIOPlayback::Prepare(channels, Config.ASIO.ChAssign0, pair);
    const std::string driver = Config.ASIO.DriverName;
    RunningDevice = driver;
    Opened = asioStart(driver.c_str(), &TASIOPlayback::Render);
    const int wanted = ChooseOutputRate(Config.ReSampler, Config.Output,
                                        static_cast<int>(Decoder.Format.nSamplesPerSec))
                           .OutRate;
    int deviceRate = 0;
    double rate = 0;
    if (Opened && ASIOGetSampleRate(&rate) == 0 && std::lround(rate) != wanted) {
        if (ASIOCanSampleRate(wanted) == 0) {
            ASIOSetSampleRate(wanted);
            asioStop();
            Opened = asioStart(driver.c_str(), &TASIOPlayback::Render);
        } else {
            deviceRate = static_cast<int>(std::lround(rate));
        }
    }
    RunningHost = asioRunningHost();
    if (!Opened) {
        asioStopHost(RunningHost);
        RunningHost = 0;
        Fail(TDeviceProblem::DidNotStart, driver, "");
        GiveUpStart();
        return;
    }
    if (!Chain.Start(true, channels, deviceRate)) {
        asioStopHost(RunningHost);
        return;
    }
    SetRenderStage(&Chain.Stage);
    RunningDriver = 1;
    State.OutputRunning = true;
}

void TPlaybackControl::StopOutput(bool closeDecoder)
{
    if (!State.OutputRunning)
        return;
    // Device, then chain, then decoder: each FIFO is reset only once neither its
    // writer nor its reader runs, so no stale block plays at the next start.
    StopDevice();
    SetRenderStage(nullptr);
    Chain.Stop();
    if (closeDecoder) {
        Decoder.StopSource();
        Decoder.CloseSource();
        Decoder.FIFO.Reset();
    }
    State.OutputRunning = false;
}

void TPlaybackControl::StopDevice()
{
    if (RunningDriver == 1)
        asioStopHost(RunningHost);
    else if (RunningDriver == 0)
        Output.CloseOutput();
    RunningDriver = -1;
    RunningHost = 0;
}

} // namespace marlix
