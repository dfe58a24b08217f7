#include "support/pipewirerecorder.h"

#include "base/boundedwait.h"

#include <pipewire/pipewire.h>
#include <spa/param/audio/format-utils.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <sched.h>
#include <set>
#include <unistd.h>

namespace marlix::test {

// The connection: a thread loop for the core and registry events, and the capture
// stream whose process callback runs on the real-time data thread.
struct TPipeWireRecorder::TImpl {
    TPipeWireRecorder* Owner = nullptr;
    pw_thread_loop* Loop = nullptr;
    pw_context* Context = nullptr;
    pw_core* Core = nullptr;
    pw_registry* Registry = nullptr;
    pw_stream* Stream = nullptr;
    spa_hook RegistryHook{};
    spa_hook StreamHook{};
    pw_registry_events RegistryEvents{};
    pw_stream_events StreamEvents{};
    std::atomic<pw_stream_state> State{PW_STREAM_STATE_UNCONNECTED};

    mutable std::mutex Lock; // what the loop thread writes: the error and the stream nodes
    std::string Error;
    std::set<uint32_t> PlaybackNodes;
    int MostPlayback = 0;

    void SetError(const std::string& text)
    {
        std::lock_guard guard(Lock);
        Error = text;
    }

    // A client's node that plays: a playback stream (ALSA's PCM, PulseAudio clients) or a
    // JACK client, which has a category but no class.
    static bool Plays(const spa_dict* props)
    {
        const char* media = spa_dict_lookup(props, PW_KEY_MEDIA_CLASS);
        const char* category = spa_dict_lookup(props, PW_KEY_MEDIA_CATEGORY);
        const auto is = [](const char* value, const char* text) { return value && std::strcmp(value, text) == 0; };
        const auto begins = [](const char* value, const char* text) {
            return value && std::strncmp(value, text, std::strlen(text)) == 0;
        };
        return begins(media, "Stream/Output/") || begins(media, "Stream/Duplex/") || is(category, "Playback") ||
               is(category, "Duplex");
    }
    static void OnGlobal(void* data, uint32_t id, uint32_t, const char* type, uint32_t, const spa_dict* props)
    {
        auto* self = static_cast<TImpl*>(data);
        if (std::strcmp(type, PW_TYPE_INTERFACE_Node) != 0 || !props || !Plays(props))
            return;
        std::lock_guard guard(self->Lock);
        self->PlaybackNodes.insert(id);
        self->MostPlayback = std::max(self->MostPlayback, static_cast<int>(self->PlaybackNodes.size()));
    }
    static void OnGlobalRemove(void* data, uint32_t id)
    {
        auto* self = static_cast<TImpl*>(data);
        std::lock_guard guard(self->Lock);
        self->PlaybackNodes.erase(id);
    }
    static void OnStateChanged(void* data, pw_stream_state, pw_stream_state state, const char* error)
    {
        auto* self = static_cast<TImpl*>(data);
        if (error)
            self->SetError(error);
        self->State.store(state);
    }
    static void OnProcess(void* data)
    {
        auto* self = static_cast<TImpl*>(data);
        pw_buffer* b = pw_stream_dequeue_buffer(self->Stream);
        if (!b)
            return;
        const spa_data& d = b->buffer->datas[0];
        if (d.data && d.chunk) {
            const uint32_t offset = std::min(d.chunk->offset, d.maxsize);
            const uint32_t size = std::min(d.chunk->size, d.maxsize - offset);
            self->Owner->Process(reinterpret_cast<const float*>(static_cast<const uint8_t*>(d.data) + offset),
                                 static_cast<int>(size / (2 * sizeof(float))));
        }
        pw_stream_queue_buffer(self->Stream, b);
    }
};

TPipeWireRecorder::TPipeWireRecorder(int capacity)
    : Samples(2 * static_cast<size_t>(capacity), 0.0f), Capacity(capacity), Impl(std::make_unique<TImpl>())
{
    Impl->Owner = this;
}

TPipeWireRecorder::~TPipeWireRecorder()
{
    TImpl& p = *Impl;
    if (!p.Loop)
        return;
    pw_thread_loop_lock(p.Loop);
    if (p.Stream)
        pw_stream_destroy(p.Stream);
    if (p.Registry) {
        spa_hook_remove(&p.RegistryHook);
        pw_proxy_destroy(reinterpret_cast<pw_proxy*>(p.Registry));
    }
    if (p.Core)
        pw_core_disconnect(p.Core);
    pw_thread_loop_unlock(p.Loop);
    pw_thread_loop_stop(p.Loop);
    if (p.Context)
        pw_context_destroy(p.Context);
    pw_thread_loop_destroy(p.Loop);
}

bool TPipeWireRecorder::Start(const std::string& sink, std::chrono::seconds limit)
{
    static const bool initialised = (pw_init(nullptr, nullptr), true);
    (void)initialised;
    TImpl& p = *Impl;
    p.Loop = pw_thread_loop_new("marlix-recorder", nullptr);
    // client-rt.conf gives the data thread real-time scheduling where permitted.
    p.Context = pw_context_new(pw_thread_loop_get_loop(p.Loop),
                               pw_properties_new(PW_KEY_CONFIG_NAME, "client-rt.conf", nullptr), 0);
    if (!p.Context || pw_thread_loop_start(p.Loop) != 0) {
        p.SetError("no PipeWire context");
        return false;
    }
    pw_thread_loop_lock(p.Loop);
    p.Core = pw_context_connect(p.Context, nullptr, 0);
    if (!p.Core) {
        pw_thread_loop_unlock(p.Loop);
        const char* dir = std::getenv("PIPEWIRE_RUNTIME_DIR");
        p.SetError("cannot connect to PipeWire in " + std::string(dir ? dir : "(unset)"));
        return false;
    }
    p.RegistryEvents.version = PW_VERSION_REGISTRY_EVENTS;
    p.RegistryEvents.global = TImpl::OnGlobal;
    p.RegistryEvents.global_remove = TImpl::OnGlobalRemove;
    p.Registry = pw_core_get_registry(p.Core, PW_VERSION_REGISTRY, 0);
    pw_registry_add_listener(p.Registry, &p.RegistryHook, &p.RegistryEvents, &p);

    p.StreamEvents.version = PW_VERSION_STREAM_EVENTS;
    p.StreamEvents.state_changed = TImpl::OnStateChanged;
    p.StreamEvents.process = TImpl::OnProcess;
    pw_properties* props = pw_properties_new(PW_KEY_MEDIA_TYPE, "Audio", PW_KEY_MEDIA_CATEGORY, "Capture",
                                             PW_KEY_MEDIA_ROLE, "Production", PW_KEY_TARGET_OBJECT, sink.c_str(),
                                             PW_KEY_STREAM_CAPTURE_SINK, "true", PW_KEY_NODE_LATENCY, "256/44100",
                                             nullptr);
    p.Stream = pw_stream_new(p.Core, "marlix-recorder", props);
    pw_stream_add_listener(p.Stream, &p.StreamHook, &p.StreamEvents, &p);
    spa_audio_info_raw info{};
    info.format = SPA_AUDIO_FORMAT_F32;
    info.rate = 44100;
    info.channels = 2;
    info.position[0] = SPA_AUDIO_CHANNEL_FL;
    info.position[1] = SPA_AUDIO_CHANNEL_FR;
    uint8_t buffer[1024];
    spa_pod_builder builder{};
    spa_pod_builder_init(&builder, buffer, sizeof buffer);
    const spa_pod* params[1] = {spa_format_audio_raw_build(&builder, SPA_PARAM_EnumFormat, &info)};
    const int connected = pw_stream_connect(
        p.Stream, PW_DIRECTION_INPUT, PW_ID_ANY,
        static_cast<pw_stream_flags>(PW_STREAM_FLAG_AUTOCONNECT | PW_STREAM_FLAG_MAP_BUFFERS |
                                     PW_STREAM_FLAG_RT_PROCESS),
        params, 1);
    pw_thread_loop_unlock(p.Loop);
    if (connected < 0) {
        p.SetError("the capture stream did not connect");
        return false;
    }
    WaitUntilDone([&] { return p.State.load() == PW_STREAM_STATE_STREAMING || p.State.load() == PW_STREAM_STATE_ERROR; },
                  limit);
    if (p.State.load() == PW_STREAM_STATE_STREAMING)
        return true;
    if (Error().empty())
        p.SetError("the capture stream is not linked to " + sink + " (is wireplumber running?)");
    return false;
}

std::string TPipeWireRecorder::Error() const
{
    std::lock_guard guard(Impl->Lock);
    return Impl->Error;
}

void TPipeWireRecorder::Arm()
{
    FirstFrame.store(-1, std::memory_order_release);
    Armed.store(true, std::memory_order_release);
}

bool TPipeWireRecorder::RealTime() const
{
    if (!HaveThread.load(std::memory_order_acquire))
        return false;
    // Asked of the kernel: the C library's own record of a thread's policy misses a
    // change made by thread id, as PipeWire's real-time module makes it (with
    // SCHED_RESET_ON_FORK added).
    const int policy = sched_getscheduler(Thread) & ~SCHED_RESET_ON_FORK;
    return policy == SCHED_FIFO || policy == SCHED_RR;
}

int TPipeWireRecorder::PlaybackStreams() const
{
    std::lock_guard guard(Impl->Lock);
    return static_cast<int>(Impl->PlaybackNodes.size());
}

int TPipeWireRecorder::MostPlaybackStreams() const
{
    std::lock_guard guard(Impl->Lock);
    return Impl->MostPlayback;
}

// On the data thread: no allocation, no lock.
void TPipeWireRecorder::Process(const float* data, int frames)
{
    if (!HaveThread.load(std::memory_order_relaxed)) {
        Thread = gettid();
        HaveThread.store(true, std::memory_order_release);
    }
    const int at = Count.load(std::memory_order_relaxed);
    long sound = 0;
    for (int f = 0; f < frames; ++f) {
        const bool heard = data[2 * f] != 0.0f || data[2 * f + 1] != 0.0f;
        if (heard && Armed.load(std::memory_order_relaxed)) {
            Armed.store(false, std::memory_order_relaxed);
            FirstTime.store(Clock::now().time_since_epoch().count(), std::memory_order_relaxed);
            FirstFrame.store(at + f, std::memory_order_release);
        }
        sound += heard ? 1 : 0;
        if (at + f < Capacity)
            std::copy(data + 2 * f, data + 2 * f + 2, Samples.begin() + 2 * static_cast<long>(at + f));
    }
    Sound.fetch_add(sound, std::memory_order_release);
    Count.store(at + frames, std::memory_order_release);
}

} // namespace marlix::test
