#include "engine/outputstage.h"

#include "dsp/himanager.h"
#include "base/helperthread.h"
#include "engine/filterthread.h"
#include "engine/spectrumanalyser.h"
#include "settings/settings.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <immintrin.h>

namespace marlix {
namespace {

std::atomic<TOutputStage*> gStage{nullptr};

bool Flag(const std::atomic<bool>* flag)
{
    return flag && flag->load(std::memory_order_acquire);
}

// Largest double below 1 whose product with 2^31 still rounds inside the 32-bit range.
constexpr double kTop = 0.9999999995343245;

// Samples to 32-bit integers, clipped to −1 … kTop and rounded to nearest; NaN, which
// would make the conversion undefined, gives 0.
void ToInt32Scalar(const double* x, int32_t* out, int frames)
{
    for (int i = 0; i < frames; ++i) {
        double v = x[i];
        if (!(v <= kTop))
            v = std::isnan(v) ? 0.0 : kTop;
        if (v < -1)
            v = -1;
        out[i] = static_cast<int32_t>(std::llrint(v * 2147483648.0));
    }
}

// The same four at a time; the conversion rounds as llrint does, by the current mode.
__attribute__((target("avx2"))) void ToInt32Avx2(const double* x, int32_t* out, int frames)
{
    const __m256d top = _mm256_set1_pd(kTop), bottom = _mm256_set1_pd(-1.0), scale = _mm256_set1_pd(2147483648.0);
    int i = 0;
    for (; i + 4 <= frames; i += 4) {
        __m256d v = _mm256_loadu_pd(x + i);
        v = _mm256_and_pd(v, _mm256_cmp_pd(v, v, _CMP_ORD_Q));
        v = _mm256_max_pd(_mm256_min_pd(v, top), bottom);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm256_cvtpd_epi32(_mm256_mul_pd(v, scale)));
    }
    ToInt32Scalar(x + i, out + i, frames - i);
}

// The largest |x[i]|, at least `peak`; NaN is passed over, as std::max(peak, |x|) does
// (MAXPD keeps its second operand when one is NaN). Two lanes, two accumulators.
double PeakAbs(const double* x, int n, double peak)
{
    const __m128d sign = _mm_set1_pd(-0.0);
    __m128d a = _mm_set1_pd(peak), b = a;
    int i = 0;
    for (; i + 4 <= n; i += 4) {
        a = _mm_max_pd(_mm_andnot_pd(sign, _mm_loadu_pd(x + i)), a);
        b = _mm_max_pd(_mm_andnot_pd(sign, _mm_loadu_pd(x + i + 2)), b);
    }
    a = _mm_max_pd(a, b);
    peak = std::max(_mm_cvtsd_f64(a), _mm_cvtsd_f64(_mm_unpackhi_pd(a, a)));
    for (; i < n; ++i)
        peak = std::max(peak, std::abs(x[i]));
    return peak;
}

bool HasAvx2()
{
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2");
}

const auto gToInt32 = HasAvx2() ? ToInt32Avx2 : ToInt32Scalar;

} // namespace

void RenderOutput(int32_t* const* outputs, int frames, int channels)
{
    if (TOutputStage* stage = gStage.load(std::memory_order_acquire)) {
        stage->Render(outputs, frames, channels);
        return;
    }
    for (int k = 0; k < channels; ++k)
        std::fill_n(outputs[k], frames, 0);
}

void SetRenderStage(TOutputStage* stage)
{
    gStage.store(stage, std::memory_order_release);
}

TOutputStage::TOutputStage(const TSettings& settings, TOutputControls controls)
    : Config(settings), Controls(std::move(controls))
{
    Blocks[0].resize(kMaxFrames);
    Envelope.resize(kMaxFrames);
}

void TOutputStage::UseHelperThread()
{
    if (Helper)
        return;
    Blocks[1].resize(kMaxFrames);
    Helper = std::make_unique<THelperThread>();
}

