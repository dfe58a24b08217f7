#include "base/threadpriority.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <sched.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace marlix {
namespace {

TEST(ThreadPriority, ConfigurationAndLimit)
{
    struct Case {
        const char* Value;
        rlim_t Limit;
        int Configured;
        int Clamped;
    };
    const Case cases[] = {
        {nullptr, 95, 70, 70}, {"", 95, 70, 70},    {"99", 95, 99, 95},    {"120", RLIM_INFINITY, 99, 99},
        {"0", 95, 0, 0},       {"-3", 95, 0, 0},    {"40", 0, 40, 0},      {"abc", 20, 70, 20},
        {"50x", 95, 70, 70},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Value ? c.Value : "(unset)");
        const int configured = ConfiguredRealtimePriority(c.Value);
        EXPECT_EQ(configured, c.Configured);
        EXPECT_EQ(ClampToRealtimeLimit(configured, c.Limit), c.Clamped);
    }
}

struct TOutcome {
    int Status = -1;
    std::string Errors;
};

// Runs `body` in a child process with its stderr captured, so that limits, user ids and
// the once-per-process message stay out of the test process.
template <class F>
TOutcome InChild(F body)
{
    int fds[2];
    if (pipe(fds) != 0)
        return {};
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(fds[1], 2);
        close(fds[0]);
        _exit(body());
    }
    close(fds[1]);
    TOutcome out;
    char buf[512];
    for (ssize_t n; (n = read(fds[0], buf, sizeof buf)) > 0;)
        out.Errors.append(buf, static_cast<size_t>(n));
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    out.Status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return out;
}

// An unprivileged process under a real-time limit: the priority is clamped to it, or
// refused when the limit is 0, and either way said once however often it is asked.
TEST(ThreadPriority, UnprivilegedThreadIsClampedAndToldOnce)
{
    for (rlim_t limit : {rlim_t{0}, rlim_t{40}}) {
        SCOPED_TRACE(limit);
        const TOutcome out = InChild([limit] {
            rlimit rl{limit, limit};
            setrlimit(RLIMIT_RTPRIO, &rl);
            if (geteuid() == 0 && setuid(65534) != 0)
                return 200;
            setenv("MARLIX_AUDIO_RTPRIO", "70", 1);
            const int first = RaiseToRealtime();
            const int policy = sched_getscheduler(0) & ~SCHED_RESET_ON_FORK;
            if (first != RaiseToRealtime())
                return 201;
            return first > 0 ? (policy == SCHED_FIFO ? first : 202) : (policy == SCHED_OTHER ? 0 : 203);
        });
        // Some systems refuse unprivileged real-time scheduling outright (a cgroup without
        // real-time time): then even the clamped priority is none, and said so.
        if (limit == 0 || out.Status == 0)
            EXPECT_EQ(out.Status, 0);
        else
            EXPECT_EQ(out.Status, static_cast<int>(limit));
        const std::string runsAt = out.Status > 0 ? "runs at 40" : "runs at normal priority";
        EXPECT_NE(out.Errors.find(runsAt), std::string::npos) << out.Errors;
        EXPECT_NE(out.Errors.find("real-time priority 70"), std::string::npos) << out.Errors;
        EXPECT_EQ(out.Errors.find('\n'), out.Errors.size() - 1) << "one message: " << out.Errors;
    }
}

// Where real-time scheduling is permitted: the thread gets exactly the priority asked for,
// a process it starts runs on normal scheduling, and dropping returns it to normal.
TEST(ThreadPriority, RealtimeThreadStartsNormalChildren)
{
    const TOutcome out = InChild([] {
        setenv("MARLIX_AUDIO_RTPRIO", "33", 1);
        if (RaiseToRealtime() != 33)
            return 100; // not permitted here
        sched_param param{};
        if (sched_getparam(0, &param) != 0 || param.sched_priority != 33)
            return 1;
        const pid_t child = fork();
        if (child == 0)
            _exit(sched_getscheduler(0) == SCHED_OTHER ? 0 : 1);
        int status = 0;
        waitpid(child, &status, 0);
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
            return 2;
        DropRealtime();
        return sched_getscheduler(0) == SCHED_OTHER ? 0 : 3;
    });
    if (out.Status == 100)
        GTEST_SKIP() << "real-time scheduling is not permitted here: " << out.Errors;
    EXPECT_EQ(out.Status, 0);
    EXPECT_EQ(out.Errors, "");
}

// "Highest normal": a lower nice value on that thread only, where permitted.
TEST(ThreadPriority, RaisedNormalPriorityIsPerThread)
{
    const TOutcome out = InChild([] {
        const int process = getpriority(PRIO_PROCESS, 0);
        int raised = process;
        std::thread([&] {
            RaiseNormalPriority();
            raised = getpriority(PRIO_PROCESS, static_cast<id_t>(gettid()));
        }).join();
        if (getpriority(PRIO_PROCESS, 0) != process)
            return 1;
        if (raised == process)
            return 100; // not permitted here
        return raised == process - 5 ? 0 : 2;
    });
    if (out.Status == 100)
        GTEST_SKIP() << "lowering the nice value is not permitted here";
    EXPECT_EQ(out.Status, 0);
    EXPECT_EQ(out.Errors, "");
}

} // namespace
} // namespace marlix
