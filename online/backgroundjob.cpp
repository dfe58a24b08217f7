#include "online/backgroundjob.h"

#include "base/boundedwait.h"

#include <utility>

namespace marlix {

TBackgroundJob::~TBackgroundJob()
{
    if (!Worker.joinable())
        return;
    if (WaitUntilDone([this] { return Finished(); }, StopTimeout)) {
        Worker.join();
        return;
    }
    ReportAbandoned(What, StopTimeout);
    Worker.detach(); // it holds its share of the flag and calls nobody
}

void TBackgroundJob::Start(std::function<void()> job)
{
    if (Worker.joinable())
        return;
    Worker = std::thread([done = Done, job = std::move(job)] {
        job();
        done->store(true, std::memory_order_release);
    });
}

} // namespace marlix
