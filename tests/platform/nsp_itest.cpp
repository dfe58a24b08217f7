#include "support/testutil.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <complex>
#include <cstdlib>
#include <dlfcn.h>
#include <filesystem>
#include <memory>
#include <numbers>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace marlix {
namespace {

using Complex = std::complex<double>;

std::vector<Complex> DirectDft(const Complex* x, int n, int sign)
{
    std::vector<Complex> out(static_cast<size_t>(n));
    for (int k = 0; k < n; ++k) {
        Complex sum;
        for (int t = 0; t < n; ++t)
            sum += x[t] * std::polar(1.0, sign * 2 * std::numbers::pi * ((static_cast<long>(k) * t) % n) / n);
        out[static_cast<size_t>(k)] = sum;
    }
    return out;
}

double MaxError(const Complex* a, const std::vector<Complex>& b)
{
    double e = 0;
    for (size_t i = 0; i < b.size(); ++i)
        e = std::max(e, std::abs(a[i] - b[i]));
    return e;
}

// A fresh machine: no wisdom, measuring on. The first transforms run at once on estimated
// plans, the measured plans arrive from a helper process in the background, and both agree
// with a direct DFT. The helper keeps a plan in the wisdom cache only when it measured with
// a core of its own: here once as if the machine were idle, once as if it were busy.
TEST(NspLibrary, EstimatedPlansServeAtOnceAndMeasuredOnesTakeOver)
{
    const std::string oldCache = std::getenv("XDG_CACHE_HOME") ? std::getenv("XDG_CACHE_HOME") : "";
    const std::string oldPlanner = std::getenv("MARLIX_FFT_PLANNER") ? std::getenv("MARLIX_FFT_PLANNER") : "";
    unsetenv("MARLIX_FFT_PLANNER");
    for (const bool idle : {true, false}) {
        test::TempDir cache;
        setenv("XDG_CACHE_HOME", cache.Path().c_str(), 1);
        setenv("MARLIX_FFT_CALM_SHARE", idle ? "0" : "1000", 1);
        // The helper, through a wrapper that notes how it was called.
        test::WriteText(cache.File("helper.sh"), "#!/bin/sh\necho \"$@\" >> '" + cache.File("calls") + "'\nexec '" +
                                                      std::string(MARLIX_TEST_BIN_DIR) + "marlixaudio-cli' \"$@\"\n");
        std::filesystem::permissions(cache.File("helper.sh"), std::filesystem::perms::owner_all);
        setenv("MARLIX_FFT_HELPER", cache.File("helper.sh").c_str(), 1);
        void* lib = dlopen(MARLIX_TEST_BIN_DIR "nsp.so", RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(lib, nullptr) << dlerror();
        auto fft = reinterpret_cast<void (*)(Complex*, int, int)>(dlsym(lib, "nspzFft"));
        auto prepare = reinterpret_cast<void (*)(int)>(dlsym(lib, "nspzFftPrepare"));
        auto measuring = reinterpret_cast<int (*)()>(dlsym(lib, "nspzFftMeasuring"));
        ASSERT_TRUE(fft && prepare && measuring);

        // A size of its own each time: the library may stay loaded with its plans.
        const int kOrder = idle ? 10 : 11, kN = 1 << kOrder;
        std::unique_ptr<Complex, decltype(&std::free)> buf(
            static_cast<Complex*>(std::aligned_alloc(64, sizeof(Complex) * kN)), &std::free);
        std::mt19937 rng(7);
        std::uniform_real_distribution<double> u(-1, 1);
        std::vector<Complex> input(kN);
        for (Complex& c : input)
            c = Complex(u(rng), u(rng));
        const auto forward = DirectDft(input.data(), kN, -1);
        const auto check = [&] {
            std::copy(input.begin(), input.end(), buf.get());
            fft(buf.get(), kOrder, 1);
            EXPECT_LT(MaxError(buf.get(), forward), 1e-10);
            fft(buf.get(), kOrder, 2);
            EXPECT_LT(MaxError(buf.get(), input), 1e-13);
        };

        prepare(kOrder);
        EXPECT_EQ(measuring(), 1); // queued, not waited for
        check();
        for (int i = 0; i < 6000 && measuring(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        EXPECT_EQ(measuring(), 0);
        check();
        const std::string size = "plan " + std::to_string(kOrder) + " complex ";
        EXPECT_EQ(test::ReadText(cache.File("calls")), size + "forward\n" + size + "inverse\n");
        EXPECT_EQ(std::filesystem::exists(cache.File("marlixaudio/fftw-wisdom")), idle) << "idle " << idle;
        dlclose(lib);
    }
    unsetenv("MARLIX_FFT_HELPER");
    unsetenv("MARLIX_FFT_CALM_SHARE");
    setenv("MARLIX_FFT_PLANNER", oldPlanner.c_str(), 1);
    setenv("XDG_CACHE_HOME", oldCache.c_str(), 1);
}

} // namespace
} // namespace marlix
