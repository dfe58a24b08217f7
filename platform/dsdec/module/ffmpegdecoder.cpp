#include "platform/dsdec/dsdec.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace marlix {

namespace {

using Clock = std::chrono::steady_clock;

// Network reads give up after this long without data; the whole open after OpenLimit.
constexpr const char* IoTimeoutUs = "5000000";
constexpr auto OpenLimit = std::chrono::seconds(10);
// Consecutive packets the decoder refuses before the stream counts as ended.
constexpr int MaxBadPackets = 64;

std::once_flag NetworkInit;

} // namespace

// One decoding session: the FFmpeg objects live on and are used by its thread only.
struct TDSDStream {
    TDSDStream(const char* name, TDSDCallBack* callback) : Name(name), Callback(callback) {}
    ~TDSDStream() { Release(); }

    void Run();

    std::string Name;
    TDSDCallBack* Callback;
    std::thread Thread;

    std::mutex Lock;
    std::condition_variable Wake;
    bool Opened = false;
    bool OpenOk = false;
    bool SeekPending = false;
    double SeekTarget = 0.0;

    TWaveFormatEx Format{};
    std::atomic<bool> Abort{false};
    std::atomic<bool> Opening{true};
    std::atomic<bool> SeekFlag{false};
    std::atomic<int32_t> Finished{0};
    std::atomic<double> LengthMs{0.0};
    std::atomic<double> PositionMs{0.0};
    Clock::time_point OpenDeadline = Clock::now() + OpenLimit;

private:
    static int Interrupt(void* opaque);
    bool Open();
    bool OpenCodec();
    void Release();
    // Decodes until the input ends or fails (true) or the session is aborted (false).
    bool DecodeToEnd();
    bool WaitAfterEnd();
    void DoSeek();
    bool Decode(const AVPacket* packet);
    bool ConfigureResampler(const AVFrame* frame);
    void DeliverFrame(const AVFrame* frame);

    AVFormatContext* Fmt = nullptr;
    AVCodecContext* Dec = nullptr;
    SwrContext* Swr = nullptr;
    AVPacket* Packet = nullptr;
    AVFrame* Frame = nullptr;
    int StreamIndex = -1;
    AVRational TimeBase{1, 1};
    int64_t StartPts = 0;
    AVChannelLayout OutLayout{};
    int OutRate = 0;
    AVChannelLayout SwrInLayout{};
    int SwrInRate = 0;
    int SwrInFormat = -1;
    std::vector<uint8_t> Out;
    double NextTime = 0.0;  // time of the next frame when a frame carries no time stamp
    double SkipUntil = -1.0; // after a seek, audio before this time is dropped
    int BadPackets = 0;
};

int TDSDStream::Interrupt(void* opaque)
{
    auto* s = static_cast<TDSDStream*>(opaque);
    if (s->Abort.load(std::memory_order_acquire))
        return 1;
    return s->Opening.load(std::memory_order_acquire) && Clock::now() > s->OpenDeadline ? 1 : 0;
}

void TDSDStream::Run()
{
    const bool ok = Open();
    Opening = false;
    {
        std::lock_guard lock(Lock);
        Opened = true;
        OpenOk = ok;
    }
    Wake.notify_all();
    if (!ok)
        return;
    while (DecodeToEnd() && WaitAfterEnd()) {
        // a seek came in: DecodeToEnd carries it out first
    }
}

bool TDSDStream::Open()
{
    std::call_once(NetworkInit, [] { avformat_network_init(); });
    Fmt = avformat_alloc_context();
    if (!Fmt)
        return false;
    Fmt->interrupt_callback.callback = &TDSDStream::Interrupt;
    Fmt->interrupt_callback.opaque = this;
    AVDictionary* options = nullptr;
    av_dict_set(&options, "rw_timeout", IoTimeoutUs, 0);
    av_dict_set(&options, "timeout", IoTimeoutUs, 0);
    // Local files and the web only: a name must not reach pipes, descriptors or devices.
    av_dict_set(&options, "protocol_whitelist", "file,http,https,tcp,tls", 0);
    const int r = avformat_open_input(&Fmt, Name.c_str(), nullptr, &options);
    av_dict_free(&options);
    if (r < 0)
        return false; // Fmt was freed and cleared
    if (avformat_find_stream_info(Fmt, nullptr) < 0 || !OpenCodec())
        return false;
    Packet = av_packet_alloc();
    Frame = av_frame_alloc();
    if (!Packet || !Frame)
        return false;
    if (Fmt->duration != AV_NOPTS_VALUE && Fmt->duration > 0)
        LengthMs = double(Fmt->duration) / 1000.0;
    else if (Fmt->streams[StreamIndex]->duration != AV_NOPTS_VALUE)
        LengthMs = double(Fmt->streams[StreamIndex]->duration) * av_q2d(TimeBase) * 1000.0;
    return true;
}