TOutputStage::~TOutputStage() = default;

void TOutputStage::Start(TFilterThread* filter, int outRate, int hscMode)
{
    OutRate = outRate;
    const size_t ring = static_cast<size_t>(std::max(1L, std::lround(outRate * 0.03)));
    for (int k = 0; k < 2; ++k) {
        HiManagers[k] = std::make_unique<THiManager>(hscMode + 1, outRate);
        DelayRings[k].assign(ring, 0.0);
    }
    DelayPos = 0;
    GlideFrames = static_cast<int>(std::max(1L, std::lround(outRate * 0.01)));
    GainSet.fill(false);
    DelaySet.fill(false);
    DelayLeft.fill(0);
    AVCVolume = 1; // no volume: those are at most 0
    HSCOn = Flag(Controls.HSC);
    HSCWet = Flag(Controls.HSCWetOnly);
    HSCFade = THSCFade::Steady;
    HSCFadeLeft = 0;
    EmptyReads.store(0);
    Preroll.store(true);
    Filter.store(filter, std::memory_order_release);
}

void TOutputStage::Stop()
{
    if (Controls.Spectrum)
        Controls.Spectrum->Hook(0, OutRate);
    Filter.store(nullptr, std::memory_order_release);
    for (auto& h : HiManagers)
        h.reset();
    for (auto& r : DelayRings)
        r.clear();
}

// Frames the FIFO can give now, after the pre-roll gate and the empty-read count.
int TOutputStage::Available()
{
    TFilterThread* filter = Filter.load(std::memory_order_acquire);
    if (!filter || filter->Busy.load(std::memory_order_acquire) || !filter->OutFIFO)
        return 0;
    int a = filter->OutFIFO->PlayingAvailable();
    if (Preroll.load(std::memory_order_acquire)) {
        const double length = Controls.TrackLengthMs ? Controls.TrackLengthMs->load(std::memory_order_acquire) : 0.0;
        const bool full = a >= OutRate * filter->BufferSec;
        const bool whole = length > 0 && a >= std::lround((length * OutRate - 1) / 1000);
        if (full || whole || Flag(Controls.Finished))
            Preroll.store(false, std::memory_order_release);
        else
            a = 0;
        EmptyReads.store(0);
    } else if (a > 0) {
        EmptyReads.store(0);
    } else {
        EmptyReads.fetch_add(1);
        if (!Flag(Controls.Finished))
            Underruns.fetch_add(1, std::memory_order_relaxed);
    }
    return a;
}

void TOutputStage::Render(int32_t* const* outputs, int frames, int channels)
{
    // Larger requests than the block go through in pieces, and a piece ends where HSC
    // switches.
    for (int done = 0; done < frames;) {
        FollowHSCSwitch(frames - done);
        const int n = std::min({kMaxFrames, frames - done, FramesBeforeSwitch()});
        int32_t* parts[16];
        for (int k = 0; k < channels && k < 16; ++k)
            parts[k] = outputs[k] + done;
        RenderBlock(parts, n, std::min(channels, 16));
        done += n;
    }
}

