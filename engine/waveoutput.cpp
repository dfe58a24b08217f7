#include "engine/waveoutput.h"

#include "base/boundedwait.h"

#include <algorithm>
#include <chrono>
#include <pthread.h>
#include <sched.h>

namespace marlix {

namespace {

constexpr auto TickPeriod = std::chrono::milliseconds(20);
constexpr int MaxBufLen = 1 << 20;

void RaisePriority()
{
    sched_param param{};
    param.sched_priority = sched_get_priority_min(SCHED_FIFO) + 5;
    pthread_setschedparam(pthread_self(), SCHED_FIFO, &param);
}

template <int Bits>
void Put(int32_t x, uint8_t*& out)
{
    const uint32_t u = uint32_t(x);
    if constexpr (Bits == 8) {
        *out++ = uint8_t((x >> 24) + 128);
    } else if constexpr (Bits == 16) {
        *out++ = uint8_t(u >> 16);
        *out++ = uint8_t(u >> 24);
    } else if constexpr (Bits == 24) {
        *out++ = uint8_t(u >> 8);
        *out++ = uint8_t(u >> 16);
        *out++ = uint8_t(u >> 24);
    } else {
        *out++ = uint8_t(u);
        *out++ = uint8_t(u >> 8);
        *out++ = uint8_t(u >> 16);
        *out++ = uint8_t(u >> 24);
    }
}

template <int Bits>
void Interleave(const int32_t* left, const int32_t* right, int frames, uint8_t* out)
{
    for (int f = 0; f < frames; ++f) {
        Put<Bits>(left[f], out);
        Put<Bits>(right[f], out);
    }
}

} // namespace

TWaveOutput::TWaveOutput() : TWaveOutput(TAlsaWaveOut::DeviceNames()) {}

TWaveOutput::TWaveOutput(std::vector<std::string> deviceNames) : DeviceNames(std::move(deviceNames))
{
    DeviceCount = int(DeviceNames.size());
    PairDevice.fill(-1);
    if (DeviceCount > 0)
        PairDevice[0] = 0;
    SetFormat(44100, 16);
}

TWaveOutput::TWaveOutput(TCallerRenders) : TWaveOutput(std::vector<std::string>{})
{
    RenderedByCaller = true;
}

TWaveOutput::~TWaveOutput() { CloseOutput(); }

int TWaveOutput::BufferFactor(int rate)
{
    if (rate >= 48001 && rate <= 96000)
        return 2;
    if (rate >= 96001 && rate <= 192000)
        return 4;
    return 1;
}

void TWaveOutput::ConvertPair(const int32_t* left, const int32_t* right, int frames, int bits, uint8_t* out)
{
    switch (bits) {
    case 8: return Interleave<8>(left, right, frames, out);
    case 16: return Interleave<16>(left, right, frames, out);
    case 24: return Interleave<24>(left, right, frames, out);
    case 32: return Interleave<32>(left, right, frames, out);
    default: return;
    }
}

void TWaveOutput::SetBuffers(int count, int frames)
{
    if (OutState.load() != TOutState::Closed)
        return;
    BufCount = std::clamp(count, 1, TAlsaWaveOut::MaxQueued);
    BufLen = std::clamp(frames, 1, MaxBufLen);
}

void TWaveOutput::SetFormat(int rate, int bits)
{
    if (OutState.load() != TOutState::Closed)
        return;
    Format.Tag = 1;
    Format.Channels = 2;
    Format.SamplesPerSec = uint32_t(std::max(rate, 0));
    Format.BitsPerSample = uint16_t(std::clamp(bits, 0, 32));
    Format.BlockAlign = uint16_t(Format.BitsPerSample / 8 * 2);
    Format.AvgBytesPerSec = Format.SamplesPerSec * Format.BlockAlign;
    Format.Size = 18;
}

void TWaveOutput::SetPairDevice(int pair, int device)
{
    if (OutState.load() != TOutState::Closed || pair < 0 || pair >= MaxPairs)
        return;
    PairDevice[size_t(pair)] = device == 65535 ? -1 : device;
}

bool TWaveOutput::OpenOutput(int channels)
{
    if (OutState.load() != TOutState::Closed || channels < 1 || channels > 2 * MaxPairs)
        return false;
    Channels = channels;
    Pairs = (channels + 1) / 2;
    const size_t bytes = size_t(Format.BlockAlign) * size_t(BufLen);
    bool opened = true;
    FailedDevice.clear();
    Failure = TWaveOpenFailure::None;
    FailureDetail.clear();
    for (int p = 0; p < Pairs; ++p) {
        TPair& pair = PairData[size_t(p)];
        pair.Buffers.assign(size_t(BufCount), std::vector<uint8_t>(bytes));
        pair.Headers = std::make_unique<TWaveHeader[]>(size_t(BufCount));
        for (int i = 0; i < BufCount; ++i) {
            pair.Headers[size_t(i)].Data = pair.Buffers[size_t(i)].data();
            pair.Headers[size_t(i)].Length = uint32_t(bytes);
        }
        pair.FreeCount.store(BufCount);
        const std::string pcm = TAlsaWaveOut::PcmName(DeviceNames, PairDevice[size_t(p)]);
        TWaveOpenFailure why = TWaveOpenFailure::None;
        std::string detail;
        if (RenderedByCaller) {
            pair.Handle = nullptr;
        } else if (TAlsaWaveOut::Open(&pair.Handle, pcm, Format, &DoneProc, this, &why, &detail) != WaveOk) {
            opened = false;
            FailedDevice = pcm.empty() ? "#" + std::to_string(PairDevice[size_t(p)]) : pcm;
            Failure = why;
            FailureDetail = detail;
        } else {
            pair.Handle->StopTimeout = CloseTimeout;
        }
    }
    FillIndex = WriteIndex = Pending = 0;
    ChannelBufs.assign(size_t(channels), std::vector<int32_t>(size_t(BufLen), 0));
    ChannelPtrs.clear();
    for (auto& buf : ChannelBufs)
        ChannelPtrs.push_back(buf.data());
    OutState.store(TOutState::Open);
    StartTimer();
    return opened;
}

// Renders only when every device has a buffer to take it, so no rendered block is lost.
void TWaveOutput::FillOne()
{
    if (OutState.load() < TOutState::Open || !AllPairsFree())
        return;
    Filling.store(true);
    if (TRenderProc render = Render.load(std::memory_order_acquire))
        render(ChannelPtrs.data(), BufLen, Channels);
    else
        for (auto& buf : ChannelBufs)
            std::fill(buf.begin(), buf.end(), 0);
    PrepareBuffers();
    Filling.store(false);
}

bool TWaveOutput::AllPairsFree() const
{
    for (int p = 0; p < Pairs; ++p)
        if (PairData[size_t(p)].FreeCount.load() <= 0)
            return false;
    return true;
}

void TWaveOutput::PrepareBuffers()
{
    if (OutState.load() < TOutState::Open || !AllPairsFree())
        return;
    const uint32_t bytes = uint32_t(Format.BlockAlign) * uint32_t(BufLen);
    for (int p = 0; p < Pairs; ++p) {
        TPair& pair = PairData[size_t(p)];
        pair.FreeCount.fetch_sub(1);
        TWaveHeader& header = pair.Headers[size_t(FillIndex)];
        if (pair.Handle)
            pair.Handle->Unprepare(&header);
        header.Length = bytes;
        header.Flags.store(0);
        const int32_t* left = ChannelBufs[size_t(2 * p)].data();
        const int32_t* right = 2 * p + 1 < Channels ? ChannelBufs[size_t(2 * p + 1)].data() : left;
        ConvertPair(left, right, BufLen, Format.BitsPerSample, header.Data);
        if (pair.Handle)
            pair.Handle->Prepare(&header);
    }
    FillIndex = (FillIndex + 1) % BufCount;
    ++Pending;
}

void TWaveOutput::Flush()
{
    if (OutState.load() < TOutState::Open)
        return;
    while (Pending > 0) {
        --Pending;
        for (int p = 0; p < Pairs; ++p) {
            TPair& pair = PairData[size_t(p)];
            if (pair.Handle)
                pair.Handle->Write(&pair.Headers[size_t(WriteIndex)]);
        }
        WriteIndex = (WriteIndex + 1) % BufCount;
    }
    OutState.store(TOutState::Playing);
}

void TWaveOutput::Tick()
{
    if (OutState.load() < TOutState::Playing)
        return;
    while (AllPairsFree())
        FillOne();
    Flush();
}

// Buffers written during the pre-fill's flush may come back before the state
// reaches 3, so they count from state 2 on.
void TWaveOutput::DoneProc(TAlsaWaveOut* handle, unsigned msg, void* instance, TWaveHeader*)
{
    auto* self = static_cast<TWaveOutput*>(instance);
    if (msg != WaveMsgDone || self->OutState.load() < TOutState::Open)
        return;
    for (int p = 0; p < self->Pairs; ++p)
        if (self->PairData[size_t(p)].Handle == handle)
            self->PairData[size_t(p)].FreeCount.fetch_add(1);
}

void TWaveOutput::CloseOutput()
{
    StopTimer();
    const TOutState state = OutState.load();
    if (state == TOutState::Closed)
        return;
    OutState.store(TOutState::Closing);
    while (Filling.load())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    if (state == TOutState::Playing)
        for (int p = 0; p < Pairs; ++p)
            if (PairData[size_t(p)].Handle)
                PairData[size_t(p)].Handle->Reset();
    for (int p = 0; p < Pairs; ++p)
        ClosePair(PairData[size_t(p)]);
    ChannelBufs.clear();
    ChannelPtrs.clear();
    Pairs = 0;
    OutState.store(TOutState::Closed);
}

void TWaveOutput::ClosePair(TPair& pair)
{
    if (pair.Handle) {
        const auto allBack = [&] {
            for (int i = 0; i < BufCount; ++i)
                if (pair.Handle->Unprepare(&pair.Headers[size_t(i)]) == WaveStillPlaying)
                    return false;
            return true;
        };
        if (!WaitUntilDone(allBack, CloseTimeout)) {
            // The driver still holds buffers: it keeps them, and its handle, for good.
            ReportAbandoned("a wave output device", CloseTimeout);
            LeaveBehind(pair.Headers.release());
            LeaveBehind(new std::vector<std::vector<uint8_t>>(std::move(pair.Buffers)));
            TAlsaWaveOut::Abandon(pair.Handle);
        } else if (TAlsaWaveOut::Close(pair.Handle) == WaveStillPlaying) {
            pair.Handle->Reset();
            TAlsaWaveOut::Close(pair.Handle);
        }
        pair.Handle = nullptr;
    }
    pair.Headers.reset();
    pair.Buffers.clear();
    pair.FreeCount.store(0);
}

bool TWaveOutput::DeviceLost() const
{
    if (OutState.load() < TOutState::Open)
        return false;
    for (int p = 0; p < Pairs; ++p)
        if (const TAlsaWaveOut* handle = PairData[size_t(p)].Handle; handle && handle->Lost())
            return true;
    return false;
}

double TWaveOutput::QueuedSeconds() const
{
    if (OutState.load() < TOutState::Open || Pairs == 0 || Format.SamplesPerSec == 0)
        return 0;
    const TPair& pair = PairData[0];
    const int busy = std::max(0, BufCount - pair.FreeCount.load());
    const double alsa = pair.Handle ? static_cast<double>(pair.Handle->AlsaDelay()) : 0.0;
    return (static_cast<double>(busy) * BufLen + alsa) / Format.SamplesPerSec;
}

bool TWaveOutput::StartForChain(int device, int bufferNum, int bufferSize, int outRate)
{
    if (OutState.load() != TOutState::Closed)
        return false;
    SetPairDevice(0, device);
    const long long frames = (long long)bufferSize * BufferFactor(outRate);
    SetBuffers(bufferNum, int(std::min<long long>(frames, MaxBufLen)));
    SetFormat(outRate, 16);
    const bool opened = OpenOutput(2);
    for (int i = 0; i < BufCount; ++i)
        FillOne();
    Flush();
    return opened;
}

std::string TWaveOutput::GetDeviceName(int index) const
{
    if (index < 0 || index >= DeviceCount)
        return "----";
    return DeviceNames[size_t(index)];
}

void TWaveOutput::StartTimer()
{
    Timer = std::thread([this] {
        RaisePriority();
        do
            Tick();
        while (!TimerStop.try_acquire_for(TickPeriod));
    });
}

void TWaveOutput::StopTimer()
{
    if (!Timer.joinable())
        return;
    TimerStop.release();
    Timer.join();
}

TWaveOutput& WaveOutput()
{
    static TWaveOutput output;
    return output;
}

} // namespace marlix