bool TDSDStream::OpenCodec()
{
    const AVCodec* codec = nullptr;
    StreamIndex = av_find_best_stream(Fmt, AVMEDIA_TYPE_AUDIO, -1, -1, &codec, 0);
    if (StreamIndex < 0 || !codec)
        return false;
    for (unsigned i = 0; i < Fmt->nb_streams; ++i)
        if (int(i) != StreamIndex)
            Fmt->streams[i]->discard = AVDISCARD_ALL;
    AVStream* st = Fmt->streams[StreamIndex];
    Dec = avcodec_alloc_context3(codec);
    if (!Dec || avcodec_parameters_to_context(Dec, st->codecpar) < 0)
        return false;
    Dec->pkt_timebase = st->time_base;
    if (avcodec_open2(Dec, codec, nullptr) < 0)
        return false;
    const int channels = Dec->ch_layout.nb_channels;
    if (channels < 1 || channels > 255 || Dec->sample_rate <= 0)
        return false;
    TimeBase = st->time_base;
    StartPts = st->start_time != AV_NOPTS_VALUE ? st->start_time : 0;
    if (Dec->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC)
        av_channel_layout_default(&OutLayout, channels);
    else if (av_channel_layout_copy(&OutLayout, &Dec->ch_layout) < 0)
        return false;
    OutRate = Dec->sample_rate;
    Format.wFormatTag = 1;
    Format.nChannels = uint16_t(channels);
    Format.nSamplesPerSec = uint32_t(OutRate);
    Format.nBlockAlign = uint16_t(channels * 2);
    Format.nAvgBytesPerSec = Format.nSamplesPerSec * Format.nBlockAlign;
    Format.wBitsPerSample = 16;
    Format.cbSize = 0;
    return true;
}

void TDSDStream::Release()
{
    swr_free(&Swr);
    av_frame_free(&Frame);
    av_packet_free(&Packet);
    avcodec_free_context(&Dec);
    avformat_close_input(&Fmt);
    av_channel_layout_uninit(&OutLayout);
    av_channel_layout_uninit(&SwrInLayout);
}

bool TDSDStream::DecodeToEnd()
{
    for (;;) {
        if (Abort.load(std::memory_order_acquire))
            return false;
        if (SeekFlag.load(std::memory_order_acquire))
            DoSeek();
        const int r = av_read_frame(Fmt, Packet);
        if (r == AVERROR(EAGAIN)) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            continue;
        }
        if (r < 0) {
            Decode(nullptr); // drain what the decoder still holds
            return !Abort.load(std::memory_order_acquire);
        }
        bool alive = true;
        if (Packet->stream_index == StreamIndex)
            alive = Decode(Packet);
        av_packet_unref(Packet);
        if (!alive)
            return !Abort.load(std::memory_order_acquire);
    }
}

// The last block is out: report the end unless a seek came in meanwhile, then sleep
// until a seek (true) or dsdFree (false).
bool TDSDStream::WaitAfterEnd()
{
    std::unique_lock lock(Lock);
    if (!SeekPending)
        Finished.store(1, std::memory_order_release);
    Wake.wait(lock, [&] { return SeekPending || Abort.load(std::memory_order_acquire); });
    return !Abort.load(std::memory_order_acquire);
}

void TDSDStream::DoSeek()
{
    double target;
    {
        std::lock_guard lock(Lock);
        target = SeekTarget;
        SeekPending = false;
        SeekFlag = false;
    }
    int64_t ts = int64_t(target * 1000.0);
    if (Fmt->start_time != AV_NOPTS_VALUE)
        ts += Fmt->start_time;
    if (av_seek_frame(Fmt, -1, ts, AVSEEK_FLAG_BACKWARD) < 0)
        avformat_seek_file(Fmt, -1, INT64_MIN, ts, INT64_MAX, 0);
    avcodec_flush_buffers(Dec);
    swr_free(&Swr);
    SkipUntil = target / 1000.0;
    NextTime = SkipUntil;
    BadPackets = 0;
    PositionMs = target;
}

// Sends one packet (null drains) and delivers every frame it yields; false ends the stream.
bool TDSDStream::Decode(const AVPacket* packet)
{
    int r = avcodec_send_packet(Dec, packet);
    if (r < 0 && r != AVERROR(EAGAIN) && r != AVERROR_EOF) {
        // A damaged packet is skipped, as players do; a run of them ends the stream.
        return ++BadPackets < MaxBadPackets;
    }
    for (;;) {
        r = avcodec_receive_frame(Dec, Frame);
        if (r == AVERROR(EAGAIN) || r == AVERROR_EOF)
            break;
        if (r < 0)
            return ++BadPackets < MaxBadPackets;
        BadPackets = 0;
        if (!Abort.load(std::memory_order_acquire))
            DeliverFrame(Frame);
        av_frame_unref(Frame);
    }
    return true;
}

