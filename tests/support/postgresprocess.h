#pragma once
// A private PostgreSQL server for one test or benchmark: initdb in a temporary folder,
// the server on a Unix socket there (no TCP), stopped by its process id. Run as root, the
// server runs as the "postgres" user, as PostgreSQL requires.
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace marlix::test {

class TPostgresProcess {
public:
    TPostgresProcess()
    {
        const std::string bin = BinDir();
        std::string pattern = (std::filesystem::temp_directory_path() / "marlix-pg-XXXXXX").string();
        if (bin.empty() || !mkdtemp(pattern.data()))
            return;
        folder_ = pattern;
        const std::string data = folder_ + "/data";
        mkdir(data.c_str(), 0700);
        uid_t uid = getuid();
        gid_t gid = getgid();
        if (geteuid() == 0) {
            const passwd* pw = getpwnam("postgres");
            if (!pw)
                return;
            uid = pw->pw_uid;
            gid = pw->pw_gid;
            chmod(folder_.c_str(), 0755);
            if (chown(folder_.c_str(), uid, gid) != 0 || chown(data.c_str(), uid, gid) != 0)
                return;
        }
        const pid_t init = Spawn({bin + "/initdb", "-D", data, "-U", "marlix", "--auth=trust", "--no-locale", "-E",
                                  "UTF8", "--no-sync"},
                                 uid, gid);
        int status = -1;
        if (init <= 0 || waitpid(init, &status, 0) != init || status != 0)
            return;
        pid_ = Spawn({bin + "/postgres", "-D", data, "-k", folder_, "-c", "listen_addresses=", "-c", "fsync=off",
                      "-c", "synchronous_commit=off", "-c", "full_page_writes=off", "-c", "max_connections=200"},
                     uid, gid);
        // The last line of postmaster.pid says "ready" once connections are taken.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (pid_ > 0 && !Ready(data + "/postmaster.pid")) {
            if (std::chrono::steady_clock::now() > deadline || waitpid(pid_, &status, WNOHANG) == pid_) {
                Stop();
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        ready_ = pid_ > 0;
    }
    ~TPostgresProcess()
    {
        Stop();
        std::error_code ec;
        if (!folder_.empty())
            std::filesystem::remove_all(folder_, ec);
    }
    TPostgresProcess(const TPostgresProcess&) = delete;
    TPostgresProcess& operator=(const TPostgresProcess&) = delete;

    bool Ready() const { return ready_; }
    // A libpq URI for `database` on this server.
    std::string Uri(const std::string& database = "postgres") const
    {
        return "postgresql://marlix@/" + database + "?host=" + folder_;
    }
    void Stop()
    {
        if (pid_ <= 0)
            return;
        kill(pid_, SIGINT); // fast shutdown
        int status = 0;
        waitpid(pid_, &status, 0);
        pid_ = -1;
    }

    // Where initdb and postgres are: the newest installed major version.
    static std::string BinDir()
    {
        std::string best;
        std::error_code ec;
        for (const auto& e : std::filesystem::directory_iterator("/usr/lib/postgresql", ec))
            if (std::filesystem::exists(e.path() / "bin/postgres") &&
                (best.empty() || std::stoi(e.path().filename().string()) > std::stoi(best)))
                best = e.path().filename().string();
        return best.empty() ? "" : "/usr/lib/postgresql/" + best + "/bin";
    }

private:
    static pid_t Spawn(std::vector<std::string> args, uid_t uid, gid_t gid)
    {
        std::vector<char*> argv;
        for (auto& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        const int quiet = open("/dev/null", O_WRONLY | O_CLOEXEC);
        const pid_t pid = fork();
        if (pid == 0) {
            dup2(quiet, 1);
            dup2(quiet, 2);
            if (getuid() != uid && setgroups(0, nullptr) != 0)
                _exit(127);
            if ((getgid() != gid && setgid(gid) != 0) || (getuid() != uid && setuid(uid) != 0))
                _exit(127);
            execv(argv[0], argv.data());
            _exit(127);
        }
        close(quiet);
        return pid;
    }
    static bool Ready(const std::string& pidFile)
    {
        std::ifstream in(pidFile);
        std::string line, last;
        while (std::getline(in, line))
            if (!line.empty())
                last = line;
        return last.find("ready") != std::string::npos;
    }

    std::string folder_;
    pid_t pid_ = -1;
    bool ready_ = false;
};

} // namespace marlix::test
