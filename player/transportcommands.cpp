#include "player/transportcommands.h"

#include "player/playerstate.h"

namespace marlix {

void TTransportCommands::Back()
{
    if (State.OutputRunning)
        State.Command.Post("Back");
}

void TTransportCommands::Next()
{
    if (State.OutputRunning)
        State.Command.Post("Next");
}

void TTransportCommands::Stop()
{
    State.Command.Post("Stop");
}

void TTransportCommands::Play()
{
    // "Play" while paused only resumes; the loop clears the pause.
    if (!State.OutputRunning || State.Paused)
        State.Command.Post("Play");
}

void TTransportCommands::Pause()
{
    if (State.OutputRunning && !State.Paused)
        State.Paused = true;
}

void TTransportCommands::TogglePlay()
{
    if (State.OutputRunning && !State.Paused)
        Stop();
    else
        Play();
}

void TTransportCommands::TogglePause()
{
    if (State.OutputRunning && !State.Paused)
        Pause();
    else
        Play();
}

void TTransportCommands::ToggleMode(TMode mode)
{
    switch (mode) {
    case mPlay1: State.Play1 = !State.Play1; break;
    case mRepeat: State.Repeat = !State.Repeat; break;
    case mRepeat1: State.Repeat1 = !State.Repeat1; break;
    case mRandom: State.Random = !State.Random; break;
    case mBGM:
        State.BGM = !State.BGM;
        // Background music switched on with nothing playing starts it; switched off, it
        // stops the background track that plays.
        if (State.BGM && !State.OutputRunning)
            State.Command.Post("Play");
        else if (!State.BGM && State.BGMActive)
            State.Command.Post("Stop");
        break;
    }
}

void TTransportCommands::ToggleStage(TStage stage)
{
    std::atomic<bool>* const switches[] = {&State.EFX, &State.Convolver, &State.Matrix, &State.EQ, &State.HSC};
    std::atomic<bool>& s = *switches[stage];
    s = !s;
    ++State.DSPChangeCount;
}

} // namespace marlix
