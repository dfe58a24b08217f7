#pragma once
// A program run in the background for a test, stopped by its PID; it also ends when the
// test process dies, so a crashed or killed test leaves no program behind.
#include <string>
#include <sys/types.h>
#include <vector>

namespace marlix::test {

// A program run in the background with extra environment, its output in a log file.
class TChildProcess {
public:
    TChildProcess() = default;
    ~TChildProcess() { Stop(); }
    TChildProcess(const TChildProcess&) = delete;
    TChildProcess& operator=(const TChildProcess&) = delete;

    // `env` holds "NAME=value" entries that replace or add to this process's environment.
    bool Start(const std::vector<std::string>& argv, const std::vector<std::string>& env, const std::string& log);
    bool Running();
    // True once it has ended; `status` gets its exit status (-1 when a signal ended it).
    bool Ended(int& status);
    // SIGTERM, then SIGKILL when it has not ended within 5 s.
    void Stop();

private:
    pid_t Pid = -1;
    int Status = -1;
};

} // namespace marlix::test
