// The optional external transform, loaded at run time from the program folder:
// nspzFft(buffer, order, flag) transforms 2^order complex doubles in place,
// flag 1 forward without scaling, flag 2 inverse scaled by 1/n; flag 3 is the
// inverse without the 1/n, for callers that fold it into their coefficients;
// nspdRealFft does the same for real samples and their half spectrum. It runs FFTW.
// A size first gets an estimated plan at once (or a measured one from the wisdom cache);
// measuring, which takes seconds, runs in a small helper process in the background (the
// program's command-line tool: a new process, not a copy of this one, so the audio
// threads here never meet copy-on-write faults), and the measured plan replaces the
// estimated one between two transforms. Only the helper writes the wisdom cache, and
// only for a plan it could measure with a core of its own: one measured while the
// machine was busy serves this run and is measured again by the next.
#include <atomic>
#include <complex>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fftw3.h>
#include <csignal>
#include <deque>
#include <mutex>
#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <thread>
#include <time.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kMaxOrder = 30;
// Long enough for the planner to finish its search at the largest sizes the filters use
// (2^21 takes about 25 s on a 2.6 GHz core); cut short, it keeps a plan up to twice as
// slow, and that plan is then cached for good.
constexpr double kPlanSeconds = 120.0;

// One transform a plan is made for: complex in place, or real samples to and from
// their bins n/2 + 1 (out of place).
struct TShape {
    int Order = 0;
    bool Inverse = false;
    bool Real = false;
};

// [real][order][inverse][unaligned]
std::atomic<fftw_plan> gPlans[2][kMaxOrder + 1][2][2];

std::atomic<fftw_plan>& Slot(TShape shape, bool unaligned)
{
    return gPlans[shape.Real][shape.Order][shape.Inverse][unaligned];
}
std::mutex gPlannerLock;

// Measured plans take seconds to make, so what the planner learns is kept in the
// user's cache folder and reused by later runs. MARLIX_FFT_PLANNER=estimate skips
// measuring (the tests use it: the results are the same within rounding).
bool Measure()
{
    const char* mode = std::getenv("MARLIX_FFT_PLANNER");
    return !(mode && std::string(mode) == "estimate");
}

std::string WisdomFile()
{
    std::string base;
    if (const char* cache = std::getenv("XDG_CACHE_HOME"); cache && *cache)
        base = cache;
    else if (const char* home = std::getenv("HOME"); home && *home)
        base = std::string(home) + "/.cache";
    else
        return {};
    base += "/marlixaudio";
    mkdir(base.c_str(), 0755);
    return base + "/fftw-wisdom";
}

void SaveWisdom()
{
    const std::string file = WisdomFile();
    if (file.empty())
        return;
    // What another process saved meanwhile is kept: merged in first.
    fftw_import_wisdom_from_filename(file.c_str());
    // Written aside and renamed, so a reader never sees half a file.
    const std::string temp = file + "." + std::to_string(getpid());
    if (fftw_export_wisdom_to_filename(temp.c_str()))
        std::rename(temp.c_str(), file.c_str());
    else
        std::remove(temp.c_str());
}

__attribute__((constructor)) void LoadWisdom()
{
    const std::string file = WisdomFile();
    if (!file.empty())
        fftw_import_wisdom_from_filename(file.c_str());
}

fftw_plan NewPlan(TShape shape, unsigned flags, bool unaligned)
{
    // Plan on scratch arrays: the planner may overwrite what it is given.
    const int n = 1 << shape.Order;
    fftw_complex* scratch = fftw_alloc_complex(static_cast<size_t>(n) + 1);
    fftw_complex* target = unaligned ? scratch + 1 : scratch;
    fftw_plan plan = nullptr;
    if (!shape.Real) {
        plan = fftw_plan_dft_1d(n, target, target, shape.Inverse ? FFTW_BACKWARD : FFTW_FORWARD, flags);
    } else {
        double* samples = fftw_alloc_real(static_cast<size_t>(n) + 1);
        double* real = unaligned ? samples + 1 : samples;
        plan = shape.Inverse ? fftw_plan_dft_c2r_1d(n, target, real, flags) : fftw_plan_dft_r2c_1d(n, real, target, flags);
        fftw_free(samples);
    }
    fftw_free(scratch);
    return plan;
}

// Measures sizes one after another in helper processes and brings back what each
// learnt as wisdom.
class TBackgroundMeasure {
public:
    void Queue(TShape shape)
    {
        std::lock_guard lock(Lock);
        if (Stopping)
            return;
        Work.push_back(shape);
        if (!Thread.joinable())
            Thread = std::thread([this] { Run(); });
    }
    // Kills a helper still measuring and waits for the thread, which then ends at once.
    void Stop()
    {
        std::thread running;
        {
            std::lock_guard lock(Lock);
            Stopping = true;
            Work.clear();
            if (Child > 0)
                kill(Child, SIGKILL);
            running = std::move(Thread);
        }
        if (running.joinable())
            running.join();
    }
    bool Idle()
    {
        std::lock_guard lock(Lock);
        return Work.empty() && !Busy;
    }

private:
    void Run();
    std::string MeasureInHelper(const TShape& item);