void TOutputStage::RenderBuffers(int32_t* const* outputs, int count, int frames, int channels)
{
    const bool hsc = HSCOn;
    const bool switching = HSCFade != THSCFade::Steady || Flag(Controls.HSC) != HSCOn ||
                           (HSCOn && Flag(Controls.HSCWetOnly) != HSCWet);
    if (count > kMaxBuffers || count * frames > kMaxFrames || !ComplementsInParallel(channels, hsc) ||
        Preroll.load(std::memory_order_acquire) || switching) {
        for (int i = 0; i < count; ++i) {
            int32_t* parts[16];
            for (int k = 0; k < channels && k < 16; ++k)
                parts[k] = outputs[k] + static_cast<ptrdiff_t>(i) * frames;
            Render(parts, frames, channels);
        }
        return;
    }
    int available[kMaxBuffers];
    double peaks[kMaxBuffers];
    for (int i = 0; i < count; ++i) {
        available[i] = std::min(Available(), frames);
        peaks[i] = 0;
        for (int k = 0; k < 2; ++k)
            ReadChannel(k, Blocks[k].data() + i * frames, frames, available[i], peaks[i]);
    }
    ComplementBoth(count * frames);
    for (int i = 0; i < count; ++i) {
        int32_t* parts[2] = {outputs[0] + i * frames, outputs[1] + i * frames};
        double* x[2] = {Blocks[0].data() + i * frames, Blocks[1].data() + i * frames};
        BeginBuffer(2, frames);
        for (int k = 0; k < 2; ++k)
            FinishChannel(k, x[k], parts[k], frames);
        EndBuffer(frames, available[i], peaks[i]);
    }
}

void TOutputStage::RenderBlock(int32_t* const* outputs, int frames, int channels)
{
    const int available = std::min(Available(), frames);
    const bool hsc = HSCOn;
    BeginBuffer(channels, frames);
    double peak = 0;
    // Channel by channel: automatic volume control on one lowers the next one's gain.
    double* x = Blocks[0].data();
    for (int k = 0; k < channels; ++k) {
        ReadChannel(k, x, frames, available, peak);
        if (hsc)
            Complement(k, x, frames);
        FinishChannel(k, x, outputs[k], frames);
    }
    EndBuffer(frames, available, peak);
}

// Starts the fade-out when the controls ask for another HSC state, and switches once
// it has run out: a newly started HSC starts afresh.
void TOutputStage::FollowHSCSwitch(int frames)
{
    const bool want = Flag(Controls.HSC), wantWet = Flag(Controls.HSCWetOnly);
    if (HSCFade == THSCFade::Steady && (want != HSCOn || (want && wantWet != HSCWet))) {
        if (Preroll.load(std::memory_order_acquire) || frames <= 0) {
            HSCWet = wantWet; // nothing sounds yet: switch at once
        } else {
            HSCFade = THSCFade::Out;
            HSCFadeLeft = GlideFrames;
            return;
        }
    } else if (HSCFade != THSCFade::Out || HSCFadeLeft > 0) {
        return;
    }
    const bool starting = want && !HSCOn;
    if (starting)
        for (auto& h : HiManagers)
            if (h)
                h->Reset();
    const bool silentStart = HSCFade == THSCFade::Steady;
    HSCOn = want;
    HSCWet = wantWet;
    if (silentStart)
        return;
    HSCFade = starting ? THSCFade::Hole : THSCFade::In;
    HSCFadeLeft = starting && HiManagers[0] ? HiManagers[0]->FrameSize : GlideFrames;
}

// Where the piece must end: at the end of a fade-out, where HSC switches.
int TOutputStage::FramesBeforeSwitch() const
{
    return HSCFade == THSCFade::Out ? std::max(HSCFadeLeft, 1) : kMaxFrames;
}

double TOutputStage::EnvelopeAt(int i) const
{
    switch (HSCFade) {
    case THSCFade::Out: return 1.0 - RiseGain(GlideFrames - HSCFadeLeft + i, GlideFrames);
    case THSCFade::Hole: return RiseGain(i - HSCFadeLeft, GlideFrames);
    case THSCFade::In: return RiseGain(GlideFrames - HSCFadeLeft + i, GlideFrames);
    default: return 1.0;
    }
}

void TOutputStage::AdvanceHSCFade(int frames)
{
    if (HSCFade == THSCFade::Out) {
        HSCFadeLeft = std::max(0, HSCFadeLeft - frames);
        return;
    }
    if (HSCFade == THSCFade::Hole) {
        if (frames < HSCFadeLeft) {
            HSCFadeLeft -= frames;
            return;
        }
        frames -= HSCFadeLeft;
        HSCFade = THSCFade::In;
        HSCFadeLeft = GlideFrames;
    }
    if (HSCFade == THSCFade::In) {
        HSCFadeLeft -= frames;
        if (HSCFadeLeft <= 0) {
            HSCFade = THSCFade::Steady;
            HSCFadeLeft = 0;
        }
    }
}

