#pragma once

namespace marlix {

class TPlayerState;

// What the transport's buttons do, for everyone who acts like them without the window
// (keyboard shortcuts, the desktop's media controls): commands go into the pending
// command, modes and switches into the player state. Nothing here touches the engine.
class TTransportCommands {
public:
    explicit TTransportCommands(TPlayerState& state) : State(state) {}

    void Back();
    void Next();
    void Stop();
    // Playing: stop; stopped or paused: play (a pause is resumed).
    void TogglePlay();
    // Playing: pause; paused: resume; stopped: play.
    void TogglePause();
    // Nothing happens when it is already playing.
    void Play();
    void Pause();

    enum TMode { mPlay1, mRepeat, mRepeat1, mRandom, mBGM };
    enum TStage { sEFX, sConvolver, sMatrix, sEQ, sHSC };
    void ToggleMode(TMode mode);
    void ToggleStage(TStage stage);

private:
    TPlayerState& State;
};

} // namespace marlix
