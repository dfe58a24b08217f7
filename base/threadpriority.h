#pragma once
// Scheduling of the audio threads. A thread that streams audio runs SCHED_FIFO at a
// configurable priority; a thread that only waits keeps normal scheduling. Child
// processes started from a real-time thread get normal scheduling back.
#include <sys/resource.h>

namespace marlix {

constexpr int kDefaultRealtimePriority = 70;

// The SCHED_FIFO priority asked for: the value of MARLIX_AUDIO_RTPRIO (0 turns real-time
// scheduling off, larger values are capped at 99), else the default. `value` may be null.
int ConfiguredRealtimePriority(const char* value);
// The priority an unprivileged thread can have instead of `requested` under the limit
// RLIMIT_RTPRIO gives; 0 when none.
int ClampToRealtimeLimit(int requested, rlim_t limit);

// Puts the calling thread on SCHED_FIFO at the configured priority, or at the highest
// that RLIMIT_RTPRIO allows when that is refused. Says once per process (stderr) when the
// priority cannot be had in full. Returns the priority obtained, 0 for none.
int RaiseToRealtime();
// Puts the calling thread back on normal scheduling.
void DropRealtime();
// "Highest normal": a nice value a few steps below the process's, where permitted;
// silently skipped where not.
void RaiseNormalPriority();

} // namespace marlix