void TOutputStage::BeginBuffer(int channels, int frames)
{
    if (HSCFade != THSCFade::Steady)
        for (int i = 0; i < frames; ++i)
            Envelope[static_cast<size_t>(i)] = EnvelopeAt(i);
    if (Controls.Spectrum)
        Controls.Spectrum->Hook(channels, OutRate);
    Tapping = Controls.Spectrum && Controls.Spectrum->BeginTap(frames);
}

void TOutputStage::EndBuffer(int frames, int available, double peak)
{
    if (Tapping)
        Controls.Spectrum->EndTap();
    if (!DelayRings[0].empty())
        DelayPos = static_cast<int>((DelayPos + frames) % DelayRings[0].size());
    AdvanceHSCFade(frames);
    if (available > 0 && Controls.TailActive)
        Controls.TailActive->store(peak > 0 && Flag(Controls.EndOfList), std::memory_order_release);
}

// HSC of channels 0 and 1 over the first `frames` samples of their blocks: this thread
// and the helper take channels from the job until none is left.
void TOutputStage::ComplementBoth(int frames)
{
    struct TJob {
        TOutputStage* Stage;
        int Frames;
        std::atomic<int> Next{0};
    } job{this, frames};
    const auto work = [](void* p) {
        auto* j = static_cast<TJob*>(p);
        for (int k; (k = j->Next.fetch_add(1, std::memory_order_relaxed)) < 2;)
            j->Stage->Complement(k, j->Stage->Blocks[k].data(), j->Frames);
    };
    Helper->Post(work, &job);
    work(&job);
    Helper->Wait();
}

// Both complements are independent of each other and of everything after them.
bool TOutputStage::ComplementsInParallel(int channels, bool hsc) const
{
    return Helper && hsc && channels == 2 && HiManagers[0] && HiManagers[1];
}

// Writes the block into the ring and reads it back `delay` ms later; the ring keeps
// the history even when there is no delay, so a delay set later starts from real audio.
// A new delay crossfades from the old one. Pieces of at most ring − delay samples are
// written whole and then read: no write of a piece lands where a read of that piece
// still has to look.
void TOutputStage::Delay(int k, double* x, int frames, double delayMs)
{
    std::vector<double>& ring = DelayRings[static_cast<size_t>(k)];
    const int l = static_cast<int>(ring.size());
    const int d = static_cast<int>(std::clamp(std::lround(OutRate * delayMs / 1000), 0L, static_cast<long>(l - 1)));
    if (!DelaySet[k] || (d != DelayNow[k] && DelayLeft[k] == 0)) {
        DelayFrom[k] = DelayNow[k];
        DelayLeft[k] = DelaySet[k] ? GlideFrames : 0;
        DelayNow[k] = d;
        DelaySet[k] = true;
    }
    const int now = DelayNow[k], from = DelayFrom[k];
    const int reach = DelayLeft[k] > 0 ? std::max(now, from) : now;
    int write = DelayPos;
    for (int done = 0; done < frames;) {
        const int n = std::min(frames - done, l - reach);
        const int head = std::min(n, l - write);
        std::copy_n(x + done, head, ring.begin() + write);
        std::copy_n(x + done + head, n - head, ring.begin());
        const auto at = [&](int i, int delay) { return ring[static_cast<size_t>((write + i - delay + l) % l)]; };
        if (DelayLeft[k] > 0) {
            for (int i = 0; i < n; ++i) {
                const double g = RiseGain(GlideFrames - DelayLeft[k], GlideFrames);
                const double a = at(i, from);
                x[done + i] = a + g * (at(i, now) - a);
                if (DelayLeft[k] > 0)
                    --DelayLeft[k];
            }
        } else if (now > 0) {
            for (int i = 0; i < n; ++i)
                x[done + i] = at(i, now);
        }
        write = (write + n) % l;
        done += n;
    }
}

