#include "base/helperthread.h"

namespace marlix {

THelperThread::THelperThread() : Thread([this] { Loop(); }) {}

THelperThread::~THelperThread()
{
    State.store(kQuit, std::memory_order_release);
    State.notify_all();
    Thread.join();
}

void THelperThread::Post(void (*job)(void*), void* arg)
{
    Job = job;
    Arg = arg;
    State.store(kPosted, std::memory_order_release);
    State.notify_all();
}

void THelperThread::Wait()
{
    int s = kPosted;
    if (State.compare_exchange_strong(s, kIdle, std::memory_order_acq_rel))
        return;
    while ((s = State.load(std::memory_order_acquire)) == kRunning)
        State.wait(s, std::memory_order_acquire);
}

void THelperThread::Loop()
{
    for (;;) {
        int s = State.load(std::memory_order_acquire);
        if (s == kQuit)
            return;
        if (s != kPosted || !State.compare_exchange_strong(s, kRunning, std::memory_order_acq_rel)) {
            State.wait(s, std::memory_order_acquire);
            continue;
        }
        Job(Arg);
        State.store(kIdle, std::memory_order_release);
        State.notify_all();
    }
}

} // namespace marlix