    std::mutex Lock;
    std::deque<TShape> Work;
    std::thread Thread;
    pid_t Child = 0;
    bool Busy = false;
    bool Stopping = false;
};

TBackgroundMeasure gMeasure;
// Plans replaced while another thread might still run them; destroyed at unload.
std::vector<fftw_plan> gRetired;

// The helper: MARLIX_FFT_HELPER, else the command-line tool beside this library.
std::string HelperPath()
{
    if (const char* helper = std::getenv("MARLIX_FFT_HELPER"); helper && *helper)
        return helper;
    Dl_info info{};
    if (!dladdr(reinterpret_cast<void*>(&HelperPath), &info) || !info.dli_fname)
        return {};
    std::string path = info.dli_fname;
    const size_t slash = path.rfind('/');
    return (slash == std::string::npos ? std::string("./") : path.substr(0, slash + 1)) + "marlixaudio-cli";
}

// Runs "HELPER plan ORDER complex|real forward|inverse" and returns what it printed: the
// wisdom of the measured plan (empty when it failed).
std::string TBackgroundMeasure::MeasureInHelper(const TShape& item)
{
    const std::string helper = HelperPath();
    int fds[2];
    if (helper.empty() || pipe2(fds, O_CLOEXEC) != 0)
        return {};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    const std::string order = std::to_string(item.Order);
    const char* argv[] = {helper.c_str(), "plan", order.c_str(), item.Real ? "real" : "complex",
                          item.Inverse ? "inverse" : "forward", nullptr};
    pid_t pid = -1;
    {
        std::lock_guard lock(Lock);
        if (!Stopping &&
            posix_spawn(&pid, helper.c_str(), &actions, nullptr, const_cast<char* const*>(argv), environ) != 0)
            pid = -1;
        Child = pid > 0 ? pid : 0;
    }
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    std::string wisdom;
    char buf[4096];
    for (ssize_t n; pid > 0 && (n = read(fds[0], buf, sizeof buf)) > 0;)
        wisdom.append(buf, static_cast<size_t>(n));
    close(fds[0]);
    int status = 0;
    if (pid > 0)
        waitpid(pid, &status, 0);
    std::lock_guard lock(Lock);
    Child = 0;
    return pid > 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0 ? wisdom : std::string();
}

void TBackgroundMeasure::Run()
{
    // Measuring is background work: it yields to the audio threads.
    setpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid)), 10);
    for (;;) {
        TShape item;
        {
            std::lock_guard lock(Lock);
            if (Work.empty() || Stopping) {
                Busy = false;
                if (Thread.joinable() && Thread.get_id() == std::this_thread::get_id())
                    Thread.detach(); // the next Queue starts a new thread
                return;
            }
            item = Work.front();
            Work.pop_front();
            Busy = true;
        }
        const std::string wisdom = MeasureInHelper(item);
        std::lock_guard planner(gPlannerLock);
        if (wisdom.empty() || !fftw_import_wisdom_from_string(wisdom.c_str()))
            continue;
        fftw_plan plan = NewPlan(item, FFTW_MEASURE | FFTW_WISDOM_ONLY, false);
        if (!plan)
            continue;
        if (fftw_plan old = Slot(item, false).exchange(plan, std::memory_order_acq_rel))
            gRetired.push_back(old);
    }
}

fftw_plan MakePlan(TShape shape, bool unaligned)
{
    std::lock_guard lock(gPlannerLock);
    std::atomic<fftw_plan>& slot = Slot(shape, unaligned);
    if (fftw_plan plan = slot.load(std::memory_order_acquire))
        return plan;
    // Aligned buffers (the usual case) get a measured plan when the wisdom cache has one,
    // else an estimated one now and a measured one later; unaligned ones stay estimated.
    const bool measure = !unaligned && Measure();
    fftw_plan plan = measure ? NewPlan(shape, FFTW_MEASURE | FFTW_WISDOM_ONLY, false) : nullptr;
    if (!plan) {
        plan = NewPlan(shape, unaligned ? FFTW_ESTIMATE | FFTW_UNALIGNED : FFTW_ESTIMATE, unaligned);
        if (measure)
            gMeasure.Queue(shape);
    }
    slot.store(plan, std::memory_order_release);
    return plan;
}

fftw_plan Plan(TShape shape, bool unaligned)
{
    fftw_plan plan = Slot(shape, unaligned).load(std::memory_order_acquire);
    return plan ? plan : MakePlan(shape, unaligned);
}

// Plans live as long as the library: destroyed when it is unloaded or the process ends.
// A static object rather than a destructor function, so that it runs before the objects
// it uses are destroyed (static destructors run before the library's fini functions).
void DestroyPlans()
{
    gMeasure.Stop();
    std::lock_guard lock(gPlannerLock);
    for (fftw_plan plan : gRetired)
        fftw_destroy_plan(plan);
    gRetired.clear();
    for (auto& kind : gPlans)
        for (auto& order : kind)
            for (auto& direction : order)
                for (auto& slot : direction)
                    if (fftw_plan plan = slot.exchange(nullptr))
                        fftw_destroy_plan(plan);
    fftw_cleanup();
}

