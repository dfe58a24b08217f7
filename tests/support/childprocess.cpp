#include "support/childprocess.h"

#include "base/boundedwait.h"

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <map>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace marlix::test {

namespace {

// This process's environment with `changes` ("NAME=value") applied.
std::vector<std::string> MergedEnvironment(const std::vector<std::string>& changes)
{
    std::map<std::string, std::string> vars;
    for (char** e = environ; *e; ++e) {
        const std::string entry = *e;
        vars[entry.substr(0, entry.find('='))] = entry;
    }
    for (const std::string& entry : changes)
        vars[entry.substr(0, entry.find('='))] = entry;
    std::vector<std::string> out;
    for (auto& [name, entry] : vars)
        out.push_back(entry);
    return out;
}

} // namespace

bool TChildProcess::Start(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                          const std::string& log)
{
    Stop();
    std::vector<std::string> args = argv, vars = MergedEnvironment(env);
    std::vector<char*> argp, envp;
    for (auto& a : args)
        argp.push_back(a.data());
    argp.push_back(nullptr);
    for (auto& v : vars)
        envp.push_back(v.data());
    envp.push_back(nullptr);
    const pid_t parent = getpid();
    Pid = fork();
    if (Pid == 0) {
        // Ends with the test, also when a crash or a time-out kills the test.
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (getppid() != parent)
            _exit(127);
        const int out = open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        const int in = open("/dev/null", O_RDONLY);
        if (out < 0 || in < 0 || dup2(out, 1) < 0 || dup2(out, 2) < 0 || dup2(in, 0) < 0)
            _exit(127);
        if (out > 2)
            close(out);
        if (in > 2)
            close(in);
        execvpe(argp[0], argp.data(), envp.data());
        _exit(127);
    }
    Status = -1;
    return Pid > 0;
}

bool TChildProcess::Running()
{
    int status = 0;
    return !Ended(status);
}

bool TChildProcess::Ended(int& status)
{
    int raw = 0;
    if (Pid > 0 && waitpid(Pid, &raw, WNOHANG) == Pid) {
        Pid = -1;
        Status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    }
    status = Status;
    return Pid <= 0;
}

void TChildProcess::Stop()
{
    if (Pid <= 0)
        return;
    kill(Pid, SIGTERM);
    int status = 0;
    if (WaitUntilDone([&] { return waitpid(Pid, &status, WNOHANG) == Pid; }, std::chrono::seconds(5))) {
        Pid = -1;
        return;
    }
    kill(Pid, SIGKILL);
    waitpid(Pid, &status, 0);
    Pid = -1;
}

} // namespace marlix::test
