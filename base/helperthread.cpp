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
    for (int s; (s = State.load(std::memory_order_acquire)) == kPosted;)
        State.wait(s, std::memory_order_acquire);
}

void THelperThread::Loop()
{
    for (;;) {
        int s = State.load(std::memory_order_acquire);
        if (s == kIdle) {
            State.wait(kIdle, std::memory_order_acquire);
            continue;
        }
        if (s == kQuit)
            return;
        Job(Arg);
        // Only a posted job becomes idle: a quit raised meanwhile stays.
        State.compare_exchange_strong(s, kIdle, std::memory_order_acq_rel);
        State.notify_all();
    }
}

} // namespace marlix
