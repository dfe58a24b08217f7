// The optional external transform, loaded at run time from the program folder:
// nspzFft(buffer, order, flag) transforms 2^order complex doubles in place,
// flag 1 forward without scaling, flag 2 inverse scaled by 1/n; flag 3 is the
// inverse without the 1/n, for callers that fold it into their coefficients. It runs FFTW;
// plans are made once per size, direction and alignment, ideally ahead of time
// through nspzFftPrepare, and reused.
#include <atomic>
#include <complex>
#include <cstdio>
#include <cstdlib>
#include <fftw3.h>
#include <mutex>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int kMaxOrder = 30;
constexpr double kPlanSeconds = 5.0;

// [order][inverse][unaligned]
std::atomic<fftw_plan> gPlans[kMaxOrder + 1][2][2];
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

fftw_plan MakePlan(int order, bool inverse, bool unaligned)
{
    std::lock_guard lock(gPlannerLock);
    std::atomic<fftw_plan>& slot = gPlans[order][inverse][unaligned];
    if (fftw_plan plan = slot.load(std::memory_order_acquire))
        return plan;
    const int n = 1 << order;
    // Plan on a scratch array: the planner may overwrite what it is given.
    fftw_complex* scratch = fftw_alloc_complex(static_cast<size_t>(n) + 1);
    fftw_complex* target = unaligned ? scratch + 1 : scratch;
    // Aligned buffers (the usual case) get measured plans, bounded in planning time;
    // the rare unaligned caller gets an estimated one at once.
    fftw_set_timelimit(kPlanSeconds);
    const bool measure = !unaligned && Measure();
    unsigned flags = unaligned ? FFTW_ESTIMATE | FFTW_UNALIGNED : measure ? FFTW_MEASURE : FFTW_ESTIMATE;
    fftw_plan plan = fftw_plan_dft_1d(n, target, target, inverse ? FFTW_BACKWARD : FFTW_FORWARD, flags);
    fftw_free(scratch);
    if (measure)
        SaveWisdom();
    slot.store(plan, std::memory_order_release);
    return plan;
}

fftw_plan Plan(int order, bool inverse, bool unaligned)
{
    fftw_plan plan = gPlans[order][inverse][unaligned].load(std::memory_order_acquire);
    return plan ? plan : MakePlan(order, inverse, unaligned);
}

// Runs when the library is unloaded: plans live as long as it does.
__attribute__((destructor)) void DestroyPlans()
{
    std::lock_guard lock(gPlannerLock);
    for (auto& order : gPlans)
        for (auto& direction : order)
            for (auto& slot : direction)
                if (fftw_plan plan = slot.exchange(nullptr))
                    fftw_destroy_plan(plan);
    fftw_cleanup();
}

} // namespace

extern "C" {

__attribute__((visibility("default"))) void nspzFftPrepare(int order)
{
    if (order < 0 || order > kMaxOrder)
        return;
    for (int inverse = 0; inverse < 2; ++inverse)
        Plan(order, inverse, false);
}

__attribute__((visibility("default"))) void nspzFft(std::complex<double>* buffer, int order, int flag)
{
    if (order < 0 || order > kMaxOrder || flag < 1 || flag > 3)
        return;
    auto* data = reinterpret_cast<fftw_complex*>(buffer);
    const bool inverse = flag != 1;
    const bool unaligned = fftw_alignment_of(reinterpret_cast<double*>(buffer)) != 0;
    fftw_execute_dft(Plan(order, inverse, unaligned), data, data);
    if (flag == 2) {
        const double scale = 1.0 / (1 << order);
        double* v = reinterpret_cast<double*>(buffer);
        for (long i = 0; i < 2L << order; ++i)
            v[i] *= scale;
    }
}

} // extern "C"
