#pragma once
// A player session as the command-line player runs one: the records, the state, the
// pending additions and the shared output, loaded from a program folder, with the
// player's loop (a tick every 50 ms, the main thread's queued calls between).
#include "base/mainthread.h"
#include "engine/waveoutput.h"
#include "player/pending.h"
#include "player/playerstate.h"
#include "player/playersession.h"
#include "settings/settings.h"

#include <chrono>
#include <functional>
#include <string>
#include <thread>

namespace marlix::test {

struct TSessionRig {
    explicit TSessionRig(const std::string& home, TPluginHost* plugins = nullptr)
        : Settings(home), Session(home, Settings, State, Pending, Output, plugins, TMainThread::Instance())
    {
    }

    // Runs the loop until `done` holds or `limit` passes; `each` runs after every tick.
    bool RunUntil(const std::function<bool()>& done, std::chrono::milliseconds limit,
                  const std::function<void()>& each = {})
    {
        using Clock = std::chrono::steady_clock;
        auto nextTick = Clock::now();
        for (const auto end = Clock::now() + limit; Clock::now() < end;) {
            Session.RunQueuedCalls();
            if (Clock::now() >= nextTick) {
                nextTick = Clock::now() + std::chrono::milliseconds(50);
                Session.Tick();
                if (each)
                    each();
            }
            if (done())
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return done();
    }

    TSettings Settings;
    TPlayerState State;
    TPendingAdditions Pending;
    TWaveOutput Output;
    TPlayerSession Session;
};

} // namespace marlix::test
