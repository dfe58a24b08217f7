#include "engine/spectrumthread.h"

#include "base/mainthread.h"

#include <chrono>
#include <pthread.h>
#include <sched.h>

namespace marlix {

TSpectrumThread::TSpectrumThread(TMainThread& dispatcher, std::function<void()> pass, std::function<bool()> due)
    : Dispatcher(dispatcher), Pass(std::move(pass)), Due(std::move(due)), Thread([this] { Run(); })
{
}

TSpectrumThread::~TSpectrumThread()
{
    Stop();
}

void TSpectrumThread::Run()
{
    sched_param param{};
    pthread_setschedparam(pthread_self(), SCHED_IDLE, &param);
    while (!Terminated.load(std::memory_order_acquire)) {
        const bool due = !Due || Due();
        if (due && !Dispatcher.Synchronize(Pass))
            break;
        // With nothing due the next look comes later: a block takes about 10 ms to arrive.
        std::this_thread::sleep_for(std::chrono::milliseconds(due ? 2 : 10));
    }
    Ended.store(true, std::memory_order_release);
}

void TSpectrumThread::Stop()
{
    if (!Thread.joinable())
        return;
    Terminated.store(true, std::memory_order_release);
    if (Dispatcher.IsMainThread())
        Dispatcher.WaitPumping([this] { return Ended.load(std::memory_order_acquire); });
    Thread.join();
}

} // namespace marlix
