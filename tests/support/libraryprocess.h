#pragma once
// Runs marlixaudio-library on 127.0.0.1 with a free port for one test, and stops it by
// its process id.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

extern char** environ;

namespace marlix::test {

class TLibraryProcess {
public:
    // Starts the server on `db`; Port() is 0 when it did not come up.
    explicit TLibraryProcess(const std::string& db, const std::string& program = std::string(MARLIX_TEST_BIN_DIR) +
                                                                                   "marlixaudio-library")
    {
        int out[2];
        if (pipe(out) != 0)
            return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        std::vector<std::string> args{program, "--db", db, "--port", "0", "--bind", "127.0.0.1"};
        std::vector<char*> argv;
        for (auto& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        if (posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ) != 0)
            pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        close(out[1]);
        // The first line names the port: "listening on 127.0.0.1:PORT".
        std::string line;
        char c;
        while (pid_ > 0 && read(out[0], &c, 1) == 1 && c != '\n')
            line += c;
        close(out[0]);
        const auto colon = line.rfind(':');
        if (colon != std::string::npos)
            port_ = std::atoi(line.c_str() + colon + 1);
    }
    ~TLibraryProcess() { Stop(); }
    TLibraryProcess(const TLibraryProcess&) = delete;
    TLibraryProcess& operator=(const TLibraryProcess&) = delete;

    int Port() const { return port_; }
    std::string Host() const { return "127.0.0.1:" + std::to_string(port_); }
    // SIGTERM, then the exit status (-1 when it was not running).
    int Stop()
    {
        if (pid_ <= 0)
            return -1;
        kill(pid_, SIGTERM);
        int status = 0;
        waitpid(pid_, &status, 0);
        pid_ = -1;
        return status;
    }

private:
    pid_t pid_ = -1;
    int port_ = 0;
};

} // namespace marlix::test