struct TPlanOwner {
    ~TPlanOwner() { DestroyPlans(); }
} gPlanOwner;

} // namespace

extern "C" {

__attribute__((visibility("default"))) void nspzFftPrepare(int order)
{
    if (order < 0 || order > kMaxOrder)
        return;
    for (int inverse = 0; inverse < 2; ++inverse)
        Plan({order, inverse != 0, false}, false);
}


// True while sizes still wait to be measured in the background.
__attribute__((visibility("default"))) int nspzFftMeasuring()
{
    return gMeasure.Idle() ? 0 : 1;
}

// Measures the plan of one size and direction with FFTW's measuring planner, writes its
// wisdom to `fd`, and keeps it in the wisdom cache when this process had at least
// MARLIX_FFT_CALM_SHARE (default 0.9) of a core while planning: a plan timed on a busy
// machine can be far from the best and would otherwise stay cached for good. 0 on
// success. This is the helper's side.
__attribute__((visibility("default"))) int nspMeasurePlan(int order, int real, int inverse, int fd)
{
    if (order < (real ? 1 : 0) || order > kMaxOrder)
        return 1;
    const char* share = std::getenv("MARLIX_FFT_CALM_SHARE");
    const double calm = share && *share ? std::atof(share) : 0.9;
    std::lock_guard lock(gPlannerLock);
    fftw_set_timelimit(kPlanSeconds);
    timespec wall0{}, cpu0{}, wall1{}, cpu1{};
    clock_gettime(CLOCK_MONOTONIC, &wall0);
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &cpu0);
    fftw_plan plan = NewPlan({order, inverse != 0, real != 0}, FFTW_MEASURE, false);
    clock_gettime(CLOCK_MONOTONIC, &wall1);
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &cpu1);
    if (!plan)
        return 1;
    fftw_destroy_plan(plan);
    const auto seconds = [](timespec a, timespec b) { return (b.tv_sec - a.tv_sec) + (b.tv_nsec - a.tv_nsec) * 1e-9; };
    const double wall = seconds(wall0, wall1), cpu = seconds(cpu0, cpu1);
    char* wisdom = fftw_export_wisdom_to_string();
    bool written = wisdom != nullptr;
    for (size_t done = 0, size = wisdom ? std::strlen(wisdom) : 0; done < size;) {
        const ssize_t n = write(fd, wisdom + done, size - done);
        if (n <= 0) {
            written = false;
            break;
        }
        done += static_cast<size_t>(n);
    }
    std::free(wisdom);
    if (wall <= 0 || cpu >= calm * wall)
        SaveWisdom();
    return written ? 0 : 1;
}

// The FFTW version the transforms run on.
__attribute__((visibility("default"))) const char* nspGetVersion() { return fftw_version; }

__attribute__((visibility("default"))) void nspzFft(std::complex<double>* buffer, int order, int flag)
{
    if (order < 0 || order > kMaxOrder || flag < 1 || flag > 3)
        return;
    auto* data = reinterpret_cast<fftw_complex*>(buffer);
    const bool inverse = flag != 1;
    const bool unaligned = fftw_alignment_of(reinterpret_cast<double*>(buffer)) != 0;
    fftw_execute_dft(Plan({order, inverse, false}, unaligned), data, data);
    if (flag == 2) {
        const double scale = 1.0 / (1 << order);
        double* v = reinterpret_cast<double*>(buffer);
        for (long i = 0; i < 2L << order; ++i)
            v[i] *= scale;
    }
}

// The real transforms; the tests build the library without them too, as one that
// offers only the complex transform.
#ifndef MARLIX_NSP_COMPLEX_ONLY
__attribute__((visibility("default"))) void nspdRealFftPrepare(int order)
{
    if (order < 1 || order > kMaxOrder)
        return;
    for (int inverse = 0; inverse < 2; ++inverse)
        Plan({order, inverse != 0, true}, false);
}

// 2^order real samples and their bins 0 … 2^(order − 1), in separate arrays: flag 1 takes
// the samples to the bins (unscaled); flag 2 the bins to the samples scaled by 1/n, flag 3
// without the 1/n. The inverse uses the bins as its work space: they are lost.
__attribute__((visibility("default"))) void nspdRealFft(double* samples, std::complex<double>* bins, int order, int flag)
{
    if (order < 1 || order > kMaxOrder || flag < 1 || flag > 3)
        return;
    auto* spectrum = reinterpret_cast<fftw_complex*>(bins);
    const bool unaligned =
        fftw_alignment_of(samples) != 0 || fftw_alignment_of(reinterpret_cast<double*>(bins)) != 0;
    if (flag == 1) {
        fftw_execute_dft_r2c(Plan({order, false, true}, unaligned), samples, spectrum);
        return;
    }
    fftw_execute_dft_c2r(Plan({order, true, true}, unaligned), spectrum, samples);
    if (flag == 2) {
        const double scale = 1.0 / (1 << order);
        for (long i = 0; i < 1L << order; ++i)
            samples[i] *= scale;
    }
}
#endif

} // extern "C"
