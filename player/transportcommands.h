#pragma once

namespace marlix {

class TPlayerState;

// What the transport's buttons do, for those who act like them without the window (the
// desktop's media controls): commands go into the pending command, the pause into the
// player state. Nothing here touches the engine.
class TTransportCommands {
public:
    explicit TTransportCommands(TPlayerState& state) : State(state) {}

    void Back();
    void Next();
    void Stop();
    // Playing: pause; paused: resume; stopped: play.
    void TogglePause();
    // Nothing happens when it is already playing.
    void Play();
    void Pause();

private:
    TPlayerState& State;
};

} // namespace marlix
