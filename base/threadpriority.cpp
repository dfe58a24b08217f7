#include "base/threadpriority.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <sched.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace marlix {
namespace {

constexpr int kMaxRealtimePriority = 99;
constexpr int kRaisedNiceSteps = 5;

std::atomic<bool> gReported{false};

bool SetFifo(int priority)
{
    sched_param param{};
    param.sched_priority = priority;
    // Pid 0 is the calling thread; its children start on normal scheduling.
    return sched_setscheduler(0, SCHED_FIFO | SCHED_RESET_ON_FORK, &param) == 0;
}

void ReportOnce(int requested, int obtained, rlim_t limit)
{
    if (gReported.exchange(true))
        return;
    const long shown = limit == RLIM_INFINITY ? -1L : static_cast<long>(limit);
    if (obtained > 0)
        std::fprintf(stderr,
                     "marlixaudio: real-time priority %d not permitted (RLIMIT_RTPRIO %ld); the audio thread runs "
                     "at %d\n",
                     requested, shown, obtained);
    else
        std::fprintf(stderr,
                     "marlixaudio: real-time priority %d not permitted (RLIMIT_RTPRIO %ld); the audio thread runs "
                     "at normal priority\n",
                     requested, shown);
}

} // namespace

int ConfiguredRealtimePriority(const char* value)
{
    if (!value || !*value)
        return kDefaultRealtimePriority;
    char* end = nullptr;
    const long v = std::strtol(value, &end, 10);
    if (*end != 0)
        return kDefaultRealtimePriority;
    return static_cast<int>(std::clamp<long>(v, 0, kMaxRealtimePriority));
}

int ClampToRealtimeLimit(int requested, rlim_t limit)
{
    if (limit == RLIM_INFINITY)
        return requested;
    return static_cast<int>(std::min<rlim_t>(static_cast<rlim_t>(std::max(requested, 0)), limit));
}

int RaiseToRealtime()
{
    const int requested = ConfiguredRealtimePriority(std::getenv("MARLIX_AUDIO_RTPRIO"));
    if (requested <= 0)
        return 0;
    if (SetFifo(requested))
        return requested;
    rlimit limit{};
    getrlimit(RLIMIT_RTPRIO, &limit);
    const int clamped = ClampToRealtimeLimit(requested, limit.rlim_cur);
    const int obtained = clamped > 0 && clamped < requested && SetFifo(clamped) ? clamped : 0;
    ReportOnce(requested, obtained, limit.rlim_cur);
    return obtained;
}

void DropRealtime()
{
    sched_param param{};
    sched_setscheduler(0, SCHED_OTHER, &param);
}

void RaiseNormalPriority()
{
    const auto tid = static_cast<id_t>(syscall(SYS_gettid));
    const int current = getpriority(PRIO_PROCESS, tid);
    setpriority(PRIO_PROCESS, tid, std::max(current - kRaisedNiceSteps, -20));
}

} // namespace marlix