// (Re)builds the converter whenever the decoder's output format changes; the output
// stays 16-bit at the rate and layout the stream opened with.
bool TDSDStream::ConfigureResampler(const AVFrame* frame)
{
    if (Swr && frame->format == SwrInFormat && frame->sample_rate == SwrInRate &&
        av_channel_layout_compare(&frame->ch_layout, &SwrInLayout) == 0)
        return true;
    swr_free(&Swr);
    av_channel_layout_uninit(&SwrInLayout);
    const int channels = frame->ch_layout.nb_channels;
    if (channels <= 0 || av_channel_layout_copy(&SwrInLayout, &frame->ch_layout) < 0)
        return false;
    AVChannelLayout in{};
    if (frame->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC)
        av_channel_layout_default(&in, channels);
    else
        av_channel_layout_copy(&in, &frame->ch_layout);
    SwrInFormat = frame->format;
    SwrInRate = frame->sample_rate;
    const bool ok = swr_alloc_set_opts2(&Swr, &OutLayout, AV_SAMPLE_FMT_S16, OutRate, &in,
                                        AVSampleFormat(frame->format), frame->sample_rate, 0, nullptr) >= 0 &&
                    swr_init(Swr) >= 0;
    av_channel_layout_uninit(&in);
    if (!ok)
        swr_free(&Swr);
    return ok;
}

void TDSDStream::DeliverFrame(const AVFrame* frame)
{
    if (frame->nb_samples <= 0 || frame->sample_rate <= 0 || !ConfigureResampler(frame))
        return;
    const double t = frame->best_effort_timestamp != AV_NOPTS_VALUE
                         ? double(frame->best_effort_timestamp - StartPts) * av_q2d(TimeBase)
                         : NextTime;
    NextTime = t + double(frame->nb_samples) / frame->sample_rate;
    const int capacity = swr_get_out_samples(Swr, frame->nb_samples);
    if (capacity <= 0)
        return;
    const int frameBytes = Format.nBlockAlign;
    Out.resize(size_t(capacity) * size_t(frameBytes));
    uint8_t* dst = Out.data();
    const int got = swr_convert(Swr, &dst, capacity, const_cast<const uint8_t**>(frame->extended_data),
                                frame->nb_samples);
    if (got <= 0)
        return;
    int skip = 0;
    if (SkipUntil >= 0.0) {
        if (NextTime <= SkipUntil)
            return;
        if (t < SkipUntil)
            skip = std::min(got, int((SkipUntil - t) * OutRate + 0.5));
        SkipUntil = -1.0;
    }
    const double start = t + double(skip) / OutRate;
    if (Callback)
        Callback->Deliver(start, Out.data() + size_t(skip) * size_t(frameBytes), (got - skip) * frameBytes);
    PositionMs.store((start + double(got - skip) / OutRate) * 1000.0, std::memory_order_release);
}

TDSDHandle dsdCreate(const char* name, int flags, TDSDCallBack* callback)
{
    (void)flags;
    if (!name)
        return nullptr;
    auto* s = new TDSDStream(name, callback);
    try {
        s->Thread = std::thread([s] { s->Run(); });
    } catch (...) {
        delete s;
        return nullptr;
    }
    return s;
}

void dsdFree(TDSDHandle handle)
{
    if (!handle)
        return;
    {
        std::lock_guard lock(handle->Lock);
        handle->Abort.store(true, std::memory_order_release);
    }
    handle->Wake.notify_all();
    if (handle->Thread.joinable())
        handle->Thread.join();
    delete handle;
}

const TWaveFormatEx* dsdGetWaveFormatEx(TDSDHandle handle)
{
    if (!handle)
        return nullptr;
    std::unique_lock lock(handle->Lock);
    handle->Wake.wait(lock, [&] { return handle->Opened; });
    return handle->OpenOk ? &handle->Format : nullptr;
}

double dsdGetLength(TDSDHandle handle) { return handle ? handle->LengthMs.load() : 0.0; }

double dsdGetPosition(TDSDHandle handle) { return handle ? handle->PositionMs.load() : 0.0; }

void dsdSetPosition(TDSDHandle handle, double ms)
{
    if (!handle)
        return;
    {
        std::lock_guard lock(handle->Lock);
        handle->SeekTarget = ms > 0.0 ? ms : 0.0;
        handle->SeekPending = true;
        handle->SeekFlag.store(true, std::memory_order_release);
        handle->Finished.store(0, std::memory_order_release);
    }
    handle->Wake.notify_all();
}

