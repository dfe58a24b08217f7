#include "engine/asiothread.h"

#include "base/boundedwait.h"
#include "support/testutil.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <functional>
#include <thread>

#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <string>
#include <vector>

namespace marlix {
namespace {

std::vector<uint8_t> ToDriver(const std::vector<int32_t>& samples, int32_t type, size_t bytes, bool* written = nullptr)
{
    std::vector<uint8_t> buffer(bytes, 0xAA);
    const bool w = ConvertToDriver(samples.data(), buffer.data(), static_cast<int>(samples.size()), type);
    if (written)
        *written = w;
    return buffer;
}

std::vector<int32_t> FromDriver(const std::vector<uint8_t>& buffer, int frames, int32_t type)
{
    std::vector<int32_t> samples(static_cast<size_t>(frames), 0x55555555);
    ConvertFromDriver(buffer.data(), samples.data(), frames, type);
    return samples;
}

template <class T>
std::vector<uint8_t> Bytes(const std::vector<T>& values)
{
    std::vector<uint8_t> out(values.size() * sizeof(T));
    std::memcpy(out.data(), values.data(), out.size());
    return out;
}

TEST(ASIOConvertOutput, Int16TakesTheUpperHalf)
{
    const auto b = ToDriver({0x12345678, -65536, 0x7FFFFFFF, INT32_MIN}, kASIOInt16LSB, 10);
    EXPECT_EQ(b, (std::vector<uint8_t>{0x34, 0x12, 0xFF, 0xFF, 0xFF, 0x7F, 0x00, 0x80, 0xAA, 0xAA}));
}

TEST(ASIOConvertOutput, Int24TakesTheUpperThreeBytes)
{
    const auto b = ToDriver({0x12345678, -256}, kASIOInt24LSB, 7);
    EXPECT_EQ(b, (std::vector<uint8_t>{0x56, 0x34, 0x12, 0xFF, 0xFF, 0xFF, 0xAA}));
}

TEST(ASIOConvertOutput, Int32TypesReceiveTheIntegersUnchanged)
{
    for (int32_t type : {kASIOInt32LSB, kASIOInt32LSB16, kASIOInt32LSB18, kASIOInt32LSB20, kASIOInt32LSB24}) {
        const auto b = ToDriver({0x12345678, -2}, type, 9);
        EXPECT_EQ(b, (std::vector<uint8_t>{0x78, 0x56, 0x34, 0x12, 0xFE, 0xFF, 0xFF, 0xFF, 0xAA})) << type;
    }
}

TEST(ASIOConvertOutput, Float32IsScaledByTwoToTheMinus31)
{
    const auto b = ToDriver({1073741824, INT32_MIN, -536870912, 0}, kASIOFloat32LSB, 16);
    std::vector<float> f(4);
    std::memcpy(f.data(), b.data(), 16);
    EXPECT_EQ(f, (std::vector<float>{0.5f, -1.0f, -0.25f, 0.0f}));
}

TEST(ASIOConvertOutput, Float64IsScaledByTwoToTheMinus31)
{
    const auto b = ToDriver({1073741824, 3}, kASIOFloat64LSB, 16);
    std::vector<double> d(2);
    std::memcpy(d.data(), b.data(), 16);
    EXPECT_EQ(d[0], 0.5);
    EXPECT_EQ(d[1], 3.0 / 2147483648.0);
}

TEST(ASIOConvertOutput, BigEndianTypesGetSilenceOverTheirWidth)
{
    const std::vector<std::pair<int32_t, size_t>> widths = {{kASIOInt16MSB, 2}, {kASIOInt24MSB, 3},
        {kASIOInt32MSB, 4}, {kASIOFloat32MSB, 4}, {kASIOFloat64MSB, 8}, {kASIOInt32MSB16, 4},
        {kASIOInt32MSB18, 4}, {kASIOInt32MSB20, 4}, {kASIOInt32MSB24, 4}};
    for (const auto& [type, width] : widths) {
        bool written = false;
        const auto b = ToDriver({0x12345678, 0x7FFFFFFF}, type, 2 * width + 1, &written);
        std::vector<uint8_t> expected(2 * width, 0);
        expected.push_back(0xAA);
        EXPECT_EQ(b, expected) << type;
        EXPECT_TRUE(written);
    }
}

TEST(ASIOConvertOutput, UnknownTypesLeaveTheBufferAlone)
{
    for (int32_t type : {5, 7, 12, 15, 21, 23, 28, 100, -1}) {
        bool written = true;
        const auto b = ToDriver({0x12345678}, type, 8, &written);
        EXPECT_EQ(b, std::vector<uint8_t>(8, 0xAA)) << type;
        EXPECT_FALSE(written);
    }
}

TEST(ASIOConvertInput, Int16IsScaledBy65536)
{
    const auto s = FromDriver({0x34, 0x12, 0xFF, 0xFF, 0x00, 0x80}, 3, kASIOInt16LSB);
    EXPECT_EQ(s, (std::vector<int32_t>{0x12340000, -65536, INT32_MIN}));
}

TEST(ASIOConvertInput, Int24FillsTheUpperThreeBytes)
{
    const auto s = FromDriver({0x56, 0x34, 0x12, 0xFF, 0xFF, 0xFF}, 2, kASIOInt24LSB);
    EXPECT_EQ(s, (std::vector<int32_t>{0x12345600, -256}));
}

TEST(ASIOConvertInput, Int32TypesAreCopied)
{
    for (int32_t type : {kASIOInt32LSB, kASIOInt32LSB16, kASIOInt32LSB18, kASIOInt32LSB20, kASIOInt32LSB24}) {
        const auto s = FromDriver({0x78, 0x56, 0x34, 0x12, 0xFE, 0xFF, 0xFF, 0xFF}, 2, type);
        EXPECT_EQ(s, (std::vector<int32_t>{0x12345678, -2})) << type;
    }
}

TEST(ASIOConvertInput, Float32IsRoundedToTheNearestInteger)
{
    // 2.6 / 2^31 and -2.4 / 2^31 land on 3 and -2.
    const auto s = FromDriver(Bytes<float>({0.5f, -1.0f, 0.25f, 2.6f / 2147483648.0f, -2.4f / 2147483648.0f}), 5,
                              kASIOFloat32LSB);
    EXPECT_EQ(s, (std::vector<int32_t>{1073741824, INT32_MIN, 536870912, 3, -2}));
}

TEST(ASIOConvertInput, Float64IsRoundedToTheNearestInteger)
{
    const auto s = FromDriver(Bytes<double>({0.5, -0.75, 2.6 / 2147483648.0, -1.0}), 4, kASIOFloat64LSB);
    EXPECT_EQ(s, (std::vector<int32_t>{1073741824, -1610612736, 3, INT32_MIN}));
}

TEST(ASIOConvertInput, FullScaleAndBeyondSaturateInsteadOfOverflowing)
{
    const auto f = FromDriver(Bytes<float>({1.0f, 4.0f, -4.0f}), 3, kASIOFloat32LSB);
    EXPECT_EQ(f, (std::vector<int32_t>{INT32_MAX, INT32_MAX, INT32_MIN}));
    const auto d = FromDriver(Bytes<double>({1.0, -2.0}), 2, kASIOFloat64LSB);
    EXPECT_EQ(d, (std::vector<int32_t>{INT32_MAX, INT32_MIN}));
}

TEST(ASIOConvertInput, BigEndianAndUnknownTypesGiveZeros)
{
    for (int32_t type : {0, 1, 2, 3, 4, 8, 9, 10, 11, 5, 21, 28, 100}) {
        const auto s = FromDriver(std::vector<uint8_t>(32, 0x7F), 4, type);
        EXPECT_EQ(s, std::vector<int32_t>(4, 0)) << type;
    }
}

TEST(ASIOSampleBytes, WidthsOfTheListedTypes)
{
    EXPECT_EQ(ASIOSampleBytes(kASIOInt16LSB), 2);
    EXPECT_EQ(ASIOSampleBytes(kASIOInt24LSB), 3);
    EXPECT_EQ(ASIOSampleBytes(kASIOInt32LSB), 4);
    EXPECT_EQ(ASIOSampleBytes(kASIOFloat32LSB), 4);
    EXPECT_EQ(ASIOSampleBytes(kASIOFloat64LSB), 8);
    EXPECT_EQ(ASIOSampleBytes(kASIOInt32LSB24), 4);
    EXPECT_EQ(ASIOSampleBytes(kASIOInt24MSB), 3);
    EXPECT_EQ(ASIOSampleBytes(21), 0);
}

// Points the library search at a folder for the life of the object.
class TLibDirOverride {
public:
    explicit TLibDirOverride(const std::string& dir)
    {
        if (const char* old = std::getenv("MARLIX_AUDIO_LIBDIR"))
            Old = old;
        setenv("MARLIX_AUDIO_LIBDIR", dir.c_str(), 1);
    }
    ~TLibDirOverride() { setenv("MARLIX_AUDIO_LIBDIR", Old.c_str(), 1); }

private:
    std::string Old;
};

TEST(ASIOHost, MissingLibraryFinishesQuietlyAndReportsFailure)
{
    test::TempProgramFolder folder;
    TLibDirOverride dir(folder.Path());
    EXPECT_FALSE(asioStart("JACK", nullptr));
    double rate = 0;
    EXPECT_EQ(ASIOGetSampleRate(&rate), -1);
    EXPECT_EQ(ASIOCanSampleRate(48000), -1);
    EXPECT_EQ(ASIOSetSampleRate(48000), -1);
    asioStop();
    EXPECT_EQ(ASIOGetSampleRate(&rate), -1);
}

TEST(ASIOHost, UnknownDriverFailsInitialisationAndSwitchesChannelsOff)
{
    EnableChannels(true);
    EXPECT_FALSE(asioStart("No such driver", nullptr));
    EXPECT_EQ(ASIOCanSampleRate(48000), -1);
    EXPECT_FALSE(OutputEnabled(0));
    EXPECT_FALSE(InputEnabled(63));
    // The driver list is still read from the library: "JACK", then any ALSA cards.
    EXPECT_GE(ASIODriverCount(), 1);
    EXPECT_EQ(ASIODriverName(0), "JACK");
    for (int i = 1; i < ASIODriverCount(); ++i)
        EXPECT_EQ(ASIODriverName(i).rfind("ALSA: ", 0), 0u) << ASIODriverName(i);
    EXPECT_EQ(ASIOOutputName(0), "");
    asioStop();
    EnableChannels(true);
    EXPECT_TRUE(OutputEnabled(0));
}

// A library that never returns from streaming: the stop gives up by its deadline, says
// so, and a new start is not held up by the host left behind.
TEST(ASIOHost, StopLeavesALibraryThatNeverReturnsBehind)
{
    {
        TLibDirOverride dir(MARLIX_STUCK_HOST_DIR);
        ASSERT_TRUE(asioStart("stuck", [](int, int, int32_t* const*, int, int32_t* const*) {}));
        ASIOSetStopTimeout(std::chrono::milliseconds(100));
        testing::internal::CaptureStderr();
        asioStop();
        const std::string errors = testing::internal::GetCapturedStderr();
        ASIOSetStopTimeout(std::chrono::seconds(5));
        EXPECT_NE(errors.find("audio host library did not stop within 100 ms"), std::string::npos) << errors;
    }
    EXPECT_FALSE(asioStart("No such driver", nullptr));
    asioStop();
    // Let the stand-in return, so the thread left behind ends with the test.
    void* stuck = dlopen(MARLIX_STUCK_HOST_DIR "asiohost.so", RTLD_NOW | RTLD_NOLOAD);
    ASSERT_NE(stuck, nullptr);
    reinterpret_cast<void (*)()>(dlsym(stuck, "StuckHostRelease"))();
    dlclose(stuck);
    // The thread left behind unloads the stand-in on its way out; the process must not
    // begin its exit while that thread still runs.
    for (int i = 0; i < 500; ++i) {
        void* still = dlopen(MARLIX_STUCK_HOST_DIR "asiohost.so", RTLD_NOW | RTLD_NOLOAD);
        if (!still)
            break;
        dlclose(still);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
}

std::atomic<int> gFirstCalls{0}, gNextCalls{0}, gStrayCalls{0};

// A host left behind that returns later: neither its last callback nor its library's
// release reaches the host started meanwhile, which streams on in a library of its own.
TEST(ASIOHost, AHostLeftBehindNeverReachesTheNextOne)
{
    test::TempDir dir;
    std::filesystem::copy_file(MARLIX_STUCK_HOST_DIR "asiohost.so", dir.File("asiohost.so"));
    TLibDirOverride libDir(dir.Path());
    ASSERT_TRUE(asioStart("stuck", [](int, int, int32_t* const*, int, int32_t* const*) { ++gFirstCalls; }));
    ASIOSetStopTimeout(std::chrono::milliseconds(100));
    testing::internal::CaptureStderr();
    asioStop();
    testing::internal::GetCapturedStderr();
    ASIOSetStopTimeout(std::chrono::seconds(5));
    const int firstCalls = gFirstCalls.load();
    ASSERT_TRUE(asioStart("steady", [](int frames, int, int32_t* const*, int, int32_t* const*) {
        ++(frames == 64 ? gNextCalls : gStrayCalls);
    }));
    const auto waitFor = [](const std::function<bool()>& done) {
        return WaitUntilDone(done, std::chrono::seconds(20));
    };
    ASSERT_TRUE(waitFor([] { return gNextCalls.load() >= 10; }));

    void* stuck = dlopen(dir.File("asiohost.so").c_str(), RTLD_NOW | RTLD_NOLOAD);
    ASSERT_NE(stuck, nullptr);
    const auto destroyed = reinterpret_cast<int32_t (*)()>(dlsym(stuck, "StuckHostDestroyCount"));
    reinterpret_cast<void (*)()>(dlsym(stuck, "StuckHostRelease"))();
    EXPECT_TRUE(waitFor([&] { return destroyed() >= 1; })) << "the host left behind never returned";
    const int calls = gNextCalls.load();
    EXPECT_TRUE(waitFor([&] { return gNextCalls.load() >= calls + 20; })) << "the running host stopped";
    EXPECT_FALSE(asioDeviceLost());
    EXPECT_EQ(gStrayCalls.load(), 0);
    EXPECT_EQ(gFirstCalls.load(), firstCalls);
    dlclose(stuck);
    asioStop();
}

} // namespace
} // namespace marlix