// The channel's samples from the FIFO, silence after what it holds.
void TOutputStage::ReadChannel(int k, double* x, int frames, int available, double& peak)
{
    TFilterThread* filter = Filter.load(std::memory_order_acquire);
    if (available > 0 && filter && k < filter->OutFIFO->Channels) {
        filter->OutFIFO->FIFOs[k]->Read(x, available);
        peak = PeakAbs(x, available, peak);
    } else {
        available = 0;
    }
    std::fill(x + available, x + frames, 0.0);
}

void TOutputStage::Complement(int k, double* x, int frames)
{
    if (k < 2 && HiManagers[k])
        HiManagers[k]->Process(x, frames, HSCWet);
}

void TOutputStage::FinishChannel(int k, double* x, int32_t* out, int frames)
{
    const bool stereo = k < 2 && HiManagers[k];
    if (HSCFade != THSCFade::Steady)
        for (int i = 0; i < frames; ++i)
            x[i] *= Envelope[static_cast<size_t>(i)];
    const int volume = Controls.MasterVolume ? Controls.MasterVolume->load(std::memory_order_acquire) : 0;
    const double trim = k < 2 ? Config.Output.fLevel[k].Load() : 0.0;
    double gain = std::exp2((volume + trim) / 60.0);
    if (Flag(Controls.BGMActive))
        gain *= std::exp2(Config.Function.BGMVolume / 6.0);
    if (k < 2 && Config.Output.bInvPhase[k])
        gain = -gain;
    // While the gain glides, automatic volume control judges the block at the gain it
    // glides to: the peaks of the old gain are not this volume's.
    const bool avc = Flag(Controls.AVC) && Controls.MasterVolume;
    const TGainRamp& ramp = Gains[static_cast<size_t>(k)];
    const double unscaled = avc && (ramp.Moving() || ramp.Goal() != gain) ? PeakAbs(x, frames, 0.0) : -1;
    const bool glided = Glide(k, x, frames, gain, volume);

    if (stereo)
        Delay(k, x, frames, Config.Output.fDelay[k]);

    if (avc) {
        const double p = glided && unscaled >= 0 ? std::abs(gain) * unscaled : PeakAbs(x, frames, 0.0);
        if (p >= 1) {
            // Only from the volume this block was rendered with: a volume set meanwhile wins.
            const int lowered =
                std::max(volume + static_cast<int>(std::lround(10 * 6 * std::log2(1 / p))), -360);
            int expected = volume;
            if (Controls.MasterVolume->compare_exchange_strong(expected, lowered, std::memory_order_acq_rel))
                AVCVolume = lowered;
        }
    }

    if (Tapping)
        Controls.Spectrum->Tap(k, x, frames);

    gToInt32(x, out, frames);
}

// Applies the channel's gain, gliding to a new one; the first block, and a volume that
// automatic volume control has just lowered, take it at once. True when it glided.
bool TOutputStage::Glide(int k, double* x, int frames, double gain, int volume)
{
    TGainRamp& ramp = Gains[static_cast<size_t>(k)];
    const bool avc = volume == AVCVolume && volume != LastVolume[static_cast<size_t>(k)];
    if (!GainSet[static_cast<size_t>(k)] || avc)
        ramp.Jump(gain);
    else
        ramp.Set(gain, GlideFrames);
    GainSet[static_cast<size_t>(k)] = true;
    LastVolume[static_cast<size_t>(k)] = volume;
    const bool moving = ramp.Moving();
    ramp.Apply(x, frames);
    return moving;
}

} // namespace marlix
