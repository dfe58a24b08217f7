// A JACK client that plays the room for the measurement tests:
//   simroom D0 G0 D1 G1 NOISE
// Ports in_1 and in_2 take the speakers ("Marlix Audio:playback_1" and "_2"); each goes
// through SpeakerPath(Dn, Gn) and the sum, plus uniform noise of peak NOISE, leaves on
// out_1 into the microphone input "Marlix Audio:capture_1". The connections are made
// again whenever the host comes back. Runs until SIGTERM or SIGINT.
#include "support/simroom.h"

#include <jack/jack.h>

#include <array>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <thread>

namespace {

using marlix::test::SpeakerPath;
using marlix::test::TRoomTap;

constexpr int kRing = 8192; // longer than any path

struct TRoom {
    jack_port_t* In[2] = {};
    jack_port_t* Out = nullptr;
    std::array<TRoomTap, 3> Paths[2];
    float Ring[2][kRing] = {};
    int Write = 0;
    double Noise = 0;
    uint32_t Seed = 12345;
};

TRoom gRoom;
std::atomic<bool> gStop{false};

double NextNoise()
{
    gRoom.Seed = gRoom.Seed * 1664525u + 1013904223u;
    return gRoom.Noise * ((gRoom.Seed >> 8) * (2.0 / 16777216.0) - 1.0);
}

int Process(jack_nframes_t frames, void*)
{
    const float* in[2] = {static_cast<const float*>(jack_port_get_buffer(gRoom.In[0], frames)),
                          static_cast<const float*>(jack_port_get_buffer(gRoom.In[1], frames))};
    auto* out = static_cast<float*>(jack_port_get_buffer(gRoom.Out, frames));
    for (jack_nframes_t j = 0; j < frames; ++j) {
        const int w = gRoom.Write;
        double y = NextNoise();
        for (int c = 0; c < 2; ++c) {
            gRoom.Ring[c][w] = in[c][j];
            for (const TRoomTap& t : gRoom.Paths[c])
                y += t.Gain * gRoom.Ring[c][(w - t.Delay + kRing) % kRing];
        }
        out[j] = static_cast<float>(y);
        gRoom.Write = (w + 1) % kRing;
    }
    return 0;
}

void OnSignal(int)
{
    gStop = true;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 6) {
        std::fprintf(stderr, "usage: simroom D0 G0 D1 G1 NOISE\n");
        return 2;
    }
    for (int c = 0; c < 2; ++c)
        gRoom.Paths[c] = SpeakerPath(std::atoi(argv[1 + 2 * c]), std::atof(argv[2 + 2 * c]));
    gRoom.Noise = std::atof(argv[5]);
    std::signal(SIGTERM, OnSignal);
    std::signal(SIGINT, OnSignal);
    jack_status_t status{};
    jack_client_t* client = jack_client_open("marlix-room", JackNoStartServer, &status);
    if (!client) {
        std::fprintf(stderr, "simroom: no JACK server\n");
        return 3;
    }
    gRoom.In[0] = jack_port_register(client, "in_1", JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0);
    gRoom.In[1] = jack_port_register(client, "in_2", JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0);
    gRoom.Out = jack_port_register(client, "out_1", JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput, 0);
    if (!gRoom.In[0] || !gRoom.In[1] || !gRoom.Out || jack_set_process_callback(client, Process, nullptr) != 0 ||
        jack_activate(client) != 0) {
        jack_client_close(client);
        return 3;
    }
    while (!gStop) {
        jack_connect(client, "Marlix Audio:playback_1", "marlix-room:in_1");
        jack_connect(client, "Marlix Audio:playback_2", "marlix-room:in_2");
        jack_connect(client, "marlix-room:out_1", "Marlix Audio:capture_1");
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    jack_deactivate(client);
    jack_client_close(client);
    return 0;
}
