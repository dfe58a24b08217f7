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
    State.BGMActive = false;
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

void TTransportCommands::TogglePause()
{
    if (State.OutputRunning && !State.Paused)
        Pause();
    else
        Play();
}

} // namespace marlix