int32_t dsdGetFinished(TDSDHandle handle) { return handle ? handle->Finished.load() : 1; }

} // namespace marlix

namespace marlix {

namespace {

constexpr size_t MaxTagValue = 1024;

// Tabs and line breaks would break the line format; a value is also kept short.
std::string CleanTag(const char* text)
{
    std::string s(text ? text : "");
    if (s.size() > MaxTagValue)
        s.resize(MaxTagValue);
    std::replace_if(s.begin(), s.end(), [](char c) { return c == '\t' || c == '\n' || c == '\r'; }, ' ');
    return s;
}

void AddTags(std::string& out, const AVDictionary* dict)
{
    const AVDictionaryEntry* e = nullptr;
    while ((e = av_dict_get(dict, "", e, AV_DICT_IGNORE_SUFFIX)))
        out += "tag:" + CleanTag(e->key) + '\t' + CleanTag(e->value) + '\n';
}

std::string DescribeFile(const char* name)
{
    AVFormatContext* fmt = nullptr;
    AVDictionary* options = nullptr;
    av_dict_set(&options, "protocol_whitelist", "file", 0);
    const int r = avformat_open_input(&fmt, name, nullptr, &options);
    av_dict_free(&options);
    if (r < 0)
        return {};
    std::string out;
    if (avformat_find_stream_info(fmt, nullptr) >= 0) {
        out += std::string("format\t") + CleanTag(fmt->iformat->long_name ? fmt->iformat->long_name : fmt->iformat->name) + '\n';
        if (fmt->duration != AV_NOPTS_VALUE && fmt->duration > 0)
            out += "duration_ms\t" + std::to_string(fmt->duration / 1000) + '\n';
        if (fmt->bit_rate > 0)
            out += "bit_rate\t" + std::to_string(fmt->bit_rate) + '\n';
        const int index = av_find_best_stream(fmt, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
        if (index >= 0) {
            const AVCodecParameters* par = fmt->streams[index]->codecpar;
            out += std::string("codec\t") + CleanTag(avcodec_get_name(par->codec_id)) + '\n';
            out += "sample_rate\t" + std::to_string(par->sample_rate) + '\n';
            out += "channels\t" + std::to_string(par->ch_layout.nb_channels) + '\n';
            AddTags(out, fmt->streams[index]->metadata);
        }
        AddTags(out, fmt->metadata);
    }
    avformat_close_input(&fmt);
    return out.empty() ? std::string("format\t\n") : out;
}

} // namespace

int32_t GetTags(const char* name, char* buffer, int32_t size)
{
    if (!name || std::strstr(name, "://"))
        return -1;
    const std::string text = DescribeFile(name);
    if (text.empty())
        return -1;
    if (buffer && size > 0) {
        const size_t n = std::min(text.size(), size_t(size - 1));
        std::memcpy(buffer, text.data(), n);
        buffer[n] = '\0';
    }
    return static_cast<int32_t>(text.size());
}

} // namespace marlix

// The module's entry points, looked up by name when the player first needs a
// decoder for something other than a PCM WAV file.
extern "C" {

__attribute__((visibility("default"))) marlix::TDSDHandle dsdCreate(const char* name, int flags,
                                                                       marlix::TDSDCallBack* callback)
{
    return marlix::dsdCreate(name, flags, callback);
}

__attribute__((visibility("default"))) void dsdFree(marlix::TDSDHandle handle)
{
    marlix::dsdFree(handle);
}

__attribute__((visibility("default"))) const marlix::TWaveFormatEx* dsdGetWaveFormatEx(marlix::TDSDHandle handle)
{
    return marlix::dsdGetWaveFormatEx(handle);
}

__attribute__((visibility("default"))) double dsdGetLength(marlix::TDSDHandle handle)
{
    return marlix::dsdGetLength(handle);
}

__attribute__((visibility("default"))) double dsdGetPosition(marlix::TDSDHandle handle)
{
    return marlix::dsdGetPosition(handle);
}

__attribute__((visibility("default"))) void dsdSetPosition(marlix::TDSDHandle handle, double ms)
{
    marlix::dsdSetPosition(handle, ms);
}

__attribute__((visibility("default"))) int32_t dsdGetFinished(marlix::TDSDHandle handle)
{
    return marlix::dsdGetFinished(handle);
}

// The container, the audio stream and the tags of a local file, as "key\tvalue\n" lines
// (see dsdReadTags); the length of the whole text, or -1 when the file cannot be read.
__attribute__((visibility("default"))) int32_t dsdGetTags(const char* name, char* buffer, int32_t size)
{
    return marlix::GetTags(name, buffer, size);
}

// The FFmpeg version this module runs with.
__attribute__((visibility("default"))) const char* dsdGetVersion() { return av_version_info(); }

} // extern "C"
