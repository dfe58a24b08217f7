#include "base/mainthread.h"

namespace marlix {

// Never destroyed: a worker may still wait on it while exit handlers run.
TMainThread& TMainThread::Instance()
{
    static TMainThread& instance = *new TMainThread;
    return instance;
}

void TMainThread::SetMainThread(std::thread::id id)
{
    std::lock_guard lock(Lock);
    MainId = id;
}

bool TMainThread::IsMainThread() const
{
    return std::this_thread::get_id() == MainId;
}

bool TMainThread::Synchronize(const std::function<void()>& call)
{
    if (IsMainThread()) {
        call();
        return true;
    }
    auto item = std::make_shared<TCall>();
    item->Fn = call;
    std::function<void()> wake;
    {
        std::unique_lock lock(Lock);
        if (Closed)
            return false;
        Queue.push_back(item);
        wake = WakeUp;
    }
    if (wake)
        wake();
    std::unique_lock lock(Lock);
    Finished.wait(lock, [&] { return item->Done; });
    return item->Ran;
}

int TMainThread::Pump()
{
    int count = 0;
    for (;;) {
        std::shared_ptr<TCall> item;
        {
            std::lock_guard lock(Lock);
            if (Queue.empty())
                break;
            item = Queue.front();
            Queue.pop_front();
        }
        try {
            item->Fn();
        } catch (...) {
            // A synchronised call must not take the main loop down.
        }
        {
            std::lock_guard lock(Lock);
            item->Done = true;
            item->Ran = true;
        }
        Finished.notify_all();
        ++count;
    }
    return count;
}

void TMainThread::WaitPumping(const std::function<bool()>& done, std::chrono::milliseconds step)
{
    while (!done()) {
        if (Pump() == 0)
            std::this_thread::sleep_for(step);
    }
}

void TMainThread::Shutdown()
{
    {
        std::lock_guard lock(Lock);
        Closed = true;
        for (auto& item : Queue)
            item->Done = true;
        Queue.clear();
    }
    Finished.notify_all();
}

void TMainThread::Restart()
{
    std::lock_guard lock(Lock);
    Closed = false;
}

void TMainThread::SetWakeUp(std::function<void()> wake)
{
    std::lock_guard lock(Lock);
    WakeUp = std::move(wake);
}

} // namespace marlix
